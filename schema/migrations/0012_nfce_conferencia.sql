-- A register that issues NFC-e keeps no Z reduction. What the Z check
-- compares such a register's day with is the branch's choice
-- (PARAMFILIAL.IDZNFCE): 'Z' its Z reduction, as any register; 'N' the
-- documents the import recorded, the sum of the vNF of that register's
-- authorised documents of the day that were not cancelled. Each sale keeps
-- its document's vNF (VENDA.VRTOTNFCE) as it was imported, so an item
-- changed or lost afterwards shows as a difference.
ALTER TABLE PARAMFILIAL ADD COLUMN IDZNFCE VARCHAR(1) NOT NULL DEFAULT 'Z';
ALTER TABLE VENDA ADD COLUMN VRTOTNFCE ${FLOAT};

-- A cancellation (event 110111) that came in an earlier import than its
-- document waits here, and is applied when the document comes.
CREATE TABLE NFCECANCPEND (
  CDCHAVENFCE  VARCHAR(44)  NOT NULL PRIMARY KEY,
  NMARQUIVO    VARCHAR(255) NOT NULL,
  DTRECEBIDO   ${TIMESTAMP} NOT NULL
);

-- Sales imported from NFC-e before their vNF was kept: their items as they
-- stand now (each to the cent, as the document's values are) stand for it.
UPDATE VENDA SET VRTOTNFCE = (
  SELECT SUM(ROUND(CAST(I.QTPRODVEND * I.VRUNITVEND - I.VRDESITVEND AS NUMERIC), 2)) FROM ITVENDA I
  WHERE I.CDFILIAL = VENDA.CDFILIAL AND I.NRSEQVENDA = VENDA.NRSEQVENDA)
WHERE CDCHAVENFCE IS NOT NULL;
