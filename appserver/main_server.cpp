// qfxserver: the application server of the sales consolidation module.
#include <pthread.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "auth/sessions.h"
#include "common/log.h"
#include "db/database.h"
#include "db/migrations.h"
#include "db/sqlite_backup.h"
#include "demo/demo_generator.h"
#include "methods/dispatcher.h"
#include "rpc/server.h"

using namespace qfx::server;

namespace {

struct Options {
  std::string db = "sqlite:qfx.db";
  ServerOptions server;
  bool migrateOnly = false;
  std::string portFile;
  std::string backupTo, restoreFrom;
  std::string operatorToSet, operatorName, operatorBranch, operatorImport;
  bool createDemo = false;
  demo::Options demo;
};

// --db, else $QFX_DB_URL (keeps the URL out of the process list), else
// $QFX_DB (the name older settings files of the service use), else the
// SQLite file qfx.db.
std::string databaseUrl(const QCommandLineParser& p) {
  if (p.isSet("db")) return p.value("db").toStdString();
  for (const char* name : {"QFX_DB_URL", "QFX_DB"})
    if (const QByteArray fromEnvironment = qgetenv(name); !fromEnvironment.isEmpty())
      return fromEnvironment.toStdString();
  return "sqlite:qfx.db";
}

// The first line of a file only its owner may read: a secret kept off the
// command line.
Result<QByteArray> readOwnerOnlyFile(const QString& path) {
  QFile file(path);
  const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                      QFileDevice::WriteOther | QFileDevice::ExeGroup | QFileDevice::ExeOther;
  if (!file.exists()) return invalidArgument("arquivo de senha não encontrado: " + path.toStdString());
  if (file.permissions() & others)
    return invalidArgument("o arquivo de senha " + path.toStdString() +
                           " pode ser lido por outros usuários: deixe-o só para o dono (chmod 600)");
  if (!file.open(QIODevice::ReadOnly))
    return invalidArgument("não foi possível ler " + path.toStdString() + ": " + file.errorString().toStdString());
  return file.readLine().trimmed();
}

// A whole number of at least `least` from option `name`; false with the reason otherwise.
bool readCount(const QCommandLineParser& p, const char* name, int least, int* out, std::string* error) {
  bool ok = false;
  *out = p.value(name).toInt(&ok);
  if (ok && *out >= least) return true;
  *error = std::string("--") + name + " deve ser um número inteiro de pelo menos " + std::to_string(least);
  return false;
}

bool parseLoginThrottle(const QCommandLineParser& p, LoginThrottleOptions* o, std::string* error) {
  int delayMs = 0, maxDelayMs = 0;
  if (!readCount(p, "login-failures", 1, &o->operatorFailures, error) ||
      !readCount(p, "login-address-failures", 1, &o->addressFailures, error) ||
      !readCount(p, "login-delay-ms", 1, &delayMs, error) ||
      !readCount(p, "login-max-delay-ms", 1, &maxDelayMs, error) ||
      !readCount(p, "login-checks", 1, &o->concurrentChecks, error))
    return false;
  if (maxDelayMs < delayMs) return *error = "--login-max-delay-ms não pode ser menor que --login-delay-ms", false;
  o->firstDelay = std::chrono::milliseconds(delayMs);
  o->maxDelay = std::chrono::milliseconds(maxDelayMs);
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "qfxserver: %s\n", message.c_str());
  return 1;
}

