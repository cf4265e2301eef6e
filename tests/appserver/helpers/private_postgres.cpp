#include "private_postgres.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdlib>

namespace qfx::test {

namespace {

QString binDir() {
  const QByteArray fromEnvironment = qgetenv("PG_BIN");
  return fromEnvironment.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin")
                                   : QString::fromLocal8Bit(fromEnvironment);
}

// initdb refuses to run as root: as root the cluster belongs to "postgres".
bool runsAsRoot() { return ::geteuid() == 0; }

// A port nobody listens on now; the kernel picks it.
int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(s);
  return port;
}

}  // namespace

bool privatePostgresPossible(std::string* why) {
  if (qgetenv("QFX_TEST_PG_URL").isEmpty()) {
    *why = "QFX_TEST_PG_URL não definida: variante PostgreSQL pulada";
    return false;
  }
  if (!QFile::exists(binDir() + QStringLiteral("/initdb")) || !QFile::exists(binDir() + QStringLiteral("/pg_ctl"))) {
    *why = "initdb/pg_ctl não encontrados em " + binDir().toStdString() + " (defina PG_BIN)";
    return false;
  }
  if (runsAsRoot() && !::getpwnam("postgres")) {
    *why = "rodando como root sem o usuário postgres para o initdb";
    return false;
  }
  return true;
}

QString PrivatePostgres::tool(const char* name) const { return binDir() + QLatin1Char('/') + QLatin1String(name); }

bool PrivatePostgres::runAsOwner(const QString& program, const QStringList& args, QString* output) const {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  if (runsAsRoot())
    process.start(QStringLiteral("runuser"),
                  QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} + args);
  else
    process.start(program, args);
  const bool finished = process.waitForFinished(120000);
  if (output) *output = QString::fromLocal8Bit(process.readAll());
  return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivatePostgres::giveToOwner(const QString& path) const {
  if (!runsAsRoot()) return true;
  const passwd* owner = ::getpwnam("postgres");
  return owner && ::chown(QFile::encodeName(path).constData(), owner->pw_uid, owner->pw_gid) == 0;
}

PrivatePostgres::PrivatePostgres() {
  dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/qfx-pg-privado-XXXXXX"));
  if (!dir_->isValid()) {
    failure_ = "pasta temporária: " + dir_->errorString().toStdString();
    return;
  }
  QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
  giveToOwner(dir_->path());
  const QString data = dir_->filePath(QStringLiteral("data"));
  QString log;
  if (!runAsOwner(tool("initdb"),
                  {QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"),
                   QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                   QStringLiteral("--locale=C.UTF-8")},
                  &log)) {
    failure_ = "initdb falhou: " + log.toStdString();
    return;
  }
  port_ = freePort();
  const QString options =
      QStringLiteral("-p %1 -c listen_addresses=127.0.0.1 -k %2 -c max_connections=60").arg(port_).arg(dir_->path());
  if (!runAsOwner(tool("pg_ctl"),
                  {QStringLiteral("-D"), data, QStringLiteral("-l"), dir_->filePath(QStringLiteral("server.log")),
                   QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"), options,
                   QStringLiteral("start")},
                  &log)) {
    failure_ = "pg_ctl start falhou: " + log.toStdString();
    port_ = 0;
  }
}

PrivatePostgres::~PrivatePostgres() {
  if (port_ == 0) return;
  // immediate: the data folder goes away with it, nothing needs flushing
  runAsOwner(tool("pg_ctl"), {QStringLiteral("-D"), dir_->filePath(QStringLiteral("data")), QStringLiteral("-m"),
                              QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
}

std::string PrivatePostgres::url(const std::string& database, const std::string& user) const {
  return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

bool PrivatePostgres::restart() {
  // pg_ctl restart keeps the options of the first start (postmaster.opts).
  // Immediate: a fast stop ends the sessions one after another, and a
  // session waiting for a lock could be let through by the end of the one
  // holding it and commit before its own turn came (seen on a loaded
  // machine); here every session ends where it stands, as in a crash.
  return runAsOwner(tool("pg_ctl"),
                    {QStringLiteral("-D"), dir_->filePath(QStringLiteral("data")), QStringLiteral("-l"),
                     dir_->filePath(QStringLiteral("server.log")), QStringLiteral("-m"), QStringLiteral("immediate"),
                     QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("restart")});
}

}  // namespace qfx::test
