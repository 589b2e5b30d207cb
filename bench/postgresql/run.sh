#!/usr/bin/env bash
# make bench-postgresql: the per-row cost of the extension's functions in a
# throwaway cluster, one session, no parallel workers, no JIT, over a table of
# a million short names (2 to 4 Portuguese words, with and without accents).
# Each query's time is the least of ROUNDS runs, the queries taken in turn;
# a function's cost per row is its query's time less the bare scan's, and the
# ratios compare those costs within this one run.
#   BENCH_ROUNDS (default 5)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/tests/bindings/postgresql/cluster.sh"
ROUNDS=${BENCH_ROUNDS:-5}

pg_cluster_start bench 55432
echo "bench-postgresql: load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

"$PSQL" -X -q -v ON_ERROR_STOP=1 -v rounds="$ROUNDS" <<'SQL'
CREATE EXTENSION palavox;
CREATE EXTENSION unaccent;
SET max_parallel_workers_per_gather = 0;
SET jit = off;
SET client_min_messages = warning;

CREATE TABLE names AS
SELECT i, w.f[(1 + (i * 7919) % 24)::int] || ' ' || w.l[(1 + (i * 104729) % 24)::int]
          || CASE WHEN i % 3 <> 0 THEN ' ' || w.c[(1 + i % 4)::int] || w.l[(1 + (i * 15485863) % 24)::int] ELSE '' END
          || CASE WHEN i % 4 = 0 THEN ' ' || w.l[(1 + (i * 32452843) % 24)::int] ELSE '' END AS n
FROM generate_series(1::bigint, 1000000) AS i,
     (SELECT ARRAY['João', 'José', 'Maria', 'Ana', 'Antônio', 'Francisco', 'Carlos', 'Paulo',
                   'Pedro', 'Lucas', 'Luís', 'Márcia', 'Fábio', 'Cláudia', 'Sérgio', 'Raimundo',
                   'Luíza', 'Tânia', 'Mário', 'Júlia', 'Beatriz', 'Rafael', 'Gabriel', 'Inês'] AS f,
             ARRAY['Silva', 'Santos', 'Oliveira', 'Souza', 'Rodrigues', 'Ferreira', 'Alves',
                   'Pereira', 'Lima', 'Gomes', 'Conceição', 'Araújo', 'Ribeiro', 'Simões',
                   'Magalhães', 'Fonseca', 'Brandão', 'Estêvão', 'Guimarães', 'Assunção',
                   'Costa', 'Martins', 'Carvalho', 'Gonçalves'] AS l,
             ARRAY['', 'da ', 'de ', 'dos '] AS c) AS w;
VACUUM ANALYZE names;

CREATE TEMP TABLE queries(name text PRIMARY KEY, q text);
INSERT INTO queries VALUES
  ('bare scan',           'SELECT sum(length(n)) FROM names'),
  ('lower',               'SELECT sum(length(lower(n))) FROM names'),
  ('copy',                $q$SELECT sum(length(n || '')) FROM names$q$),
  ('unaccent',            'SELECT sum(length(unaccent(n))) FROM names'),
  ('remover_acentuacao',  'SELECT sum(length(remover_acentuacao(n))) FROM names'),
  ('count idiom',         $q$SELECT sum((length(n) - length(replace(lower(n), lower('são'), ''))) / length('são')) FROM names$q$),
  ('find_string',         $q$SELECT sum(find_string(n, 'são')) FROM names$q$),
  ('trata_html',          'SELECT sum(length(trata_html(n))) FROM names');

CREATE FUNCTION pg_temp.timed(q text) RETURNS float8 LANGUAGE plpgsql AS $$
DECLARE t0 timestamptz; r text;
BEGIN
  t0 := clock_timestamp();
  EXECUTE q INTO r;
  RETURN extract(epoch FROM clock_timestamp() - t0);
END $$;

-- The idiom and find_string must agree, or the comparison means nothing.
DO $$ BEGIN
  IF (SELECT count(*) FROM names
      WHERE find_string(n, 'são') <> (length(n) - length(replace(lower(n), lower('são'), ''))) / length('são')) > 0
  THEN RAISE EXCEPTION 'find_string and the idiom disagree'; END IF;
END $$;

CREATE TEMP TABLE times(name text, s float8);
SELECT count(pg_temp.timed(q)) AS warmed FROM queries \gset
SELECT format('INSERT INTO times SELECT name, pg_temp.timed(q) FROM queries, generate_series(1, %s) ORDER BY 1', :rounds) AS fill \gset
:fill;

CREATE TEMP VIEW best AS SELECT name, min(s) AS s, max(s) AS worst FROM times GROUP BY name;
\pset footer off
\echo
\echo 'Least and greatest time of each query over the rounds, and its cost per row beyond the bare scan:'
SELECT b.name AS query, round(b.s::numeric, 3) AS "least s", round(b.worst::numeric, 3) AS "greatest s",
       round(((b.s - bare.s) * 1e9 / 1e6)::numeric, 0) AS "ns/row beyond scan"
FROM best b, best bare WHERE bare.name = 'bare scan' ORDER BY b.s;

\echo 'Ratios (per-row cost beyond the bare scan); goals: <= 0.25, <= 0.33, < 1:'
SELECT round(((r.s - z.s) / (u.s - z.s))::numeric, 2) AS "remover_acentuacao / unaccent",
       round(((r.s - z.s) / (l.s - z.s))::numeric, 2) AS "remover_acentuacao / lower",
       round(((f.s - z.s) / (i.s - z.s))::numeric, 2) AS "find_string / count idiom"
FROM best z, best u, best l, best r, best f, best i
WHERE z.name = 'bare scan' AND u.name = 'unaccent' AND l.name = 'lower'
  AND r.name = 'remover_acentuacao' AND f.name = 'find_string' AND i.name = 'count idiom';

-- What any function returning a new text costs a row here, whatever it does:
-- n || '' copies the text into a new one.
\echo 'The floor: a row''s cost beyond the bare scan of copying its text into a new one (n || ''''), and the functions'' cost beyond that:'
SELECT round(((c.s - z.s) * 1e9 / 1e6)::numeric, 0) AS "copy ns/row",
       round(((r.s - c.s) * 1e9 / 1e6)::numeric, 0) AS "remover_acentuacao beyond it",
       round(((u.s - c.s) * 1e9 / 1e6)::numeric, 0) AS "unaccent beyond it",
       round(((l.s - c.s) * 1e9 / 1e6)::numeric, 0) AS "lower beyond it"
FROM best z, best c, best r, best u, best l
WHERE z.name = 'bare scan' AND c.name = 'copy' AND r.name = 'remover_acentuacao'
  AND u.name = 'unaccent' AND l.name = 'lower';
SQL
