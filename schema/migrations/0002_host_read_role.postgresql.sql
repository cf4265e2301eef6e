-- The host application reads a few tables straight from the shared database
-- (branch, company and store lookups, the filter's pickers, and the sales,
-- items and products its reports list) and writes nothing: every write goes
-- through the application server. qfx_consulta is the group role for the host's logins, with SELECT
-- on exactly those tables. Roles belong to the whole cluster: it is created
-- only when missing, and a server whose user may not create roles leaves that
-- to the administrator, who creates it before this step runs (README).
DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'qfx_consulta') THEN
    BEGIN
      CREATE ROLE qfx_consulta NOLOGIN;
    EXCEPTION
      -- the migration of another database of the cluster created it meanwhile
      WHEN duplicate_object OR unique_violation THEN NULL;
      WHEN insufficient_privilege THEN
        RAISE WARNING 'sem permissão para criar o papel qfx_consulta: crie-o antes de migrar (README, Security)';
        RETURN;
    END;
  END IF;
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO qfx_consulta', current_schema());
  GRANT SELECT ON FILIAL, EMPRESA, LOJA, CAIXA, TIPOCONS, CLIENTE, CCUSCLIE, VENDA, ITVENDA, PRODUTO, PRODTIPORETI
    TO qfx_consulta;
END
$$;
