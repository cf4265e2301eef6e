-- On SQLite the items too: an item's values next to its sale's key, so the
-- sum reads the index alone instead of the table row of every item. The
-- posting run's stamp changes none of these columns, and SQLite leaves an
-- index alone when an update changes none of its columns (PostgreSQL writes
-- a new entry in every index of a row whose update is not in place: there
-- the index would slow every posting down). Always-true condition, as above:
-- without it the planner also took this index for the pending items of the
-- Z check's list, where the partial index of pending items reads fewer rows.
CREATE INDEX ITVENDA_VALOR ON ITVENDA (CDFILIAL, NRSEQVENDA, QTPRODVEND, VRUNITVEND, VRDESITVEND)
  WHERE QTPRODVEND IS NOT NULL;
