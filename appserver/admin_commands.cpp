#include "admin_commands.h"

#include <QDateTime>
#include <cstdio>
#include <iostream>

#include "auth/operator_admin.h"
#include "db/database_use_lock.h"
#include "db/sql.h"
#include "db/sqlite_backup.h"

namespace qfx::server::admin {

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "qfxserver: %s\n", message.c_str());
  return 1;
}

std::optional<std::string> optional(const QCommandLineParser& p, const char* name) {
  if (!p.isSet(name)) return std::nullopt;
  return p.value(name).toStdString();
}

Result<std::string> passwordFromInput() {
  std::string password;
  if (!std::getline(std::cin, password) || password.empty())
    return invalidArgument("informe a senha na entrada padrão");
  return password;
}

std::string dateTime(int64_t secondsSinceEpoch) {
  return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

int backup(const std::string& database, const Options& o) {
  auto done = backupSqlite(database, o.backupTo, o.replace ? ExistingTarget::Replace : ExistingTarget::Refuse);
  if (!done) return fail(done.error().message);
  std::printf("cópia gravada em %s\n", o.backupTo.c_str());
  return 0;
}

int restore(const std::string& database, const Options& o) {
  // held while the copy is written: no server starts on a half-restored file
  auto alone = DatabaseUseLock::forRestore(database);
  if (!alone) return fail(alone.error().message);
  auto done = restoreSqlite(o.restoreFrom, database);
  if (!done) return fail(done.error().message);
  std::printf("banco %s restaurado de %s\n", database.c_str(), o.restoreFrom.c_str());
  return 0;
}

// Creates the operator when it does not exist; otherwise changes only what the options name.
int setOperator(Database& database, const Options& o) {
  OperatorChange change;
  change.name = o.name;
  change.boundBranch = o.branch;
  change.mayImport = o.mayImport;
  auto listed = operators::list(database);
  if (!listed) return fail(listed.error().message);
  bool known = false;
  for (const auto& row : *listed) known = known || row.code == o.operatorToSet;
  if (known && change.empty() && !o.newPassword)
    return fail("operador " + o.operatorToSet +
                " já existe: diga o que mudar (--operator-password, --operator-name, --operator-branch, "
                "--operator-import)");
  if (!known || o.newPassword) {
    auto password = passwordFromInput();
    if (!password) return fail(password.error().message);
    change.password = *password;
  }
  const Status saved =
      known ? operators::change(database, o.operatorToSet, change)
            : operators::create(database, {o.operatorToSet, o.name.value_or(o.operatorToSet), *change.password,
                                           o.branch.value_or(""), o.mayImport.value_or(false)});
  if (!saved) return fail(saved.error().message);
  std::printf("operador %s %s\n", o.operatorToSet.c_str(), known ? "alterado" : "criado");
  return 0;
}

int setActive(Database& database, const std::string& code, bool active) {
  OperatorChange change;
  change.active = active;
  if (auto done = operators::change(database, code, change); !done) return fail(done.error().message);
  std::printf("operador %s %s\n", code.c_str(), active ? "ativado" : "desativado (sessões encerradas)");
  return 0;
}

int endSessions(Database& database, const std::string& code) {
  auto ended = operators::endSessions(database, code);
  if (!ended) return fail(ended.error().message);
  std::printf("%lld sessões do operador %s encerradas\n", (long long)*ended, code.c_str());
  return 0;
}

int listOperators(Database& database) {
  auto rows = operators::list(database);
  if (!rows) return fail(rows.error().message);
  std::printf("%-20s %-6s %-5s %-7s %-8s %s\n", "operador", "filial", "ativo", "importa", "sessões", "nome");
  for (const auto& r : *rows)
    std::printf("%-20s %-6s %-5s %-7s %-8lld %s\n", r.code.c_str(), r.boundBranch.empty() ? "*" : r.boundBranch.c_str(),
                r.active ? "S" : "N", r.mayImport ? "S" : "N", (long long)r.openSessions, r.name.c_str());
  return 0;
}

int listSessions(Database& database) {
  auto rows = operators::sessions(database, "");
  if (!rows) return fail(rows.error().message);
  std::printf("%-20s %-19s %s\n", "operador", "início", "expira");
  for (const auto& r : *rows)
    std::printf("%-20s %-19s %s\n", r.operatorCode.c_str(), dateTime(r.createdAt).c_str(),
                dateTime(r.expiresAt).c_str());
  return 0;
}

// PostgreSQL: a read role that sees one branch's rows only (row-level
// security; the schema's QFX_CRIAR_LEITOR_FILIAL), in one transaction.
int createBranchReader(Database& database, const Options& o) {
  if (database.isSQLite())
    return fail("--create-branch-reader é para o PostgreSQL: no SQLite quem lê o arquivo lê tudo");
  auto db = database.connection();
  if (!db) return fail(db.error().message);
  auto tx = sql::Transaction::begin(*db, database.dialect());
  if (!tx) return fail(tx.error().message);
  auto q = sql::run(*db, QStringLiteral("SELECT QFX_CRIAR_LEITOR_FILIAL(?, ?)"),
                    {QString::fromStdString(o.branchReader), QString::fromStdString(o.readerBranch)});
  if (!q) return fail(q.error().message + "; nada foi alterado");
  const std::string outcome = q->next() ? q->value(0).toString().toStdString() : "";
  q->finish();
  if (auto committed = tx->commit(); !committed) return fail(committed.error().message);
  std::printf("%s; dê aos hosts da filial um login nele: CREATE ROLE ... LOGIN PASSWORD '...' IN ROLE %s\n",
              outcome.c_str(), o.branchReader.c_str());
  return 0;
}

}  // namespace

