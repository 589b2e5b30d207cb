"""palavox.spark on a real local Spark session of two cores, on loopback only,
started once for every check here and stopped whatever happens (nothing of it
may be left running or listening): the shared cases with a UTF-8 form through
the DataFrame API and through SQL, every argument a column (a NULL row after
each case), then literals, left out and NULL for each method's largest group;
a failing row failing the job with Palavox's number and the text; the NULL
rules; and a partitioned Parquet register of 240,000 rows worked through both
and through with_columns' one pass, joined on id (Spark keeps no order) with
what one process gives working alone.
Deadlines are fail-safes only."""

import os
import sys
import tempfile

import psutil
import pyarrow
import pyarrow.dataset
import pyarrow.parquet
import pytest
from pyspark import SparkContext
from pyspark.errors import PythonException
from pyspark.sql import SparkSession
from pyspark.sql import functions as F

import palavox
import palavox.spark as pvx
from palavox import batch

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from shared_cases import utf8_cases  # noqa: E402
from test_dask_cluster import DEADLINE, listening, register, wait_for  # noqa: E402  (the same names and comments)

CASES, ALL = utf8_cases()
NAMES = {"TrataHTML": "trata_html", "FindString": "find_string", "RemoverAcentuacao": "remover_acentuacao"}
ROWS, LOTES = 240_000, 8


@pytest.fixture(scope="session")
def scratch():
    with tempfile.TemporaryDirectory(dir=os.getcwd()) as folder:
        yield folder


@pytest.fixture(scope="session")
def spark(scratch):
    # Workers run this interpreter, which has the wheel; every socket binds to loopback.
    os.environ.update(SPARK_LOCAL_IP="127.0.0.1", PYSPARK_PYTHON=sys.executable,
                      PYSPARK_DRIVER_PYTHON=sys.executable)
    session, started = None, []
    try:
        session = (SparkSession.builder.master("local[2]").appName("palavox-test")
                   .config("spark.driver.host", "127.0.0.1")
                   .config("spark.driver.bindAddress", "127.0.0.1")
                   .config("spark.ui.enabled", "false")
                   .config("spark.local.dir", os.path.join(scratch, "local"))
                   .config("spark.sql.warehouse.dir", os.path.join(scratch, "warehouse"))
                   .config("spark.sql.shuffle.partitions", "4")
                   .config("spark.network.timeout", f"{DEADLINE}s")
                   .config("spark.ui.showConsoleProgress", "false")
                   .getOrCreate())
        session.sparkContext.setLogLevel("ERROR")
        pvx.register(session)
        yield session
        started = spark_pids(session)  # the JVM and the Python workers it started
    finally:
        if session is not None:
            session.stop()
        gateway = SparkContext._gateway
        if gateway is not None:
            gateway.shutdown()
            gateway.proc.stdin.close()  # the JVM ends when its stdin does
            try:
                gateway.proc.wait(timeout=DEADLINE)
            except Exception:
                gateway.proc.kill()
                raise
            SparkContext._gateway = SparkContext._jvm = None
    for pid in started:
        assert wait_for(lambda: gone(pid)), f"{pid} of the Spark session still runs"


def gone(pid):
    try:
        return psutil.Process(pid).status() == psutil.STATUS_ZOMBIE
    except psutil.NoSuchProcess:
        return True


def spark_pids(spark):
    jvm = psutil.Process(spark.sparkContext._gateway.proc.pid)
    return [jvm.pid] + [c.pid for c in jvm.children(recursive=True)]


def test_the_session_listens_on_loopback_only_and_its_workers_import_the_wheel(spark):
    opened = listening(spark_pids(spark))
    assert opened and {ip for ip, _ in opened} == {"127.0.0.1"}, opened
    where = F.udf(lambda _: __import__("palavox").__file__, "string")
    files = {r[0] for r in spark.range(4).repartition(2).select(where("id")).collect()}
    assert files == {palavox.__file__}


def as_text(value):
    return str(value) if isinstance(value, int) else value


def frame(spark, columns):
    """A DataFrame of string columns and an id, from lists."""
    n = len(next(iter(columns.values())))
    table = pyarrow.table({"id": range(n), **{k: pyarrow.array(v, pyarrow.string()) for k, v in columns.items()}})
    return spark.createDataFrame(table)


def results(df):
    return [as_text(v) for _, v in sorted((r[0], r[1]) for r in df.collect())]