bool parse(QCoreApplication& app, Options* o, std::string* error) {
  QCommandLineParser p;
  p.setApplicationDescription(
      "Servidor de aplicação da Consolidação de Vendas (objeto Qfx31700.rdmGeraNF, gRPC).\n"
      "Cria ou atualiza o esquema do banco ao iniciar.");
  p.addHelpOption();
  p.addOptions({
      {"listen", "Endereço de escuta HOST:PORTA (porta 0 escolhe uma livre).", "host:porta", "127.0.0.1:50731"},
      {"db",
       "Banco: sqlite:/caminho/arquivo.db ou postgresql://usuario@host:porta/banco[?sslmode=require] (senha por "
       "PGPASSWORD ou ~/.pgpass). Padrão: $QFX_DB_URL, senão sqlite:qfx.db.",
       "url"},
      {"db-password-file", "Arquivo com a senha do banco (legível só pelo dono).", "arquivo"},
      {"tls-cert", "Certificado PEM do servidor; com --tls-key liga TLS no canal.", "arquivo"},
      {"tls-key", "Chave privada PEM do servidor.", "arquivo"},
      {"log-level", "Nível do log: debug, info, warn, error, off.", "nivel", "info"},
      {"session-hours", "Validade de uma sessão em horas.", "horas", "12"},
      {"threads", "Conexões ao banco (threads que atendem as chamadas; as demais esperam a vez).", "n", "16"},
      {"port-file", "Grava a porta efetivamente aberta neste arquivo.", "arquivo"},
      {"login-failures", "Falhas de login de um operador antes de as tentativas dele esperarem.", "n", "5"},
      {"login-address-failures", "Falhas de login de um endereço antes de as tentativas dele esperarem.", "n", "20"},
      {"login-delay-ms", "Primeira espera após as falhas; dobra a cada nova falha.", "ms", "1000"},
      {"login-max-delay-ms", "Maior espera entre tentativas de login.", "ms", "300000"},
      {"login-checks", "Conferências de senha ao mesmo tempo (64 MiB cada).", "n", "2"},
      {"migrate", "Só cria/atualiza o esquema do banco e termina."},
      {"backup", "Copia o banco SQLite em uso, de forma consistente, para o arquivo e termina.", "arquivo"},
      {"restore", "Com o servidor parado, põe de volta no banco SQLite a cópia do arquivo (conferida) e termina.",
       "arquivo"},
      {"create-demo", "Se o banco não tem filiais, gera os dados de demonstração antes de atender."},
      {"demo-scale", "Itens de venda aproximados da demonstração (com --create-demo).", "itens", "600"},
      {"demo-seed", "Semente da demonstração (com --create-demo).", "n", "1"},
      {"set-operator", "Cria ou troca a senha de um operador (senha lida da entrada padrão) e termina.", "codigo"},
      {"operator-name", "Nome do operador para --set-operator.", "nome"},
      {"operator-branch", "Filial à qual o operador fica preso (vazio: qualquer filial).", "filial"},
      {"operator-import", "Com --set-operator: S dá ao operador o direito de importar dados, N o tira.", "S|N"},
  });
  p.process(app);
  o->db = databaseUrl(p);
  if (p.isSet("db") && !QUrl(QString::fromStdString(o->db)).password().isEmpty())
    return *error =
               "a senha do banco em --db ficaria visível na lista de processos: use PGPASSWORD, ~/.pgpass, "
               "$QFX_DB_URL ou --db-password-file",
           false;
  if (p.isSet("db-password-file")) {
    auto password = readOwnerOnlyFile(p.value("db-password-file"));
    if (!password) return *error = password.error().message, false;
    qputenv("PGPASSWORD", *password);  // libpq takes it from there
  }
  o->server.listen = p.value("listen").toStdString();
  o->server.tlsCertFile = p.value("tls-cert").toStdString();
  o->server.tlsKeyFile = p.value("tls-key").toStdString();
  o->portFile = p.value("port-file").toStdString();
  o->migrateOnly = p.isSet("migrate");
  o->backupTo = p.value("backup").toStdString();
  o->restoreFrom = p.value("restore").toStdString();
  o->operatorToSet = p.value("set-operator").toStdString();
  o->operatorName = p.value("operator-name").toStdString();
  o->operatorBranch = p.value("operator-branch").toStdString();
  o->operatorImport = p.value("operator-import").toUpper().toStdString();
  if (!o->operatorImport.empty() && o->operatorImport != "S" && o->operatorImport != "N")
    return *error = "--operator-import deve ser S ou N", false;
  o->createDemo = p.isSet("create-demo");
  bool ok = false;
  o->demo.items = p.value("demo-scale").toLongLong(&ok);
  if (!ok || o->demo.items < 1) return *error = "--demo-scale deve ser um número positivo", false;
  o->demo.seed = p.value("demo-seed").toULongLong(&ok);
  if (!ok) return *error = "--demo-seed deve ser um número inteiro não negativo", false;
  const double hours = p.value("session-hours").toDouble(&ok);
  if (!ok || hours <= 0) return *error = "--session-hours deve ser um número positivo", false;
  o->server.sessionLifetimeSeconds = int64_t(hours * 3600);
  o->server.maxThreads = p.value("threads").toInt(&ok);
  if (!ok || o->server.maxThreads < 2) return *error = "--threads deve ser pelo menos 2", false;
  if (!parseLoginThrottle(p, &o->server.loginThrottle, error)) return false;
  log::Level level;
  if (!log::parseLevel(p.value("log-level").toStdString(), &level))
    return *error = "--log-level deve ser debug, info, warn, error ou off", false;
  log::setLevel(level);
  return true;
}

