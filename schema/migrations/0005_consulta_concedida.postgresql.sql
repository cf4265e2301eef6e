-- The hosts' read role gets its rights whenever it exists and lacks them:
-- the server calls QFX_CONCEDER_CONSULTA() at every start, not only in this
-- migration, so a role an administrator creates after the first migration
-- (the server's user may not create roles) is granted at the server's next
-- start. The tables are those of 0002: the lookups and what the reports
-- list, nothing of stock, postings, operators or sessions. Returns what it
-- did, for the server's log.
CREATE OR REPLACE FUNCTION QFX_CONCEDER_CONSULTA() RETURNS TEXT LANGUAGE plpgsql AS $$
DECLARE
  tabela TEXT;
  concedidos INTEGER := 0;
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'qfx_consulta') THEN
    RETURN 'papel qfx_consulta ausente';
  END IF;
  IF NOT has_schema_privilege('qfx_consulta', current_schema(), 'USAGE') THEN
    EXECUTE format('GRANT USAGE ON SCHEMA %I TO qfx_consulta', current_schema());
    concedidos := concedidos + 1;
  END IF;
  FOREACH tabela IN ARRAY ARRAY['filial', 'empresa', 'loja', 'caixa', 'tipocons', 'cliente', 'ccusclie', 'venda',
                                'itvenda', 'produto', 'prodtiporeti'] LOOP
    IF NOT has_table_privilege('qfx_consulta', format('%I.%I', current_schema(), tabela), 'SELECT') THEN
      EXECUTE format('GRANT SELECT ON %I.%I TO qfx_consulta', current_schema(), tabela);
      concedidos := concedidos + 1;
    END IF;
    -- a table limited to branch roles still shows every row to the shared role
    IF EXISTS (SELECT 1 FROM pg_class C JOIN pg_namespace N ON N.oid = C.relnamespace
               WHERE N.nspname = current_schema() AND C.relname = tabela AND C.relrowsecurity)
       AND NOT EXISTS (SELECT 1 FROM pg_policies WHERE schemaname = current_schema() AND tablename = tabela
                       AND policyname = 'qfx_consulta_todas') THEN
      EXECUTE format('CREATE POLICY qfx_consulta_todas ON %I.%I FOR SELECT TO qfx_consulta USING (true)',
                     current_schema(), tabela);
      concedidos := concedidos + 1;
    END IF;
  END LOOP;
  RETURN concedidos || ' concessões';
EXCEPTION
  WHEN insufficient_privilege THEN
    RETURN 'sem permissão para conceder direitos a qfx_consulta';
END
$$;

-- A read role limited to one branch's rows, for a chain whose stores must
-- not see each other's sales and customers (qfxserver --create-branch-reader).
-- Row-level security on the tables that carry a branch, and on the customers
-- (only those with a sale in the branch) and their cost centres: the shared
-- qfx_consulta keeps seeing every row through a policy of its own, the
-- branch role sees its branch's, and the server, owner of the tables, is not
-- subject to them. A branch role that is also a member of qfx_consulta would
-- see everything again: refused. Run by the server in one transaction.
CREATE INDEX IF NOT EXISTS VENDA_CLIENTE ON VENDA (CDCLIENTE, CDFILIAL);

CREATE OR REPLACE FUNCTION QFX_CRIAR_LEITOR_FILIAL(p_papel TEXT, p_filial TEXT) RETURNS TEXT LANGUAGE plpgsql AS $$
DECLARE
  tabela TEXT;
  politica TEXT := 'qfx_filial_' || p_papel;
  criado BOOLEAN := false;
BEGIN
  IF p_papel !~ '^[a-z_][a-z0-9_]{0,40}$' THEN
    RAISE EXCEPTION 'nome de papel inválido: %; use letras minúsculas, algarismos e _', p_papel;
  END IF;
  IF NOT EXISTS (SELECT 1 FROM FILIAL WHERE CDFILIAL = p_filial) THEN
    RAISE EXCEPTION 'filial % não existe', p_filial;
  END IF;
  IF p_papel = 'qfx_consulta' OR (EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'qfx_consulta')
                                AND EXISTS (SELECT 1 FROM pg_roles WHERE rolname = p_papel)
                                AND pg_has_role(p_papel, 'qfx_consulta', 'MEMBER')) THEN
    RAISE EXCEPTION 'o papel % é membro de qfx_consulta e veria todas as filiais', p_papel;
  END IF;
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = p_papel) THEN
    EXECUTE format('CREATE ROLE %I NOLOGIN', p_papel);
    criado := true;
  END IF;
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO %I', current_schema(), p_papel);
  FOREACH tabela IN ARRAY ARRAY['filial', 'empresa', 'loja', 'caixa', 'tipocons', 'cliente', 'ccusclie', 'venda',
                                'itvenda', 'produto', 'prodtiporeti'] LOOP
    EXECUTE format('GRANT SELECT ON %I TO %I', tabela, p_papel);
  END LOOP;
  FOREACH tabela IN ARRAY ARRAY['filial', 'loja', 'caixa', 'venda', 'itvenda', 'cliente', 'ccusclie'] LOOP
    EXECUTE format('ALTER TABLE %I ENABLE ROW LEVEL SECURITY', tabela);
    IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'qfx_consulta')
       AND NOT EXISTS (SELECT 1 FROM pg_policies WHERE schemaname = current_schema() AND tablename = tabela
                       AND policyname = 'qfx_consulta_todas') THEN
      EXECUTE format('CREATE POLICY qfx_consulta_todas ON %I FOR SELECT TO qfx_consulta USING (true)', tabela);
    END IF;
    EXECUTE format('DROP POLICY IF EXISTS %I ON %I', politica, tabela);
    IF tabela IN ('cliente', 'ccusclie') THEN
      EXECUTE format('CREATE POLICY %I ON %I FOR SELECT TO %I USING (EXISTS (SELECT 1 FROM VENDA V '
                     'WHERE V.CDCLIENTE = %I.CDCLIENTE AND V.CDFILIAL = %L))', politica, tabela, p_papel, tabela, p_filial);
    ELSE
      EXECUTE format('CREATE POLICY %I ON %I FOR SELECT TO %I USING (CDFILIAL = %L)', politica, tabela, p_papel, p_filial);
    END IF;
  END LOOP;
  RETURN CASE WHEN criado THEN 'papel ' || p_papel || ' criado' ELSE 'papel ' || p_papel || ' já existia' END
         || ', limitado à filial ' || p_filial;
END
$$;