@pytest.mark.parametrize("method", list(NAMES))
def test_the_shared_cases_through_the_dataframe_api_and_sql(spark, method):
    name, call = NAMES[method], getattr(pvx, NAMES[method])
    rows = [(n, args, e) for n, m, args, e in CASES if m == method and not e.startswith("error")]
    arity = len(rows[0][1])
    # Every argument a column, a row of NULL texts after each case.
    columns = {f"a{k}": [x for _, args, _ in rows for x in (args[k], None if k == 0 else args[k])]
               for k in range(arity)}
    df = frame(spark, columns)
    df.createOrReplaceTempView("casos")
    wanted = [x for _, _, e in rows for x in (e, None)]
    got = {"api": results(df.select("id", call(*[F.col(c) for c in columns]))),
           "sql": results(spark.sql(f"SELECT id, {name}({', '.join(columns)}) FROM casos"))}

    # The largest group that shares its other arguments: those as literals, and
    # when the optional one is empty, left out and NULL too.
    groups = {}
    for n, args, e in rows:
        groups.setdefault(tuple(args[1:]), []).append((n, args[0], e))
    fixed, group = max(groups.items(), key=lambda kv: len(kv[1]))
    texts = frame(spark, {"t": [t for _, t, _ in group]})
    texts.createOrReplaceTempView("grupo")
    calls = {"literals": (list(fixed), [F.lit(v) for v in fixed])}
    if fixed and fixed[-1] == "":
        calls["left out"] = (list(fixed[:-1]), [F.lit(v) for v in fixed[:-1]])
        calls["NULL"] = (list(fixed[:-1]) + [None], [F.lit(v) for v in fixed[:-1]] + [F.lit(None)])
    bad = [f"{how} line {n}: got {g!r}, expected {e!r}" for how, g_all in got.items()
           for (n, _, e), g in zip(rows, g_all[::2]) if g != e]
    bad += [f"{how}: NULL texts not NULL" for how, g_all in got.items() if g_all[1::2] != [None] * len(rows)]
    for how, (sql_args, api_args) in calls.items():
        marks = "".join(", " + ("NULL" if v is None else "'" + v.replace("'", "''") + "'") for v in sql_args)
        for side, df_got in (("api", texts.select("id", call("t", *api_args))),
                             ("sql", spark.sql(f"SELECT id, {name}(t{marks}) FROM grupo"))):
            bad += [f"{side} {how} {tuple(sql_args)} line {n}: got {g!r}, expected {e!r}"
                    for (n, _, e), g in zip(group, results(df_got)) if g != e]
    assert len(got["api"]) == len(wanted) and bad[:10] == [], f"{len(bad)} mismatches"


def test_a_failing_row_fails_the_job_with_palavox_number_and_the_text(spark):
    failing = [(n, m, args) for n, m, args, e in CASES if e == "error 13"]
    n, method, args = failing[0]
    df = frame(spark, {"t": ["a Silva"] * 500 + [args[0]] + ["b"] * 500})
    df.createOrReplaceTempView("falha")
    literals = ", ".join("'" + a.replace("'", "''") + "'" for a in args[1:])
    for how, job in (("api", lambda: df.select(getattr(pvx, NAMES[method])("t", *args[1:])).collect()),
                     ("sql", lambda: spark.sql(f"SELECT {NAMES[method]}(t, {literals}) FROM falha").collect())):
        with pytest.raises(PythonException) as caught:
            job()
        assert f"Palavox error 13: Type mismatch, on {args[0]!r}" in str(caught.value), (how, n)


def test_null_in_a_required_argument_gives_null(spark):
    table = [("remover_acentuacao(NULL)", pvx.remover_acentuacao(F.lit(None)), None),
             ("trata_html(NULL, '_blank')", pvx.trata_html(F.lit(None), "_blank"), None),
             ("trata_html('x http://a', NULL)", pvx.trata_html(F.lit("x http://a"), F.lit(None)),
              'x <a href="http://a" target="_self">http://a</a>'),
             ("find_string(NULL, 'a')", pvx.find_string(F.lit(None), "a"), None),
             ("find_string('aA', NULL)", pvx.find_string(F.lit("aA"), F.lit(None)), None),
             ("find_string('aA', NULL, 'B')", pvx.find_string(F.lit("aA"), F.lit(None), "B"), None),
             ("find_string('aA', 'a', NULL)", pvx.find_string(F.lit("aA"), "a", F.lit(None)), 2),
             ("find_string('', NULL)", pvx.find_string(F.lit(""), F.lit(None)), None),
             ("find_string('aA', 'a', 'b')", pvx.find_string(F.lit("aA"), "a", "b"), 1)]
    sql = spark.sql("SELECT " + ", ".join(s for s, _, _ in table)).collect()[0]
    api = spark.range(1).select(*[c for _, c, _ in table]).collect()[0]
    wanted = [e for _, _, e in table]
    assert list(sql) == wanted and list(api) == wanted