int setOperator(Database& database, const Options& o) {
  std::string password;
  if (!std::getline(std::cin, password) || password.empty()) return fail("informe a senha na entrada padrão");
  auto db = database.connection();
  if (!db) return fail(db.error().message);
  const std::string name = o.operatorName.empty() ? o.operatorToSet : o.operatorName;
  if (auto saved = SessionStore::saveOperator(*db, o.operatorToSet, name, password, o.operatorBranch); !saved)
    return fail(saved.error().message);
  if (!o.operatorImport.empty())
    if (auto right = SessionStore::setImportRight(*db, o.operatorToSet, o.operatorImport == "S"); !right)
      return fail(right.error().message);
  std::printf("operador %s gravado\n", o.operatorToSet.c_str());
  return 0;
}

// Fills an empty database with the demo data; leaves one with data alone.
int createDemoIfEmpty(Database& database, const Options& o) {
  auto db = database.connection();
  if (!db) return fail(db.error().message);
  QSqlQuery q(*db);
  if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM FILIAL")) || !q.next()) return fail("não foi possível ler FILIAL");
  if (q.value(0).toLongLong() == 0) {
    q.finish();
    auto summary = demo::generate(database, o.demo);
    if (!summary) return fail(summary.error().message);
    std::printf("demonstração criada: %lld vendas, %lld itens\n", (long long)summary->sales, (long long)summary->items);
  }
  std::printf("%s\n", demo::credentialsText().c_str());
  std::fflush(stdout);
  return 0;
}

// The embedded database's backup and restore; PostgreSQL has its own tools.
int backupOrRestore(const DbConfig& config, const Options& o) {
  if (config.dialect != Dialect::SQLite)
    return fail("--backup e --restore são para o banco SQLite; no PostgreSQL use pg_dump e pg_restore");
  const std::string database = config.path.toStdString();
  auto done = o.backupTo.empty() ? restoreSqlite(o.restoreFrom, database) : backupSqlite(database, o.backupTo);
  if (!done) return fail(done.error().message);
  std::printf("%s\n", o.backupTo.empty() ? ("banco restaurado de " + o.restoreFrom).c_str()
                                         : ("cópia gravada em " + o.backupTo).c_str());
  return 0;
}

int serve(Database& database, const Options& o) {
  // Signals are taken by sigwait below, not by whichever thread they hit.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // the one object this server serves: the layers meet here and nowhere below
  auto server = AppServer::start(database, makeConsolidationObject(), o.server);
  if (!server) return fail(server.error().message);
  if (!o.portFile.empty()) {
    QFile file(QString::fromStdString(o.portFile));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail("não foi possível gravar " + o.portFile);
    file.write(QByteArray::number((*server)->port()) + "\n");
  }
  int signal = 0;
  sigwait(&stopSignals, &signal);
  log::write(log::Level::Info, "stopping", {{"signal", std::to_string(signal)}});
  (*server)->shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("qfxserver");
  Options options;
  std::string error;
  if (!parse(app, &options, &error)) return fail(error);

  auto config = DbConfig::parse(options.db);
  if (!config) return fail(config.error().message);
  if (!options.backupTo.empty() || !options.restoreFrom.empty()) return backupOrRestore(*config, options);
  Database database(*config);
  auto version = migrations::migrate(database);
  if (!version) return fail(version.error().message);
  if (options.migrateOnly) {
    std::printf("esquema na versão %d\n", *version);
    return 0;
  }
  if (!options.operatorToSet.empty()) return setOperator(database, options);
  if (options.createDemo) {
    if (int failed = createDemoIfEmpty(database, options)) return failed;
  }
  return serve(database, options);
}
