-- The Z check asks, once per register-day, for the items of one cash
-- register on one day: an index that reaches those sales directly instead of
-- walking every register's sales of the day.
CREATE INDEX VENDA_CAIXA_DIA ON VENDA (CDFILIAL, CDLOJA, CDCAIXA, DTVENDA);