def test_a_partitioned_parquet_register_gives_what_one_process_gives(spark, scratch):
    frame_ = register(ROWS)
    table = pyarrow.Table.from_pandas(frame_, preserve_index=False)
    table = table.append_column("id", pyarrow.array(range(ROWS), pyarrow.int64()))
    table = table.append_column("lote", pyarrow.array([i % LOTES for i in range(ROWS)], pyarrow.int32()))
    dados = os.path.join(scratch, "clientes")
    pyarrow.dataset.write_dataset(table, dados, format="parquet", partitioning=["lote"],
                                  partitioning_flavor="hive", max_rows_per_group=10_000)

    # One process alone: the dataset read back here, each call working a whole column.
    alone = pyarrow.dataset.dataset(dados, format="parquet", partitioning="hive").to_table()
    wanted = pyarrow.table({
        "id": alone["id"],
        "nome": batch.remover_acentuacao(alone["nome"]),
        "html": batch.trata_html(alone["comentario"], "_blank"),
        "proprio": batch.trata_html(alone["comentario"]),
        "links": batch.find_string(alone["comentario"], "http"),
        "silvas": batch.find_string(alone["comentario"], "SILVA", "B")})
    pyarrow.parquet.write_table(wanted, os.path.join(scratch, "sozinho.parquet"))
    expected = spark.read.parquet(os.path.join(scratch, "sozinho.parquet"))

    df = spark.read.parquet(dados)
    assert df.rdd.getNumPartitions() >= 2 and df.count() == ROWS
    df.createOrReplaceTempView("clientes")
    api = df.select("id", pvx.remover_acentuacao("nome").alias("nome"),
                    pvx.trata_html("comentario", "_blank").alias("html"),
                    pvx.trata_html("comentario").alias("proprio"),
                    pvx.find_string("comentario", "http").alias("links"),
                    pvx.find_string(F.col("comentario"), F.lit("SILVA"), F.lit("B")).alias("silvas"))
    sql = spark.sql("SELECT id, remover_acentuacao(nome) AS nome, trata_html(comentario, '_blank') AS html, "
                    "trata_html(comentario) AS proprio, find_string(comentario, 'http') AS links, "
                    "find_string(comentario, 'SILVA', 'B') AS silvas FROM clientes")
    # The whole frame in one mapInArrow pass: the names replaced in place, the rest added.
    whole = pvx.with_columns(df, nome=("remover_acentuacao", "nome"), html=("trata_html", "comentario", "_blank"),
                             proprio=("trata_html", "comentario"), links=("find_string", "comentario", "http"),
                             silvas=("find_string", "comentario", "SILVA", "B"))
    assert whole.columns == ["nome", "comentario", "id", "lote", "html", "proprio", "links", "silvas"]
    whole = whole.select("id", *wanted.column_names[1:])
    columns = [c for c in wanted.column_names if c != "id"]
    for how, got in (("api", api), ("sql", sql), ("with_columns", whole)):
        assert [(f.name, f.dataType.simpleString()) for f in got.schema.fields] == \
            [("id", "bigint"), ("nome", "string"), ("html", "string"), ("proprio", "string"),
             ("links", "int"), ("silvas", "int")], how
        joined = got.alias("g").join(expected.alias("e"), "id", "full_outer")
        differs = F.lit(False)
        for c in columns:
            differs = differs | ~F.col(f"g.{c}").eqNullSafe(F.col(f"e.{c}"))
        found = joined.where(differs).limit(5).collect()
        assert found == [], (how, [r.asDict() for r in found])
        assert joined.count() == ROWS, how
    assert wanted["html"].to_pylist().count(None) > 0 and \
        sum(1 for v in wanted["html"].to_pylist() if v and "<a href=" in v) > ROWS // 2
