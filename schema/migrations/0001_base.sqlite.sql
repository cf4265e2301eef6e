-- SQLite part of the base schema. NVL is registered on every connection by
-- the server; INSTR is built in.

-- Last guard against a double posting: a stamped sale item keeps its stock
-- posting (it may be cleared by a reversal, never moved to another posting).
CREATE TRIGGER ITVENDA_LANCADO_UMA_VEZ
BEFORE UPDATE OF NRLANCESTQ ON ITVENDA
WHEN OLD.NRLANCESTQ IS NOT NULL AND NEW.NRLANCESTQ IS NOT NULL AND NEW.NRLANCESTQ <> OLD.NRLANCESTQ
BEGIN
  SELECT RAISE(ABORT, 'ITVENDA_JA_LANCADO');
END;
