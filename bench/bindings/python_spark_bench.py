"""make bench-bindings (Python, Spark): palavox.spark's remover_acentuacao on
1,000,000 names (python_columns_bench.py's, the same seed) in a local Spark
session on loopback, in one run, beside:

  - Spark's built-in translate with the fold table (every character that
    Palavox folds to one other character: the nearest thing Spark does in
    the JVM, with no Python worker);
  - a plain Python UDF of the single call (a Python object per row);
  - the other Arrow ways PySpark has: udf(useArrow=True) of the single call,
    and pandas_udf of the batch call;
  - an Arrow UDF that gives its input back: the floor any Python function
    pays to get a column to the worker and back, measured to say how much of
    Palavox's time is the transfer;
  - two cores (local[2]) beside one (local[1]), each session in a process of
    its own, beside what two processes of plain Python get at the time.

The names are cached in the JVM in 8 partitions, and each run writes the
result to Spark's noop sink (every row worked, nothing collected). Each figure
is the least of several rounds alternating between the sides; ratios are the
peer's time over palavox's.
    python_spark_bench.py [rounds]
"""

import json
import os
import subprocess
import sys
import tempfile
import time

import pyarrow
import pyspark
from pyspark.sql import SparkSession
from pyspark.sql import functions as F

import palavox
import palavox.spark as pvx
import python_columns_bench as columns_bench
from palavox import batch

ROUNDS = 5
NAMES = columns_bench.NAMES
PARTITIONS = 8


def session(cores, scratch):
    os.environ.update(SPARK_LOCAL_IP="127.0.0.1", PYSPARK_PYTHON=sys.executable,
                      PYSPARK_DRIVER_PYTHON=sys.executable)
    spark = (SparkSession.builder.master(f"local[{cores}]").appName("palavox-bench")
             .config("spark.driver.host", "127.0.0.1").config("spark.driver.bindAddress", "127.0.0.1")
             .config("spark.ui.enabled", "false").config("spark.local.dir", scratch)
             .config("spark.sql.warehouse.dir", os.path.join(scratch, "warehouse"))
             .config("spark.ui.showConsoleProgress", "false")
             .config("spark.driver.memory", "2g").getOrCreate())
    spark.sparkContext.setLogLevel("ERROR")
    return spark


def fold_table():
    """(from, to) of every character below U+0250 and in General Punctuation
    that remover_acentuacao turns into one other character."""
    source, target = [], []
    for code in [*range(0x20, 0x250), *range(0x2000, 0x2070)]:
        ch = chr(code)
        folded = palavox.remover_acentuacao(ch)
        if len(folded) == 1 and folded != ch:
            source.append(ch)
            target.append(folded)
    return "".join(source), "".join(target)


def identity(nome: pyarrow.Array) -> pyarrow.Array:
    return nome


def timed(df, column):
    def run():
        df.select(column).write.format("noop").mode("overwrite").save()
    return run


def best(sides, rounds):
    """The least seconds of each side, alternating between them round by round."""
    times = {name: None for name in sides}
    for run in sides.values():  # a warm-up: the Python workers start, the plans compile
        run()
    for _ in range(rounds):
        for name, run in sides.items():
            start = time.perf_counter()
            run()
            elapsed = time.perf_counter() - start
            times[name] = elapsed if times[name] is None else min(times[name], elapsed)
    return times


def names_frame(spark, names):
    df = spark.createDataFrame(pyarrow.table({"nome": pyarrow.array(names, pyarrow.string())}))
    df = df.repartition(PARTITIONS).cache()
    assert df.count() == len(names)
    return df


