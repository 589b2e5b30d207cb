"""The batch calls on the workers of a real Dask cluster: two worker processes
on loopback read a register the test writes as Parquet partitions (pandas 3
reads its texts as Arrow strings: the Arrow path), apply the three calls
through map_partitions, and must give, row for row, what one process working
alone gives. The cluster is closed whatever happens, and nothing it opened may
be left listening or running. Deadlines are fail-safes only."""

import os
import random
import tempfile
import time

import dask
import dask.dataframe as dd
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
    """The recipe of docs/python.md: the three batch calls on each partition's
    columns, which keep their dtype (counts int32[pyarrow])."""
    text, counts = frame["nome"].dtype, "int32[pyarrow]"
    return frame.assign(
        nome=frame["nome"].map_partitions(batch.remover_acentuacao, meta=("nome", text)),
        html=frame["comentario"].map_partitions(batch.trata_html, "_blank", meta=("html", text)),
        links=frame["comentario"].map_partitions(batch.find_string, "http", meta=("links", counts)))


def listening(pids):
    """What the processes still running listen on. A JVM's IPv6 socket gives its
    IPv4 address mapped."""
    def connections(p):  # net_connections from psutil 6 on
        return (getattr(p, "net_connections", None) or p.connections)(kind="inet")
    return {(c.laddr.ip.removeprefix("::ffff:"), c.laddr.port) for pid in pids if psutil.pid_exists(pid)
            for c in connections(psutil.Process(pid)) if c.status == psutil.CONN_LISTEN}


def test_a_dask_cluster_gives_what_one_process_gives():
    with tempfile.TemporaryDirectory(dir=os.getcwd()) as scratch:
        whole, size = register(ROWS), ROWS // PARTITIONS
        for k in range(PARTITIONS):
            whole.iloc[k * size:(k + 1) * size].to_parquet(os.path.join(scratch, f"part-{k}.parquet"),
                                                          index=False)
        files = os.path.join(scratch, "part-*.parquet")

        # One process alone: the partitions read as Dask reads them (its string[pyarrow]),
        # in this process, and each call working a whole column.
        frame = dd.read_parquet(files).compute(scheduler="sync")
        assert batch._arrow_strings(pandas, frame["nome"].dtype), frame["nome"].dtype
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
            got = client.compute(worked(dd.read_parquet(files)))
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
