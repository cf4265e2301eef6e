#include "db/database_options.h"

#include <QFile>
#include <QUrl>

namespace qfx::server {

namespace {

constexpr auto kUrlOption = "db";
constexpr auto kPasswordFileOption = "db-password-file";

std::string databaseUrl(const QCommandLineParser& parser) {
  if (parser.isSet(kUrlOption)) return parser.value(kUrlOption).toStdString();
  for (const char* name : {"QFX_DB_URL", "QFX_DB"})
    if (const QByteArray fromEnvironment = qgetenv(name); !fromEnvironment.isEmpty())
      return fromEnvironment.toStdString();
  return "sqlite:qfx.db";
}

bool carriesPassword(const QString& url) { return !QUrl(url).password().isEmpty(); }

}  // namespace

void addDatabaseOptions(QCommandLineParser& parser) {
  parser.addOptions({
      {kUrlOption,
       "Banco: sqlite:/caminho/arquivo.db ou postgresql://usuario@host:porta/banco[?sslmode=require] (senha por "
       "--db-password-file, PGPASSWORD ou ~/.pgpass). Padrão: $QFX_DB_URL (ou $QFX_DB), senão sqlite:qfx.db.",
       "url"},
      {kPasswordFileOption, "Arquivo com a senha do banco (legível só pelo dono).", "arquivo"},
  });
}

Result<DbConfig> databaseFromOptions(const QCommandLineParser& parser) {
  if (parser.isSet(kUrlOption) && carriesPassword(parser.value(kUrlOption)))
    return invalidArgument(
        "a senha do banco em --db ficaria visível na lista de processos: use --db-password-file, PGPASSWORD, "
        "~/.pgpass ou $QFX_DB_URL");
  auto config = DbConfig::parse(databaseUrl(parser));
  if (!config) return config;
  if (parser.isSet(kPasswordFileOption)) {
    auto password = readOwnerOnlyFile(parser.value(kPasswordFileOption));
    if (!password) return password.error();
    config->password = QString::fromUtf8(*password);
  }
  return config;
}

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

}  // namespace qfx::server
