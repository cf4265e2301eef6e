#include "hostsettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <optional>

#include <hostkit/core/netconnection.h>
#include <hostkit/core/passwordfile.h>

namespace qfxhost {

namespace {

// The first candidate that exists, else the first one.
QString firstExisting(const QStringList& candidates) {
  for (const auto& c : candidates)
    if (QFileInfo::exists(c)) return c;
  return candidates.first();
}

// Beside the binaries in a build folder; under ../lib/qfx and ../share/qfx when installed.
HostSettings defaults() {
  const QDir bin(QCoreApplication::applicationDirPath());
  HostSettings s;
  s.databaseUrl =
      QStringLiteral("sqlite:") + firstExisting({bin.filePath(QStringLiteral("demo.db")),
                                                 QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                                                     .filePath(QStringLiteral("demo.db"))});
  s.reportsFolder =
      firstExisting({bin.filePath(QStringLiteral("reports")), bin.filePath(QStringLiteral("../share/qfx/reports"))});
  s.modulePath = firstExisting(
      {bin.filePath(QStringLiteral("libqfx31700.so")), bin.filePath(QStringLiteral("../lib/qfx/libqfx31700.so"))});
  return s;
}

// The list of servers; settings of older versions name one, in host and porta.
constexpr auto kServerListKey = "servidor/enderecos";

// An error text when the stored list of servers cannot be read (the single
// server of the older keys is kept then).
hostkit::Status readStored(HostSettings& s) {
  QSettings stored;
  s.server.host = stored.value(QStringLiteral("servidor/host"), s.server.host).toString();
  s.server.port = stored.value(QStringLiteral("servidor/porta"), s.server.port).toInt();
  hostkit::Status listRead = hostkit::success();
  if (stored.contains(QLatin1String(kServerListKey))) {
    const auto list = hostkit::parseServerList(stored.value(QLatin1String(kServerListKey)).toString());
    if (list.ok())
      s.server.setServers(*list);
    else
      listRead = hostkit::Status::failure(QStringLiteral("%1\nEm %2, chave %3; corrija-a ou informe --server.")
                                              .arg(list.error(), stored.fileName(), QLatin1String(kServerListKey)));
  }
  s.server.tls = stored.value(QStringLiteral("servidor/tls"), s.server.tls).toBool();
  s.server.caFile = stored.value(QStringLiteral("servidor/ca"), s.server.caFile).toString();
  s.databaseUrl = stored.value(QStringLiteral("banco/url"), s.databaseUrl).toString();
  // older versions kept a password given in the URL: it leaves the file now
  if (QUrl url(s.databaseUrl); !url.password().isEmpty()) {
    url.setPassword(QString());
    s.databaseUrl = url.toString();
    stored.setValue(QStringLiteral("banco/url"), s.databaseUrl);
    s.settingsNotice = QStringLiteral(
        "A senha do banco estava gravada nas configurações e foi retirada; informe-a com "
        "--db-password-file ou em ~/.pgpass.");
  }
  s.reportsFolder = stored.value(QStringLiteral("relatorios/pasta"), s.reportsFolder).toString();
  s.helpCollection = stored.value(QStringLiteral("ajuda/colecao"), s.helpCollection).toString();
  s.modulePath = stored.value(QStringLiteral("modulo/arquivo"), s.modulePath).toString();
  s.branch = stored.value(QStringLiteral("login/filial"), s.branch).toString();
  return listRead;
}

}  // namespace

hostkit::Result<HostSettings> loadSettings(const QStringList& arguments) {
  HostSettings s = defaults();
  const hostkit::Status storedRead = readStored(s);

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Consolidação de Vendas - aplicação hospedeira"));
  parser.addHelpOption();
  const QCommandLineOption server(
      {QStringLiteral("s"), QStringLiteral("server")},
      QStringLiteral("Servidores de aplicação do mesmo banco, em ordem de preferência (host:porta[,host:porta...])."),
      QStringLiteral("host:porta,..."));
  const QCommandLineOption tls(QStringLiteral("tls"), QStringLiteral("Usa TLS com o servidor."));
  const QCommandLineOption ca(QStringLiteral("ca"), QStringLiteral("Certificado da autoridade (PEM)."),
                              QStringLiteral("arquivo"));
  const QCommandLineOption db(
      QStringLiteral("db"),
      QStringLiteral("Banco compartilhado (sqlite:... ou postgresql://usuario@host:porta/banco[?sslmode=require]), "
                     "sem senha."),
      QStringLiteral("url"));
  const QCommandLineOption dbPasswordFile(
      QStringLiteral("db-password-file"),
      QStringLiteral("Arquivo com a senha do banco (legível só pelo dono); senão ~/.pgpass ou PGPASSWORD."),
      QStringLiteral("arquivo"));
  const QCommandLineOption reports(QStringLiteral("reports"), QStringLiteral("Pasta de relatórios."),
                                   QStringLiteral("pasta"));
  const QCommandLineOption manual(QStringLiteral("manual"), QStringLiteral("Coleção da ajuda (.qhc)."),
                                  QStringLiteral("arquivo"));
  const QCommandLineOption module(QStringLiteral("module"), QStringLiteral("Biblioteca do módulo."),
                                  QStringLiteral("arquivo"));
  const QCommandLineOption op(QStringLiteral("operator"), QStringLiteral("Operador (entra sem perguntar)."),
                              QStringLiteral("codigo"));
  // a password on the command line would show in every user's process list
  QCommandLineOption password(QStringLiteral("password"), QString(), QStringLiteral("senha"));
  password.setFlags(QCommandLineOption::HiddenFromHelp);
  const QCommandLineOption passwordFile(
      QStringLiteral("password-file"),
      QStringLiteral("Arquivo com a senha do operador (legível só pelo dono); ou QFX_PASSWORD no ambiente."),
      QStringLiteral("arquivo"));
  const QCommandLineOption branch(QStringLiteral("branch"), QStringLiteral("Filial de trabalho."),
                                  QStringLiteral("filial"));
  const QCommandLineOption shots(QStringLiteral("screenshots"),
                                 QStringLiteral("Percorre as telas, salva capturas na pasta e sai."),
                                 QStringLiteral("pasta"));
  // answered by main() before the window system starts; listed here for --help
  const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Mostra a versão e termina."));
  parser.addOptions({server, tls, ca, db, dbPasswordFile, reports, manual, module, op, password, passwordFile, branch,
                     shots, version});
  using Loaded = hostkit::Result<HostSettings>;
  if (!parser.parse(arguments)) return Loaded::failure(parser.errorText());
  if (parser.isSet(QStringLiteral("help"))) return Loaded::failure(parser.helpText());

  if (parser.isSet(server)) {
    const auto list = hostkit::parseServerList(parser.value(server));
    if (!list.ok()) return Loaded::failure(list.error());
    s.server.setServers(*list);
  } else if (!storedRead.ok()) {
    return Loaded::failure(storedRead.error());
  }
  if (parser.isSet(tls)) s.server.tls = true;
  if (parser.isSet(ca)) s.server.caFile = parser.value(ca);
  // paths given relative to where the host was started are kept absolute
  const auto absolute = [](const QString& path) { return QFileInfo(path).absoluteFilePath(); };
  if (parser.isSet(db)) {
    s.databaseUrl = parser.value(db);
    if (!QUrl(s.databaseUrl).password().isEmpty())
      return Loaded::failure(QStringLiteral(
          "--db não aceita a senha no endereço: ficaria visível na lista de processos e gravada nas configurações. "
          "Use --db-password-file (arquivo só do dono) ou ~/.pgpass."));
    if (s.databaseUrl.startsWith(QLatin1String("sqlite:")))
      s.databaseUrl = QStringLiteral("sqlite:") + absolute(s.databaseUrl.mid(7));
  }
  if (parser.isSet(reports)) s.reportsFolder = absolute(parser.value(reports));
  if (parser.isSet(manual)) s.helpCollection = absolute(parser.value(manual));
  if (parser.isSet(module)) s.modulePath = absolute(parser.value(module));
  if (parser.isSet(op)) s.operatorCode = parser.value(op);
  if (parser.isSet(password))
    return Loaded::failure(
        QStringLiteral("--password não é aceito: a senha ficaria visível na lista de processos. "
                       "Use a variável QFX_PASSWORD ou --password-file."));
  if (parser.isSet(passwordFile)) {
    const auto read = hostkit::readPasswordFile(parser.value(passwordFile));
    if (read.ok())
      s.password = *read;
    else
      s.passwordRefusal = read.error();
  } else if (qEnvironmentVariableIsSet("QFX_PASSWORD")) {
    s.password = qEnvironmentVariable("QFX_PASSWORD");
  }
  if (parser.isSet(dbPasswordFile)) {
    const auto read = hostkit::readPasswordFile(parser.value(dbPasswordFile));
    if (!read.ok()) return Loaded::failure(read.error());
    s.databasePassword = *read;
  }
  if (s.server.tls && !s.server.caFile.isEmpty()) {
    // without it the channel would quietly trust the system's authorities instead
    QFile ca(s.server.caFile);
    if (!ca.open(QIODevice::ReadOnly))
      return Loaded::failure(QStringLiteral("Não foi possível ler o certificado da autoridade (--ca) %1: %2. Corrija "
                                            "o caminho ou informe outro com --ca.")
                                 .arg(s.server.caFile, ca.errorString()));
  }
  if (parser.isSet(branch)) s.branch = parser.value(branch);
  if (parser.isSet(shots)) s.screenshotDir = parser.value(shots);
  return s;
}

void saveSettings(const HostSettings& s) {
  QSettings stored;
  stored.setValue(QLatin1String(kServerListKey), hostkit::serverListText(s.server.servers()));
  // the first server also where older versions look for it
  stored.setValue(QStringLiteral("servidor/host"), s.server.host);
  stored.setValue(QStringLiteral("servidor/porta"), s.server.port);
  stored.setValue(QStringLiteral("servidor/tls"), s.server.tls);
  stored.setValue(QStringLiteral("servidor/ca"), s.server.caFile);
  stored.setValue(QStringLiteral("banco/url"), s.databaseUrl);
  stored.setValue(QStringLiteral("relatorios/pasta"), s.reportsFolder);
  // only a manual named on purpose is kept; otherwise the host keeps looking in its default places
  if (s.helpCollection.isEmpty())
    stored.remove(QStringLiteral("ajuda/colecao"));
  else
    stored.setValue(QStringLiteral("ajuda/colecao"), s.helpCollection);
  stored.setValue(QStringLiteral("login/filial"), s.branch);
  stored.sync();
  // it names servers and databases: the operator's alone, whatever an older version left
  QFile::setPermissions(stored.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

}  // namespace qfxhost
