-- Each consolidation run that posted, under the identifier its client gave
-- it, with the outcome it answered; written in the run's own transaction, so
-- a run is here exactly when its postings are. A client whose reply was lost
-- (its server killed, the network cut) asks again under the same identifier
-- and is given this outcome instead of a second run, which would find
-- nothing pending and say so.
CREATE TABLE EXECCONSOLIDA (
  IDEXECUCAO   VARCHAR(64)  NOT NULL PRIMARY KEY,
  CDOPERADOR   VARCHAR(20)  NOT NULL,
  CDFILIAL     VARCHAR(4)   NOT NULL,
  -- the reply: last stock posting, message key and what goes beside it,
  -- the error list's rows (JSON, in the packet's field order)
  NRLANCESTQ   ${BIGINT}    NOT NULL,
  CDMENSAGEM   VARCHAR(30),
  DSDETALHES   TEXT,
  DSERROS      TEXT         NOT NULL,
  DTINCLUSAO   ${TIMESTAMP} NOT NULL
);
