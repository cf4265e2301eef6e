// qfxdemo: creates the demo database (schema and deterministic demo data).
#include <sys/stat.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "common/log.h"
#include "db/database.h"
#include "db/database_options.h"
#include "db/migrations.h"
#include "demo/demo_export.h"
#include "demo/demo_generator.h"
#include "qfx_version.h"

using namespace qfx::server;

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "qfxdemo: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  umask(077);  // the database it creates is the owner's alone
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("qfxdemo");
  QCoreApplication::setApplicationVersion(QFX_VERSION);
  QCommandLineParser p;
  p.setApplicationDescription(
      "Cria o banco de demonstração da Consolidação de Vendas: esquema e dados determinísticos\n"
      "(mesma semente e mesma data, mesmos dados). O banco deve estar vazio.");
  p.addHelpOption();
  p.addVersionOption();
  addDatabaseOptions(p);
  p.addOptions({
      {"scale", "Quantidade aproximada de itens de venda (600 para a demonstração, milhões para medir).", "itens",
       "600"},
      {"seed", "Semente do gerador.", "n", "1"},
      {"today", "Data de referência AAAA-MM-DD (padrão: hoje); as vendas cobrem os 30 dias até ela.", "data"},
      {"import-files",
       "Grava também os dados como arquivos de importação (um CSV por tipo, ver docs/importacao.md) na pasta.",
       "pasta"},
      {"nfce", "Grava também as vendas de um dia como NFC-e autorizadas (um XML por venda) na pasta.", "pasta"},
      {"nfce-dia", "O dia das vendas gravadas como NFC-e, AAAA-MM-DD (padrão: o dia anterior à data de referência).",
       "data"},
      {"nfce-filial", "Grava como NFC-e só as vendas desta filial (padrão: todas).", "filial"},
  });
  p.process(app);
  log::setLevel(log::Level::Warn);

  demo::Options options;
  bool ok = false;
  options.items = p.value("scale").toLongLong(&ok);
  if (!ok || options.items < 1) return fail("--scale deve ser um número positivo");
  options.seed = p.value("seed").toULongLong(&ok);
  if (!ok) return fail("--seed deve ser um número inteiro não negativo");
  if (p.isSet("today")) {
    options.today = QDate::fromString(p.value("today"), QStringLiteral("yyyy-MM-dd"));
    if (!options.today.isValid()) return fail("--today deve ser uma data AAAA-MM-DD");
  }
  auto config = databaseFromOptions(p);
  if (!config) return fail(config.error().message);
  Database database(*config);
  if (auto migrated = migrations::migrate(database); !migrated) return fail(migrated.error().message);

  QElapsedTimer timer;
  timer.start();
  auto summary = demo::generate(database, options);
  if (!summary) return fail(summary.error().message);
  std::printf("banco %s: %lld vendas, %lld itens, %lld produtos, %lld clientes, %lld reduções Z em %.1f s\n",
              config->describe().c_str(), (long long)summary->sales, (long long)summary->items,
              (long long)summary->products, (long long)summary->customers, (long long)summary->zReductions,
              timer.elapsed() / 1000.0);
  if (p.isSet("import-files")) {
    auto db = database.connection();
    if (!db) return fail(db.error().message);
    if (auto written = demo::writeImportFiles(*db, p.value("import-files")); !written)
      return fail(written.error().message);
    std::printf("arquivos de importação em %s\n", p.value("import-files").toLocal8Bit().constData());
  }
  if (p.isSet("nfce")) {
    demo::NfceSelection which{options.today.addDays(-1), p.value("nfce-filial")};
    if (p.isSet("nfce-dia")) {
      which.day = QDate::fromString(p.value("nfce-dia"), QStringLiteral("yyyy-MM-dd"));
      if (!which.day.isValid()) return fail("--nfce-dia deve ser uma data AAAA-MM-DD");
    }
    auto db = database.connection();
    if (!db) return fail(db.error().message);
    auto written = demo::writeNfceFiles(*db, p.value("nfce"), which);
    if (!written) return fail(written.error().message);
    std::printf(
        "%lld NFC-e de %s em %s (%lld cancelamentos; %lld vendas ficaram de fora: devolvidas, ou de caixa sem série de "
        "NFC-e)\n",
        (long long)written->documents, which.day.toString(QStringLiteral("dd/MM/yyyy")).toUtf8().constData(),
        p.value("nfce").toLocal8Bit().constData(), (long long)written->cancellations, (long long)written->leftOut);
  }
  std::printf("%s\n", demo::credentialsText().c_str());
  std::printf("%s", demo::tourText(options.today).c_str());
  return 0;
}
