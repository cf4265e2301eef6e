// qfxserver: the application server of the sales consolidation module.
#include <pthread.h>
#include <sys/stat.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>
#include <csignal>
#include <cstdio>
#include <optional>

#include "admin_commands.h"
#include "auth/sessions.h"
#include "common/log.h"
#include "db/database.h"
#include "db/database_options.h"
#include "db/database_use_lock.h"
#include "db/migrations.h"
#include "demo/demo_generator.h"
#include "methods/dispatcher.h"
#include "qfx_version.h"
#include "rpc/server.h"

using namespace qfx::server;

namespace {

struct Options {
  DbConfig db;
  ServerOptions server;
  bool migrateOnly = false;
  std::string portFile;
  admin::Options admin;
  bool createDemo = false;
  demo::Options demo;
};

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
  p.addVersionOption();
  p.setApplicationDescription(
      "Servidor de aplicação da Consolidação de Vendas (objeto Qfx31700.rdmGeraNF, gRPC).\n"
      "Cria ou atualiza o esquema do banco ao iniciar.");
  p.addHelpOption();
  p.addOptions({
      {"listen", "Endereço de escuta HOST:PORTA (porta 0 escolhe uma livre).", "host:porta", "127.0.0.1:50731"},
      {"tls-cert", "Certificado PEM do servidor; com --tls-key liga TLS no canal.", "arquivo"},
      {"tls-key", "Chave privada PEM do servidor.", "arquivo"},
      {"metrics",
       "Serve as métricas (formato Prometheus) em http://HOST:PORTA/metrics; só PORTA: em 127.0.0.1. Padrão: "
       "desligado.",
       "host:porta"},
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
      {"create-demo", "Se o banco não tem filiais, gera os dados de demonstração antes de atender."},
      {"demo-scale", "Itens de venda aproximados da demonstração (com --create-demo).", "itens", "600"},
      {"demo-seed", "Semente da demonstração (com --create-demo).", "n", "1"},
  });
  admin::addOptions(p);
  addDatabaseOptions(p);
  p.process(app);
  if (!admin::read(p, &o->admin, error)) return false;
  auto database = databaseFromOptions(p);
  if (!database) return *error = database.error().message, false;
  o->db = *database;
  o->server.listen = p.value("listen").toStdString();
  o->server.tlsCertFile = p.value("tls-cert").toStdString();
  o->server.tlsKeyFile = p.value("tls-key").toStdString();
  o->server.metricsListen = p.value("metrics").toStdString();
  o->portFile = p.value("port-file").toStdString();
  o->migrateOnly = p.isSet("migrate");
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
  // the database, its journal and its backups are the owner's alone
  umask(077);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("qfxserver");
  QCoreApplication::setApplicationVersion(QFX_VERSION);
  Options options;
  std::string error;
  if (!parse(app, &options, &error)) return fail(error);

  const DbConfig* config = &options.db;
  if (options.admin.onTheFile()) return admin::runOnTheFile(*config, options.admin);
  // held until the process ends: a restore is refused meanwhile
  std::optional<DatabaseUseLock> inUse;
  if (config->dialect == Dialect::SQLite) {
    auto lock = DatabaseUseLock::forServer(config->path.toStdString());
    if (!lock) return fail(lock.error().message);
    inUse.emplace(std::move(*lock));
  }
  Database database(*config);
  auto version = migrations::migrate(database);
  if (!version) return fail(version.error().message);
  if (options.migrateOnly) {
    std::printf("esquema na versão %d\n", *version);
    return 0;
  }
  if (options.admin.onOperators()) return admin::runOnOperators(database, options.admin);
  if (options.createDemo) {
    if (int failed = createDemoIfEmpty(database, options)) return failed;
  }
  return serve(database, options);
}
