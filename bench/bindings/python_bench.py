"""make bench-bindings (Python): palavox beside the strongest plain-Python way
of doing the same, in one run, on 100,000 short names and on 1 MiB.

Each figure is the least of several rounds; ratios are peer time / palavox time
from this run. The peers are checked to give palavox's answers first. The
goals are judged on the mixed names (accented, plain and ASCII-only ones, as a
register holds them); the ASCII-only and accented rows show how the mix splits.
    python_bench.py [rounds]
"""

import functools
import operator
import os
import random
import re
import sys
import time

import palavox

ROUNDS = 7
CALLS = 100_000

# Names as a register of people holds them: two to four words.
ACCENTED = ["João", "José", "Antônio", "Conceição", "Araújo", "Gonçalves", "Luís", "Mário",
            "Sérgio", "Lúcia", "Inês", "Estêvão", "Simões", "Magalhães", "Brandão", "Falcão",
            "Débora", "Cecília", "Vitória", "Patrícia", "Márcia", "Flávio", "Fábio", "Júlia",
            "Letícia", "Mônica", "Ângela", "Glória", "Assunção", "Guimarães", "Lourenço", "Jéssica"]
PLAIN = ["Maria", "Silva", "Santos", "Pedro", "Carlos", "Souza", "Oliveira", "Ferreira", "Costa",
         "Rodrigues", "Almeida", "Pereira", "Lima", "Gomes", "Ribeiro", "Martins", "Carvalho",
         "Rocha", "Barbosa", "Cardoso", "Castro", "Pinto", "Moreira", "Mendes", "Nunes", "Ana",
         "Paulo", "Rafael", "Bruno", "Teixeira", "Vieira", "Machado", "da", "de", "dos"]


def names(pick, words, need_accent=False, count=CALLS):
    out = []
    while len(out) < count:
        name = " ".join(pick.choice(words) for _ in range(pick.randint(2, 4)))
        if not need_accent or not name.isascii():
            out.append(name)
    return out


def mib_of_prose(pick):
    words = ACCENTED + PLAIN + ["ação", "(SP)", "R$", "e-mail:", "http://exemplo.com.br/a?b=1",
                                "HTTPS://www.palavox.org/página", "|", "25%", "&"]
    parts, size = [], 0
    while size < 1 << 20:
        word = pick.choice(words)
        parts.append(word)
        size += len(word) + 1
    return " ".join(parts)[: 1 << 20]


def side_by_side(ours, theirs):
    """The least time of each over rounds that alternate between them, so that
    a change of load on a shared machine falls on both."""
    best = [None, None]
    for _ in range(ROUNDS):
        for i, run in enumerate((ours, theirs)):
            start = time.perf_counter_ns()
            run()
            elapsed = time.perf_counter_ns() - start
            best[i] = elapsed if best[i] is None else min(best[i], elapsed)
    return best


def per_call(f, g, texts):
    def loop(h):
        def run():
            for s in texts:
                h(s)
        return run
    return [t / len(texts) for t in side_by_side(loop(f), loop(g))]


def once(f, g, text):
    return side_by_side(lambda: f(text), lambda: g(text))


def main():
    pick = random.Random(15)
    sets = [("mixed", names(pick, ACCENTED + PLAIN)), ("ASCII-only", names(pick, PLAIN)),
            ("accented", names(pick, ACCENTED + PLAIN, need_accent=True))]
    prose = mib_of_prose(pick)

    # str.translate folding as the core does: its table, read from the core itself.
    folds = {c: palavox.remover_acentuacao(chr(c)) for c in range(0x10000)}
    table = str.maketrans({c: r for c, r in folds.items() if r != chr(c)})
    link = re.compile(r"[Hh][Tt][Tt][Pp][^\r |]*")
    anchor = r'<a href="\g<0>" target="_self">\g<0></a>'
    search = "silva"
    # The peers called as directly as palavox is, with no Python frame of their own.
    translate = operator.methodcaller("translate", table)
    mark_up = functools.partial(link.sub, anchor)

    rows = []  # what, peer, palavox ns, peer ns, goal ratio, goal ns
    for label, texts in sets:
        goal = label == "mixed"
        for s in texts[:2000] + [prose]:
            assert palavox.remover_acentuacao(s) == s.translate(table), s
            assert palavox.find_string(s, search) == s.lower().count(search), s
        rows.append((f"remover_acentuacao, {label} names", "str.translate",
                     *per_call(palavox.remover_acentuacao, translate, texts),
                     3.0 if goal else None, 300 if goal else None))
        rows.append((f"find_string, {label} names", "lower().count",
                     *per_call(lambda s: palavox.find_string(s, search),
                               lambda s: s.lower().count(search), texts),
                     2.0 if goal else None, 350 if goal else None))
        rows.append((f"trata_html, {label} names", "re.sub",
                     *per_call(palavox.trata_html, mark_up, texts),
                     None, None))
    # What any call costs in this loop: the runtime's floor.
    rows.append(("len(), mixed names", "", per_call(len, len, sets[0][1])[0], 0, None, None))
    assert palavox.trata_html(prose) == link.sub(anchor, prose)
    rows.append(("remover_acentuacao, 1 MiB", "str.translate",
                 *once(palavox.remover_acentuacao, lambda s: s.translate(table), prose), 3.0, None))
    rows.append(("find_string, 1 MiB", "lower().count",
                 *once(lambda s: palavox.find_string(s, search), lambda s: s.lower().count(search),
                       prose), 3.0, None))
    rows.append(("trata_html, 1 MiB", "re.sub",
                 *once(palavox.trata_html, lambda s: link.sub(anchor, s), prose), 3.0, None))

    print(f"Python {sys.version.split()[0]}, palavox {palavox.__version__}, "
          f"{ROUNDS} rounds, load {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"{'measure':36} {'palavox':>10} {'peer':>14} {'':>10} {'ratio':>7}  goal")
    missed = 0
    for what, peer, ours, theirs, ratio_goal, ns_goal in rows:
        unit = "ns" if "names" in what else "us"
        scale = 1 if unit == "ns" else 1000
        goals = []
        if ratio_goal is not None:
            goals.append((f">={ratio_goal:.1f}x", theirs / ours >= ratio_goal))
        if ns_goal is not None:
            goals.append((f"<={ns_goal} ns", ours <= ns_goal))
        missed += sum(1 for _, met in goals if not met)
        verdict = ", ".join(f"{g} {'met' if met else 'NOT MET'}" for g, met in goals)
        if not theirs:
            print(f"{what:36} {ours / scale:7.0f} {unit}")
            continue
        print(f"{what:36} {ours / scale:7.0f} {unit} {peer:>14} {theirs / scale:7.0f} {unit} "
              f"{theirs / ours:6.2f}x  {verdict}")
    print(f"python goals: {missed} not met")
    return 1 if missed else 0


if __name__ == "__main__":
    ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else ROUNDS
    sys.exit(main())
