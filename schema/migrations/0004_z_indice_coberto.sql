-- The Z check's sum of one register-day reads, per sale, its number and
-- situation, then each item's quantity and values. With those columns in the
-- register-and-day index the sales are read from the index alone.
-- The condition is always true (the column is NOT NULL): an index of a
-- partial condition serves only the queries that state it, here the sum
-- alone. Without it SQLite's planner, which has no statistics, took this index
-- for any query that needs only its columns (the register-days of a period)
-- and walked every day the store ever sold instead of the period's.
DROP INDEX VENDA_CAIXA_DIA;
CREATE INDEX VENDA_CAIXA_DIA ON VENDA (CDFILIAL, CDLOJA, CDCAIXA, DTVENDA, NRSEQVENDA, IDSITUVENDA)
  WHERE IDSITUVENDA IS NOT NULL;