def measure(cores, rounds):
    """Seconds of each side in a session of `cores` (this process holds one session)."""
    names = columns_bench.columns()["names"]
    source, target = fold_table()
    with tempfile.TemporaryDirectory(dir=os.getcwd()) as scratch:
        spark = session(cores, scratch)
        try:
            df = names_frame(spark, names)
            sides = {"palavox (arrow_udf)": timed(df, pvx.remover_acentuacao("nome")),
                     "identity arrow_udf": timed(df, F.arrow_udf(identity, "string")("nome"))}
            if cores == 1:
                return {"times": best(sides, rounds)}
            # The fold table's answer where it agrees with Palavox's, to say how near it is.
            agree = df.select(F.sum((F.translate("nome", source, target) == pvx.remover_acentuacao("nome"))
                                    .cast("int"))).collect()[0][0]
            sides.update({
                "translate, fold table": timed(df, F.translate("nome", source, target)),
                "Python UDF, single call": timed(df, F.udf(palavox.remover_acentuacao, "string",
                                                           useArrow=False)("nome")),
                "udf(useArrow=True), single": timed(df, F.udf(palavox.remover_acentuacao, "string",
                                                              useArrow=True)("nome")),
                "pandas_udf, batch call": timed(df, F.pandas_udf(batch.remover_acentuacao, "string")("nome")),
                "no function (the column)": timed(df, F.col("nome")),
            })
            return {"times": best(sides, rounds), "agree": agree / len(names), "table": len(source)}
        finally:
            spark.stop()


def child(cores, rounds):
    # A process a session: a second SparkContext in one process trips over the first's leftovers.
    run = subprocess.run([sys.executable, __file__, str(rounds), str(cores)], capture_output=True, text=True,
                         check=False, env={**os.environ, "PYTHONPATH": os.path.dirname(os.path.abspath(__file__))})
    if run.returncode != 0:
        sys.stderr.write(run.stderr[-5000:])
        raise SystemExit(f"python_spark_bench: the local[{cores}] child failed")
    return json.loads(run.stdout.strip().split("\n")[-1])


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else ROUNDS
    both = child(2, rounds)
    two, one = both["times"], child(1, rounds)["times"]
    cores_now = columns_bench.parallel_control()
    rows = NAMES
    ours = two["palavox (arrow_udf)"]
    print(f"Python {sys.version.split()[0]}, palavox {palavox.__version__}, PySpark {pyspark.__version__}, "
          f"pyarrow {pyarrow.__version__}, {rows:,} names cached in {PARTITIONS} partitions, {rounds} rounds, "
          f"load {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"what two cores give now: two processes of plain Python {cores_now:.2f}x one")
    print(f"fold table: {both['table']} characters; translate agrees with palavox on {both['agree']:.1%} of the names")
    print(f"{'local[2]':32} {'s':>7} {'ns a row':>9} {'÷ palavox':>10} | goal")
    goals = {"translate, fold table": 1.0, "Python UDF, single call": 5.0}
    missed = 0
    for name, seconds in sorted(two.items(), key=lambda kv: kv[1]):
        ratio = seconds / ours
        goal = goals.get(name)
        verdict = ""
        if goal is not None:
            met = ratio >= goal
            missed += not met
            verdict = f">={goal:.1f}x {'met' if met else 'NOT MET'}"
        print(f"{name:32} {seconds:7.2f} {seconds / rows * 1e9:9.0f} {ratio:9.2f}x | {verdict}")
    floor, bare = two["identity arrow_udf"], two["no function (the column)"]
    print(f"of palavox's {ours:.2f} s: reading and writing the column {bare / ours:.0%}, the Arrow trip to the "
          f"Python worker and back {(floor - bare) / ours:.0%}, Palavox's work {(ours - floor) / ours:.0%} "
          f"({(ours - floor) / rows * 1e9:.0f} ns a row)")
    print(f"beyond reading and writing the column: Python UDF {two['Python UDF, single call'] - bare:.2f} s, "
          f"palavox {ours - bare:.2f} s ({(two['Python UDF, single call'] - bare) / (ours - bare):.2f}x); "
          f"translate {two['translate, fold table'] - bare:.2f} s")
    scale = one["palavox (arrow_udf)"] / ours
    met = scale >= 1.5
    missed += not met
    print(f"two cores ÷ one: palavox {one['palavox (arrow_udf)']:.2f} s / {ours:.2f} s = {scale:.2f}x | "
          f">=1.5x {'met' if met else 'NOT MET'}; identity {one['identity arrow_udf'] / floor:.2f}x")
    print(f"python Spark goals: {missed} not met")
    return 1 if missed else 0


if __name__ == "__main__":
    if len(sys.argv) > 2:  # a child: one session's figures as JSON
        print(json.dumps(measure(int(sys.argv[2]), int(sys.argv[1]))))
        sys.exit(0)
    start = time.perf_counter()
    status = main()
    print(f"({time.perf_counter() - start:.0f} s)")
    sys.exit(status)
