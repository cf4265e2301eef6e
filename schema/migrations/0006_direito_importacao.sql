-- The right to import registrations, sales and Z reductions through the
-- application server ('S'); operators have it only when given it.
ALTER TABLE OPERADOR ADD COLUMN IDIMPORTA VARCHAR(1) NOT NULL DEFAULT 'N';
