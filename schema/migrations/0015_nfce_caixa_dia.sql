-- What the NFC-e import saw per register and day: the sum of the vNF of the
-- authorised documents not cancelled, in cents, and how many they are. The
-- import keeps it (a document added, a document replaced by its re-import,
-- a cancellation), apart from the sales themselves, so that a sale deleted
-- whole after the import, or every sale of a register-day, still shows as a
-- difference in the Z check of a branch that checks by documents.
CREATE TABLE NFCECAIXADIA (
  CDFILIAL    VARCHAR(4) NOT NULL,
  CDCAIXA     VARCHAR(3) NOT NULL,
  DTVENDA     ${DATE}    NOT NULL,
  VRCENTNFCE  ${BIGINT}  NOT NULL,
  QTNFCE      INTEGER    NOT NULL,
  PRIMARY KEY (CDFILIAL, CDCAIXA, DTVENDA)
);

-- The documents imported before: their sales as they stand now stand for them.
INSERT INTO NFCECAIXADIA (CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE, QTNFCE)
SELECT CDFILIAL, CDCAIXA, DTVENDA, SUM(CAST(ROUND(VRTOTNFCE * 100) AS ${BIGINT})), COUNT(*) FROM VENDA
WHERE CDCHAVENFCE IS NOT NULL AND IDSITUVENDA <> 'C' AND VRTOTNFCE IS NOT NULL
GROUP BY CDFILIAL, CDCAIXA, DTVENDA;
