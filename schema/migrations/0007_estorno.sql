-- Undoing a consolidation's stock posting. The reversal is a stock posting
-- of its own, IDTIPOLANC 'R', dated on the day of the posting it undoes and
-- with the same lines negated, so the stock's history shows both movements
-- and a day's sum of postings stays what its balance moved. Who reversed
-- which posting, when and why is kept here, one row per reversed posting:
-- its key is what lets a posting be reversed once only.
CREATE TABLE ESTORNOLANCESTQ (
  CDFILIAL           VARCHAR(4)   NOT NULL,
  NRLANCESTQ         VARCHAR(10)  NOT NULL,
  NRLANCESTQESTORNO  VARCHAR(10)  NOT NULL,
  CDOPERADOR         VARCHAR(20)  NOT NULL,
  DTESTORNO          ${TIMESTAMP} NOT NULL,
  DSMOTIVO           VARCHAR(200) NOT NULL,
  PRIMARY KEY (CDFILIAL, NRLANCESTQ),
  UNIQUE (CDFILIAL, NRLANCESTQESTORNO),
  FOREIGN KEY (CDFILIAL, NRLANCESTQ) REFERENCES LANCESTQ (CDFILIAL, NRLANCESTQ),
  FOREIGN KEY (CDFILIAL, NRLANCESTQESTORNO) REFERENCES LANCESTQ (CDFILIAL, NRLANCESTQ)
);

-- A reversed posting's fiscal-note entry stays, marked 'S'.
ALTER TABLE LANCTONF ADD COLUMN IDESTORNADO VARCHAR(1) NOT NULL DEFAULT 'N';

-- The list of a branch's runs over a period.
CREATE INDEX LANCESTQ_VENDA ON LANCESTQ (CDFILIALVENDA, DTLANCESTQ);
