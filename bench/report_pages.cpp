// report_pages: the first page of each shipped report as a picture for the
// README, from a fresh demo database (qfxdemo --scale 600 --seed 42, dated
// today), as the host prints them for branch 0001 and operator demo:
//
//   relatorio-01-pagina.png  report 01, all branches, the last 30 days
//   relatorio-02-pagina.png  report 02 for the demo's "Prod_NRelacReti" case:
//                            branch 0001, store 01, withdrawal type 02, days
//                            D-29..D-8, every other choice "all" (as the
//                            consolidation screen passes them)
//
// Each report is exported to PDF and its page 1 rendered with
// `pdftoppm -png -r 80` (poppler-utils).
//
//   report_pages [output folder]     (default: <source>/docs/screenshots)
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "scriptedhostservices.h"
#include <hostkit/core/hostservices.h>
#include <hostkit/core/query.h>
#include <reportkit/model/reportengine.h>

using namespace reportkit;

namespace {

[[noreturn]] void fail(const QString& message) {
  std::fprintf(stderr, "report_pages: %s\n", qPrintable(message));
  std::exit(1);
}

void runToEnd(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    fail(program + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()));
}

QString binary(const char* name) { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name; }

ReportTemplate shippedReport(const char* file) {
  return readReportTemplate(QStringLiteral(QFX_SOURCE_DIR "/reports/Qfx317/") + QLatin1String(file));
}

void setText(ReportParams& params, const char* name, const QString& value) {
  params.ParamByName(QLatin1String(name)).SetAsString(value);
}

// Report 01: every branch, the 30 days up to today.
ReportParams lastThirtyDays(const ReportTemplate& report, const QDate& today) {
  ReportParams params = reportParamsOf(report, hostkit::hostConnectionName());
  setText(params, "P_TCDFILIAL", QStringLiteral("T"));
  setText(params, "P_CDFILIAL", QString());
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(hostkit::toDateTime(today.addDays(-29)));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(hostkit::toDateTime(today));
  return params;
}

// Report 02 with what the consolidation screen passes for the demo's
// refusal on withdrawal type 02: its entries, the period, and "all" for
// every list of the filter.
ReportParams withdrawalTypeRefusal(const ReportTemplate& report, const QDate& today) {
  ReportParams params = reportParamsOf(report, hostkit::hostConnectionName());
  setText(params, "P_CDFILIAL", QStringLiteral("0001"));
  setText(params, "P_CDLOJA", QStringLiteral("01"));
  setText(params, "P_CDTIPORETI", QStringLiteral("02"));
  params.ParamByName(QStringLiteral("P_DTVENDAINI")).SetAsDateTime(hostkit::toDateTime(today.addDays(-29)));
  params.ParamByName(QStringLiteral("P_DTVENDAFIM")).SetAsDateTime(hostkit::toDateTime(today.addDays(-8)));
  for (const char* all : {"P_TCDCAIXA", "P_TCDCLIENTE", "P_TCDCCUSCLIE", "P_TCDPRODUTO"})
    setText(params, all, QStringLiteral("T"));
  for (const char* all : {"P_TODASVND", "P_TCDTIPOCONS"}) setText(params, all, QStringLiteral("S"));
  for (const char* none : {"P_LSTVENDAS", "P_CDCAIXA", "P_CDTIPOCONS", "P_CDCLIENTE", "P_NOMEINI", "P_NOMEFIN",
                           "P_CDCCUSCLIE", "P_CDPRODUTO"})
    setText(params, none, QString());
  return params;
}

// The report as the host prints it, page 1 saved as <png>.
void savePageOne(const ReportTemplate& report, const ReportParams& params, const QString& pdf, const QString& png) {
  ReportContext context;
  context.connection = hostkit::hostConnectionName();
  context.branch = hostkit::FiliProc();
  context.operatorName = hostkit::Operador();
  context.screenCode = QStringLiteral("QFX31702");
  context.reportCode = QStringLiteral("Qfx317");
  const ReportDocument document = buildReportDocument(report, params, context);
  if (document.table().isEmpty()) fail(report.title + QStringLiteral(": nenhuma linha"));
  if (const auto written = document.exportPdf(pdf); !written.ok()) fail(written.error());
  QString stem = png;
  stem.chop(4);  // pdftoppm adds ".png"
  runToEnd(QStringLiteral("pdftoppm"),
           {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-f"),
            QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"), pdf, stem});
  std::printf("%s: %lld linhas, %d páginas -> %s\n", qPrintable(report.title),
              static_cast<long long>(document.table().rowCount()), document.pageCount(), qPrintable(png));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(QFX_SOURCE_DIR "/docs/screenshots"));
  if (!out.mkpath(QStringLiteral("."))) fail(QStringLiteral("pasta de saída ") + out.path());
  QTemporaryDir work;
  if (!work.isValid()) fail(QStringLiteral("pasta temporária"));

  const QDate today = QDate::currentDate();
  const QString database = work.filePath(QStringLiteral("demo.db"));
  runToEnd(binary("qfxdemo"), {QStringLiteral("--db"), QStringLiteral("sqlite:") + database, QStringLiteral("--scale"),
                               QStringLiteral("600"), QStringLiteral("--seed"), QStringLiteral("42"),
                               QStringLiteral("--today"), today.toString(Qt::ISODate)});
  if (const auto opened = hostkit::openHostDatabase({QStringLiteral("sqlite:") + database}); !opened.ok())
    fail(opened.error());
  auto host = hostkit::ScriptedHostServices::install();
  host->filial = QStringLiteral("0001");
  host->operadorValue = QStringLiteral("demo");

  const ReportTemplate first = shippedReport("01-itens-nao-lancados.json");
  savePageOne(first, lastThirtyDays(first, today), work.filePath(QStringLiteral("relatorio-01.pdf")),
              out.filePath(QStringLiteral("relatorio-01-pagina.png")));
  const ReportTemplate second = shippedReport("02-produtos-sem-tipo-retirada.json");
  savePageOne(second, withdrawalTypeRefusal(second, today), work.filePath(QStringLiteral("relatorio-02.pdf")),
              out.filePath(QStringLiteral("relatorio-02-pagina.png")));

  hostkit::closeHostDatabase();
  hostkit::installHostServices(nullptr);
  return 0;
}
