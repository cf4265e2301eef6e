-- Every Z reduction read asks whether its branch checks NFC-e by their
-- documents (PARAMFILIAL.IDZNFCE). By the branch's key alone PostgreSQL reads
-- the whole table instead once it holds a few hundred branches (three pages
-- cost it less than the key's index by its estimates, and took 50 us a
-- call against 22 through this index); with the choice in the index the
-- lookup is the index's. SQLite reads the branch by its key either way.
CREATE INDEX PARAMFILIAL_ESCOLHA_NFCE ON PARAMFILIAL (CDFILIAL, IDZNFCE);
