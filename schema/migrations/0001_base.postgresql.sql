-- PostgreSQL part of the base schema: the functions the client's generic
-- query texts call, so they run verbatim, and the double-posting guard.

-- NVL(a, b): a unless null. anycompatible (not anyelement) so that a text
-- parameter and a VARCHAR column, or an integer and a numeric, mix as in
-- other databases.
CREATE OR REPLACE FUNCTION NVL(anycompatible, anycompatible) RETURNS anycompatible
  AS 'SELECT COALESCE($1, $2)' LANGUAGE sql IMMUTABLE;

-- INSTR(haystack, needle): 1-based position, 0 when absent.
CREATE OR REPLACE FUNCTION INSTR(text, text) RETURNS integer
  AS 'SELECT strpos($1, $2)' LANGUAGE sql IMMUTABLE STRICT;

CREATE OR REPLACE FUNCTION ITVENDA_LANCADO_UMA_VEZ() RETURNS trigger AS $$
BEGIN
  IF OLD.NRLANCESTQ IS NOT NULL AND NEW.NRLANCESTQ IS NOT NULL AND NEW.NRLANCESTQ <> OLD.NRLANCESTQ THEN
    RAISE EXCEPTION 'ITVENDA_JA_LANCADO' USING ERRCODE = 'unique_violation';
  END IF;
  RETURN NEW;
END
$$ LANGUAGE plpgsql;

CREATE TRIGGER ITVENDA_LANCADO_UMA_VEZ
  BEFORE UPDATE OF NRLANCESTQ ON ITVENDA
  FOR EACH ROW EXECUTE FUNCTION ITVENDA_LANCADO_UMA_VEZ();
