"""The batch calls on the workers of a real Dask cluster: two worker processes
on loopback read a partitioned register the test writes, apply the three calls
through map_partitions, and must give, row for row, what one process working
alone gives. The cluster is closed whatever happens, and nothing it opened may
be left listening or running. Deadlines are fail-safes only."""

import glob
import os
import random
import tempfile
import time

import dask
import dask.dataframe as dd
import numpy
import pandas
import psutil
from distributed import Client, LocalCluster

import palavox
from palavox import batch

ROWS = 240_000
PARTITIONS = 8
# Generous, for a loaded machine: a deadline here only stops a hung run.
DEADLINE = 600

WORDS = ["João", "Conceição", "Araújo", "Gonçalves", "Magalhães", "Ângela", "Maria", "Silva",
         "Santos", "da", "ação", "(SP)", "R$", "&", "e-mail:", "25%", "|", "¿Qué?", "naïve"]
LINKS = ["http://exemplo.com.br/a?b=1", "HTTPS://www.palavox.org/página", "hTtP://x|y",
         "https://a.b/ç?d=é&f=1", "http://http://dobro"]


def register(rows, seed=22):
    """Names, and comments holding links; a few of each missing."""
    pick = random.Random(seed)

    def text(words, low, high):
        return None if pick.random() < 0.01 else " ".join(
            pick.choice(words) for _ in range(pick.randint(low, high)))

    return pandas.DataFrame({"nome": [text(WORDS, 2, 4) for _ in range(rows)],
                             "comentario": [text(WORDS + LINKS, 4, 24) for _ in range(rows)]})


def worked(frame):
    """The recipe of docs/python.md: the three batch calls on each partition's columns."""
    return frame.assign(
        nome=frame["nome"].map_partitions(batch.remover_acentuacao, meta=("nome", object)),
        html=frame["comentario"].map_partitions(batch.trata_html, "_blank", meta=("html", object)),
        links=frame["comentario"].map_partitions(batch.find_string, "http", meta=("links", "Int64")))


def listening(pids):
    return {(c.laddr.ip, c.laddr.port) for pid in pids
            for c in psutil.Process(pid).connections(kind="inet") if c.status == psutil.CONN_LISTEN}


def test_a_dask_cluster_gives_what_one_process_gives():
    with tempfile.TemporaryDirectory(dir=os.getcwd()) as scratch:
        for k, part in enumerate(numpy.array_split(register(ROWS), PARTITIONS)):
            part.to_csv(os.path.join(scratch, f"part-{k}.csv"), index=False)
        files = os.path.join(scratch, "part-*.csv")

        # One process alone: pandas reads the partitions and each call works a whole column.
        frame = pandas.concat(pandas.read_csv(path, dtype=str) for path in sorted(glob.glob(files)))
        alone = frame.assign(nome=batch.remover_acentuacao(frame["nome"]),
                             html=batch.trata_html(frame["comentario"], "_blank"),
                             links=batch.find_string(frame["comentario"], "http"))

        timeouts = {"distributed.comm.timeouts.connect": f"{DEADLINE}s",
                    "distributed.comm.timeouts.tcp": f"{DEADLINE}s"}
        with dask.config.set(timeouts), LocalCluster(
                n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                dashboard_address=None, worker_dashboard_address="127.0.0.1:0",
                scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                local_directory=os.path.join(scratch, "workers")) as cluster, \
                Client(cluster, timeout=DEADLINE) as client:
            client.wait_for_workers(2, timeout=DEADLINE)
            workers = client.run(os.getpid)
            # The wheel this venv installed, imported by the workers themselves.
            assert set(client.run(lambda: palavox.__file__).values()) == {palavox.__file__}
            pids = [os.getpid(), *workers.values()]
            opened = listening(pids)
            assert opened and {ip for ip, _ in opened} == {"127.0.0.1"}, opened

            # The workers read the partitions: the client holds only file names.
            got = client.compute(worked(dd.read_csv(files, dtype=str, blocksize=None)))
            got = got.result(timeout=DEADLINE)

    assert len(got) == ROWS and got["html"].str.contains("<a href=").sum() > ROWS // 2
    pandas.testing.assert_frame_equal(got, alone)
    # Closed: the worker processes end and nothing of the cluster still listens.
    for pid in workers.values():
        assert wait_for(lambda: not psutil.pid_exists(pid)), f"worker {pid} still runs"
    assert not listening([os.getpid()]) & opened


def wait_for(state):
    """Waits for the state; the deadline only keeps a failing run from hanging."""
    end = time.monotonic() + DEADLINE
    while not state():
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return True
