-- The palavox extension's functions (CREATE EXTENSION palavox).
\echo Use "CREATE EXTENSION palavox" to load this file. \quit

-- IMMUTABLE and PARALLEL SAFE: the answers depend on the arguments alone, so
-- the functions serve expression indexes, generated columns and parallel plans.
CREATE FUNCTION remover_acentuacao(texto text) RETURNS text
    AS 'MODULE_PATHNAME', 'pvx_remover_acentuacao'
    LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

-- Not STRICT: a NULL tipo or target is the omitted argument, not a NULL answer.
CREATE FUNCTION find_string(entrada text, procura text, tipo text DEFAULT NULL) RETURNS integer
    AS 'MODULE_PATHNAME', 'pvx_find_string'
    LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION trata_html(entrada text, target text DEFAULT NULL) RETURNS text
    AS 'MODULE_PATHNAME', 'pvx_trata_html'
    LANGUAGE C IMMUTABLE PARALLEL SAFE;