void addOptions(QCommandLineParser& p) {
  p.addOptions({
      {"backup", "Copia o banco SQLite em uso, de forma consistente, para um arquivo novo e termina.", "arquivo"},
      {"replace", "Com --backup: substitui o arquivo se ele já existir."},
      {"restore",
       "Com todos os servidores do banco parados, põe de volta no banco SQLite a cópia do arquivo (conferida) e "
       "termina.",
       "arquivo"},
      {"set-operator",
       "Cria o operador (senha lida da entrada padrão) ou muda nele só o que as opções pedem, e termina.", "codigo"},
      {"operator-password", "Com --set-operator: troca a senha (lida da entrada padrão)."},
      {"operator-name", "Com --set-operator: nome do operador.", "nome"},
      {"operator-branch", "Com --set-operator: filial à qual o operador fica preso (vazio: qualquer filial).",
       "filial"},
      {"operator-import", "Com --set-operator: S dá ao operador o direito de importar dados, N o tira.", "S|N"},
      {"activate-operator", "Ativa o operador e termina.", "codigo"},
      {"deactivate-operator", "Desativa o operador, encerra as sessões dele e termina.", "codigo"},
      {"end-sessions", "Encerra as sessões abertas do operador e termina.", "codigo"},
      {"list-operators", "Lista os operadores (filial, ativo, sessões abertas) e termina."},
      {"list-sessions", "Lista as sessões abertas e termina."},
      {"create-branch-reader",
       "PostgreSQL: cria (ou ajusta) um papel de leitura que só vê as linhas da filial de --reader-branch, e "
       "termina.",
       "papel"},
      {"reader-branch", "Com --create-branch-reader: a filial que o papel vê.", "filial"},
  });
}

bool read(const QCommandLineParser& p, Options* o, std::string* error) {
  o->backupTo = p.value("backup").toStdString();
  o->replace = p.isSet("replace");
  o->restoreFrom = p.value("restore").toStdString();
  o->operatorToSet = p.value("set-operator").toStdString();
  o->name = optional(p, "operator-name");
  o->branch = optional(p, "operator-branch");
  o->newPassword = p.isSet("operator-password");
  if (p.isSet("operator-import")) {
    const QString right = p.value("operator-import").toUpper();
    if (right != QLatin1String("S") && right != QLatin1String("N"))
      return *error = "--operator-import deve ser S ou N", false;
    o->mayImport = right == QLatin1String("S");
  }
  o->activate = p.value("activate-operator").toStdString();
  o->deactivate = p.value("deactivate-operator").toStdString();
  o->endSessionsOf = p.value("end-sessions").toStdString();
  o->listOperators = p.isSet("list-operators");
  o->listSessions = p.isSet("list-sessions");
  o->branchReader = p.value("create-branch-reader").toStdString();
  o->readerBranch = p.value("reader-branch").toStdString();
  int commands = 0;
  for (const char* command : {"backup", "restore", "set-operator", "activate-operator", "deactivate-operator",
                              "end-sessions", "list-operators", "list-sessions", "create-branch-reader"})
    commands += p.isSet(command) ? 1 : 0;
  if (commands > 1) return *error = "dê um comando de administração de cada vez", false;
  if (!o->branchReader.empty() && o->readerBranch.empty())
    return *error = "--create-branch-reader precisa de --reader-branch FILIAL", false;
  if (o->replace && o->backupTo.empty()) return *error = "--replace vale só com --backup", false;
  if ((o->name || o->branch || o->newPassword || o->mayImport) && o->operatorToSet.empty())
    return *error =
               "--operator-password, --operator-name, --operator-branch e --operator-import valem só com "
               "--set-operator",
           false;
  return true;
}

int runOnTheFile(const DbConfig& config, const Options& o) {
  if (config.dialect != Dialect::SQLite)
    return fail("--backup e --restore são para o banco SQLite; no PostgreSQL use pg_dump e pg_restore");
  const std::string database = config.path.toStdString();
  return o.backupTo.empty() ? restore(database, o) : backup(database, o);
}

int runOnOperators(Database& database, const Options& o) {
  if (!o.operatorToSet.empty()) return setOperator(database, o);
  if (!o.activate.empty()) return setActive(database, o.activate, true);
  if (!o.deactivate.empty()) return setActive(database, o.deactivate, false);
  if (!o.endSessionsOf.empty()) return endSessions(database, o.endSessionsOf);
  if (o.listOperators) return listOperators(database);
  if (!o.branchReader.empty()) return createBranchReader(database, o);
  return listSessions(database);
}

}  // namespace qfx::server::admin
