-- Each NFC-e the import took, apart from its sale: its register-day, its vNF
-- in cents and whether it was cancelled. A sale deleted whole and its
-- document imported again is then the same document, not one more; the
-- register-day's record (NFCECAIXADIA) is kept in step with these rows.
CREATE TABLE NFCEDOCUMENTO (
  CDCHAVENFCE VARCHAR(44) NOT NULL PRIMARY KEY,
  CDFILIAL    VARCHAR(4)  NOT NULL,
  CDCAIXA     VARCHAR(3)  NOT NULL,
  DTVENDA     ${DATE}     NOT NULL,
  VRCENTNFCE  ${BIGINT}   NOT NULL,
  IDCANCELADA CHAR(1)     NOT NULL
);

-- The documents imported before: their sales as they stand now stand for them.
INSERT INTO NFCEDOCUMENTO (CDCHAVENFCE, CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE, IDCANCELADA)
SELECT CDCHAVENFCE, CDFILIAL, CDCAIXA, DTVENDA, CAST(ROUND(VRTOTNFCE * 100) AS ${BIGINT}),
       CASE WHEN IDSITUVENDA = 'C' THEN 'S' ELSE 'N' END
FROM VENDA WHERE CDCHAVENFCE IS NOT NULL AND VRTOTNFCE IS NOT NULL;
