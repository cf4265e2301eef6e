// report_bench: the shipped report 01 ("Itens de venda não lançados no
// estoque") over a whole demo database, each figure against the report's own
// query stepped bare with the sqlite3 C library in the same run.
//
// For each size (--sizes, sale items generated; default 100 000 and
// 1 000 000) a SQLite demo database is made once with `qfxdemo --scale N
// --seed 1` in <build>/bench-data and reused by later runs (its whole period
// is read from the data, so an older file serves as well). The program opens
// it as the host's database, read-only, with the tests' scripted host
// services (branch 0001, operator demo), and runs report 01 for all branches
// over the demo's whole period, each size in a fresh child process:
//
//   bare         the report's generic query with its parameters bound as
//                the engine binds them, prepared and stepped with sqlite3,
//                every column of every row read as text; one untimed pass
//                before it warms the page cache. The text bytes of all its
//                cells are the raw values the memory figures compare with.
//                Its first row is noted too: SQLite sorts every row before
//                it hands out the first, and no report page can come sooner;
//                and its own peak memory (SQLite's page cache and sorter).
//   first preview page   as the report screen does it: the page header's
//                lookups, a ReportRun (the query on a connection of its own
//                in a worker thread, the rows into the document as they come,
//                the pages laid out as they fill), and once its first page is
//                laid out the preview dialog (TReportPreview) made, shown
//                offscreen and grabbed: page 1 painted as the operator first
//                sees it, the rest still being read.
//   whole document   the same run to its last row, the preview open: every
//                row in, groups and totals closed, every page laid out.
//   PDF          print() of the whole document into a QPdfWriter: to its
//                first newPage() (page 1 painted) and to the end.
//   XLSX, CSV    exportXlsx and exportCsv of the document's table.
//   memory       the peak resident memory (VmHWM, reset to the resident size
//                before the report) over the run with its preview, and over
//                the whole with the PDF and the exports.
//   row reader   where the time goes, measured apart after the rest: the
//                engine's row reader (QueryRows) stepping the query alone,
//                every cell read as text as the bare query reads them.
#include <malloc.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "scriptedhostservices.h"
#include <hostkit/core/hostservices.h>
#include <hostkit/core/query.h>
#include <hostkit/core/routines.h>
#include <reportkit/model/reportengine.h>
#include <reportkit/model/reportexport.h>
#include <reportkit/model/reportrows.h>
#include <reportkit/model/reportrun.h>
#include <reportkit/widgets/reportpreviewdialog.h>

using namespace qfxbench;
using namespace reportkit;

namespace {

constexpr uint64_t kSeed = 1;
constexpr double kMegabyte = 1024.0 * 1024.0;

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

// Wall time and the process's processor time since a start. On a shared
// machine the gap between them is time spent waiting for a processor.
struct Moment {
  double wall = 0;
  double cpu = 0;
};

class Clock {
 public:
  Clock() : cpuStart_(cpuNow()) { wall_.start(); }
  Moment now() const { return {seconds(wall_), cpuNow() - cpuStart_}; }

 private:
  static double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
  }
  QElapsedTimer wall_;
  double cpuStart_;
};

Moment operator-(const Moment& a, const Moment& b) { return {a.wall - b.wall, a.cpu - b.cpu}; }

Moment timed(const std::function<void()>& work) {
  const Clock clock;
  work();
  return clock.now();
}

void printRow(const std::string& what, double value, double bare, const char* unit, const std::string& note = {}) {
  std::printf("%-10s %-34s %10.3f %-2s %10.3f %-2s %7.2f  %s\n", "SQLite", what.c_str(), value, unit, bare, unit,
              bare > 0 ? value / bare : 0.0, note.c_str());
  std::fflush(stdout);
}

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

// ---------------------------------------------------------------- memory

// A size line of /proc/self/status ("VmHWM", "VmRSS") in bytes, 0 when unknown.
int64_t statusBytes(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + ":", 0) == 0) return std::atoll(line.c_str() + key.size() + 1) * 1024;
  return 0;
}

// Hands the freed heap back and starts the peak afresh from the resident
// size (Linux: "5" to clear_refs). False when the kernel refuses it: the peak
// then includes what came before.
bool restartPeak() {
  malloc_trim(0);
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.close();
  return bool(out) && statusBytes("VmHWM") <= statusBytes("VmRSS") + 64 * 1024;
}

// ---------------------------------------------------------------- the data

QString binary(const char* name) { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name; }

// <build>/bench-data: beside bin/, kept between runs.
QDir dataFolder() {
  QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/../bench-data"));
  if (!dir.mkpath(QStringLiteral("."))) die("pasta bench-data");
  return QDir(dir.canonicalPath());
}

void removeDatabase(const QString& file) {
  for (const char* suffix : {"", "-wal", "-shm", ".ok"}) QFile::remove(file + QLatin1String(suffix));
}

// The demo database of a scale; the ".ok" file beside it marks a finished
// generation and holds qfxdemo's summary line.
QString demoDatabase(int64_t scale, std::string* summary, double* generationSeconds) {
  const QString file = dataFolder().filePath(QStringLiteral("report-demo-%1-seed%2.db").arg(scale).arg(kSeed));
  QFile done(file + QStringLiteral(".ok"));
  *generationSeconds = 0;
  if (QFileInfo::exists(file) && done.open(QIODevice::ReadOnly)) {
    *summary = "reused: " + done.readLine().trimmed().toStdString();
    return file;
  }
  removeDatabase(file);
  QElapsedTimer timer;
  timer.start();
  QProcess demo;
  demo.start(binary("qfxdemo"), {QStringLiteral("--db"), QStringLiteral("sqlite:") + file, QStringLiteral("--scale"),
                                 QString::number(scale), QStringLiteral("--seed"), QString::number(kSeed)});
  if (!demo.waitForFinished(3600 * 1000) || demo.exitStatus() != QProcess::NormalExit || demo.exitCode() != 0)
    die("qfxdemo: " + demo.readAllStandardError().toStdString());
  *generationSeconds = seconds(timer);
  const QByteArray firstLine = demo.readAllStandardOutput().split('\n').value(0);
  if (!done.open(QIODevice::WriteOnly) || done.write(firstLine + '\n') < 0) die("marca do banco gerado");
  *summary = "generated: " + firstLine.toStdString();
  return file;
}

// ---------------------------------------------------------------- bare SQL

sqlite3* openReadOnly(const QString& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    die("sqlite3_open_v2: " + std::string(db ? sqlite3_errmsg(db) : "?"));
  return db;
}

std::string firstText(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) die(sqlite3_errmsg(db));
  std::string text;
  if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
    text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  sqlite3_finalize(statement);
  return text;
}

struct Period {
  QDate first, last;
};

// From the first day with a sale to the last.
Period demoPeriod(const QString& file) {
  sqlite3* db = openReadOnly(file);
  const Period period{
      QDate::fromString(QString::fromStdString(firstText(db, "SELECT MIN(DTVENDA) FROM VENDA")), Qt::ISODate),
      QDate::fromString(QString::fromStdString(firstText(db, "SELECT MAX(DTVENDA) FROM VENDA")), Qt::ISODate)};
  sqlite3_close(db);
  if (!period.first.isValid() || !period.last.isValid()) die("período das vendas de demonstração");
  return period;
}

// The statement the engine prepares: "?" placeholders and the values it
// binds in their order (an unset parameter is NULL).
struct BoundSql {
  QString sql;
  QVariantList values;
};

BoundSql boundQuery(const ReportTemplate& report, const ReportParams& params) {
  const hostkit::PositionalSql positional =
      hostkit::toPositional(report.queryFor(hostkit::TADOIBQuery::kindOf(hostkit::hostDatabase())));
  BoundSql bound{positional.sql, {}};
  for (const QString& name : positional.names) {
    const ReportParam* param = params.find(name);
    bound.values << (param ? reportSqlValue(*param) : QVariant());
  }
  return bound;
}

void bindValue(sqlite3* db, sqlite3_stmt* statement, int index, const QVariant& value) {
  int rc = SQLITE_OK;
  if (value.isNull()) {
    rc = sqlite3_bind_null(statement, index);
  } else if (value.typeId() == QMetaType::Double) {
    rc = sqlite3_bind_double(statement, index, value.toDouble());
  } else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong ||
             value.typeId() == QMetaType::Bool) {
    rc = sqlite3_bind_int64(statement, index, value.toLongLong());
  } else {
    const QByteArray text = value.toString().toUtf8();
    rc = sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
  }
  if (rc != SQLITE_OK) die(std::string("sqlite3_bind: ") + sqlite3_errmsg(db));
}

struct BareRun {
  int64_t rows = 0;
  int64_t textBytes = 0;  // every cell read as text
  Moment firstRow;        // the sort done, the first row in hand
  Moment took;
  int64_t peak = 0;  // above the resident size before it: SQLite's cache and sorter
};

// Opens, prepares, binds and steps to the last row, every column read as text.
BareRun stepBare(const QString& file, const BoundSql& bound) {
  const Clock clock;
  sqlite3* db = openReadOnly(file);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, bound.sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK)
    die(std::string("sqlite3_prepare_v2: ") + sqlite3_errmsg(db));
  for (int i = 0; i < int(bound.values.size()); ++i) bindValue(db, statement, i + 1, bound.values[i]);
  BareRun run;
  const int columns = sqlite3_column_count(statement);
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (++run.rows == 1) run.firstRow = clock.now();
    for (int c = 0; c < columns; ++c) {
      sqlite3_column_text(statement, c);
      run.textBytes += sqlite3_column_bytes(statement, c);
    }
  }
  if (rc != SQLITE_DONE) die(std::string("sqlite3_step: ") + sqlite3_errmsg(db));
  sqlite3_finalize(statement);
  sqlite3_close(db);
  run.took = clock.now();
  return run;
}

// ---------------------------------------------------------------- the report

ReportTemplate reportOne() {
  return readReportTemplate(QStringLiteral(QFX_SOURCE_DIR "/reports/Qfx317/01-itens-nao-lancados.json"));
}

// As the report screen sets them with "Todas" chosen for the branches.
ReportParams allBranchesOver(const ReportTemplate& report, const Period& period) {
  ReportParams params = reportParamsOf(report, hostkit::hostConnectionName());
  params.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
  params.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QString());
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(hostkit::toDateTime(period.first));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(hostkit::toDateTime(period.last));
  return params;
}

ReportContext screenContext() {
  ReportContext context;
  context.connection = hostkit::hostConnectionName();
  context.branch = hostkit::FiliProc();
  context.operatorName = hostkit::Operador();
  context.screenCode = QStringLiteral("QFX31702");
  context.reportCode = QStringLiteral("Qfx317");
  return context;
}

// A PDF writer that notes when the first page is finished: print() asks for
// the second page only once the first is painted.
class FirstPageWriter : public QPdfWriter {
 public:
  FirstPageWriter(const QString& path, const Clock& clock) : QPdfWriter(path), clock_(clock) {}
  bool newPage() override {
    if (!firstPageDone_) firstPageDone_ = clock_.now();
    return QPdfWriter::newPage();
  }
  std::optional<Moment> firstPageDone() const { return firstPageDone_; }

 private:
  const Clock& clock_;
  std::optional<Moment> firstPageDone_;
};

struct ReportFigures {
  int rows = 0;
  int pages = 0;
  Moment firstPageLaidOut;      // from the start: the run's first page ready
  Moment previewPage;           // from the start: the preview shown with its first page painted
  Moment complete;              // from the start: every row in, every page laid out
  Moment pdfFirstPage, pdfAll;  // of the complete document
  Moment xlsx, csv;
  qint64 pdfBytes = 0, xlsxBytes = 0, csvBytes = 0;
  qsizetype tableBytes = 0;
  int64_t residentBefore = 0, peakReport = 0, peakPdf = 0, peakAll = 0;
  bool peakRestarted = false;
};

// Runs the event loop until the signal (or at once when `done`).
template <typename Signal>
void waitFor(const ReportRun& run, Signal signal, bool done) {
  if (done) return;
  QEventLoop loop;
  QObject::connect(&run, signal, &loop, &QEventLoop::quit);
  loop.exec();
}

void exportsOf(const ReportDocument& document, const QDir& out, ReportFigures& figures) {
  const QString xlsx = out.filePath(QStringLiteral("relatorio.xlsx")),
                csv = out.filePath(QStringLiteral("relatorio.csv"));
  hostkit::Status written = hostkit::success();
  figures.xlsx = timed([&] { written = exportXlsx(document.table(), document.title(), xlsx); });
  if (!written.ok()) die("exportXlsx: " + written.error().toStdString());
  figures.csv = timed([&] { written = exportCsv(document.table(), csv); });
  if (!written.ok()) die("exportCsv: " + written.error().toStdString());
  figures.xlsxBytes = QFileInfo(xlsx).size();
  figures.csvBytes = QFileInfo(csv).size();
}

void pdfOf(const ReportDocument& document, const QDir& out, ReportFigures& figures) {
  const QString pdf = out.filePath(QStringLiteral("relatorio.pdf"));
  const Clock clock;
  FirstPageWriter writer(pdf, clock);
  writer.setTitle(document.title());
  writer.setCreator(QStringLiteral("Consolidação de Vendas"));
  writer.setPageLayout(document.pageLayout());
  if (!document.print(&writer)) die("print() no QPdfWriter");
  figures.pdfAll = clock.now();
  figures.pdfFirstPage = writer.firstPageDone().value_or(figures.pdfAll);
  figures.pdfBytes = QFileInfo(pdf).size();
}

// The screen's way: the query runs in the report's worker thread, the
// preview opens at the first page and is grabbed offscreen, and the rest is
// read with it open; then the PDF and the exports of the whole.
ReportFigures runReport(const ReportTemplate& report, const ReportParams& params, const QDir& out) {
  ReportFigures figures;
  figures.peakRestarted = restartPeak();
  figures.residentBefore = statusBytes("VmRSS");
  std::optional<ReportDocument> document;
  {
    const Clock clock;
    ReportRun run(report, params, hostkit::hostConnectionName());
    run.setHeader(reportHeaderOf(report, params, screenContext()));
    run.start();
    waitFor(run, &ReportRun::firstPage, run.hasFirstPage());
    figures.firstPageLaidOut = clock.now();
    {
      TReportPreview dialog(run.document());
      dialog.show();
      dialog.grab();
      figures.previewPage = clock.now();
      waitFor(run, &ReportRun::finished, run.isFinished());
      figures.complete = clock.now();
    }
    if (!run.error().isEmpty()) die("report: " + run.error().toStdString());
    document = run.document();
  }
  figures.peakReport = statusBytes("VmHWM");
  figures.rows = document->table().rowCount();
  figures.pages = document->pageCount();
  figures.tableBytes = document->table().memoryBytes();
  pdfOf(*document, out, figures);
  figures.peakPdf = statusBytes("VmHWM");
  exportsOf(*document, out, figures);
  figures.peakAll = statusBytes("VmHWM");
  return figures;
}

// The engine's row reader alone on the host's connection, every cell read
// as text, as the bare query reads them.
Moment readerTime(const ReportTemplate& report, const ReportParams& params) {
  return timed([&] {
    const QSqlDatabase db = hostkit::hostDatabase();
    QMap<QString, QVariant> values;
    for (const QString& name : report.paramNames(hostkit::DatabaseKind::Generic))
      if (const ReportParam* p = params.find(name)) values.insert(name.toUpper(), reportSqlValue(*p));
    const auto opened =
        QueryRows::open(db, report.queryFor(hostkit::DatabaseKind::Generic), values, QStringLiteral("rpddPadrao"));
    if (!opened.ok()) die("QueryRows: " + opened.error().toStdString());
    QueryRows* rows = opened->get();
    QByteArray buffer;
    int64_t bytes = 0;
    while (rows->next())
      for (int f = 0; f < int(rows->fieldNames().size()); ++f) bytes += rows->textBytes(f, buffer).size();
    if (rows->error()) die("QueryRows: " + rows->error()->toStdString());
    if (bytes == 0) die("QueryRows: nada lido");
  });
}

// Fonts, the PDF engine and the widgets' style loaded once beforehand, as
// the host has them from its own screens before any report.
void warmUpPainting(const QDir& out) {
  const ReportDocument empty;
  {
    TReportPreview dialog(empty);
    dialog.show();
    dialog.grab();
  }
  QPdfWriter writer(out.filePath(QStringLiteral("aquecimento.pdf")));
  QPainter painter(&writer);
  for (bool bold : {false, true}) {
    QFont font;
    font.setPixelSize(80);
    font.setBold(bold);
    painter.setFont(font);
    painter.drawText(QPointF(100, 200), QStringLiteral("Página 1 de 1 · Filial 0001 - Matriz ÁÉÍÓÚ 1.234,56"));
  }
}

std::string megabytes(int64_t bytes) { return format("%.1f MB", double(bytes) / kMegabyte); }

std::string cpu(const Moment& m) { return format("cpu %.3f", m.cpu); }

void printTimes(const BareRun& bare, const ReportFigures& f, const Moment& reader) {
  const double base = bare.took.wall;
  printRow("01 first preview page (s)", f.previewPage.wall, base, "s",
           cpu(f.previewPage) + format("; first page laid out at %.3f, preview shown and painted %.3f later",
                                       f.firstPageLaidOut.wall, (f.previewPage - f.firstPageLaidOut).wall));
  printRow("01 whole document, " + thousands(f.rows) + " rows (s)", f.complete.wall, base, "s",
           cpu(f.complete) + format("; every row in, %g pages laid out, the preview open", f.pages));
  printRow("01 PDF first page (s)", f.complete.wall + f.pdfFirstPage.wall, base, "s",
           format("whole document, then print() to page 1: %.3f", f.pdfFirstPage.wall));
  printRow(
      "01 PDF, all pages (s)", f.complete.wall + f.pdfAll.wall, base, "s",
      format("whole document, then print(): %.3f, cpu %.3f; ", f.pdfAll.wall, f.pdfAll.cpu) + megabytes(f.pdfBytes));
  printRow("01 XLSX (s)", f.xlsx.wall, base, "s", cpu(f.xlsx) + "; table to file, " + megabytes(f.xlsxBytes));
  printRow("01 CSV (s)", f.csv.wall, base, "s", cpu(f.csv) + "; table to file, " + megabytes(f.csvBytes));
  printRow("01 of which: row reader (s)", reader.wall, base, "s",
           cpu(reader) + "; the engine's reader alone, every cell as text, apart");
}

void printMemory(const BareRun& bare, const ReportFigures& f) {
  const double raw = double(bare.textBytes) / kMegabyte;
  const std::string restarted = f.peakRestarted ? "" : "; peak NOT restarted: includes earlier work";
  printRow("01 peak memory, report (MB)", double(f.peakReport - f.residentBefore) / kMegabyte, raw, "MB",
           "VmHWM " + megabytes(f.residentBefore) + " -> " + megabytes(f.peakReport) +
               " (query, document, preview); table " + megabytes(f.tableBytes) + "; bare: raw values" + restarted);
  printRow("01 peak memory, with exports (MB)", double(f.peakAll - f.residentBefore) / kMegabyte, raw, "MB",
           "VmHWM -> " + megabytes(f.peakPdf) + " with the PDF, -> " + megabytes(f.peakAll) + " with XLSX and CSV" +
               restarted);
}

void benchSize(int64_t scale, const QDir& out) {
  std::string summary;
  double generation = 0;
  const QString file = demoDatabase(scale, &summary, &generation);
  if (const auto opened = hostkit::openHostDatabase({QStringLiteral("sqlite:") + file}); !opened.ok())
    die("banco do host: " + opened.error().toStdString());
  const Period period = demoPeriod(file);
  const ReportTemplate report = reportOne();
  const ReportParams params = allBranchesOver(report, period);
  const BoundSql bound = boundQuery(report, params);

  const BareRun cold = stepBare(file, bound);
  const bool restarted = restartPeak();
  const int64_t before = statusBytes("VmRSS");
  BareRun bare = stepBare(file, bound);
  bare.peak = restarted ? statusBytes("VmHWM") - before : 0;
  std::printf("SQLite     data: --scale %s, %s (%.1f s); report 01 all branches %s..%s: %s rows, raw values %s\n",
              thousands(scale).c_str(), summary.c_str(), generation, qPrintable(period.first.toString(Qt::ISODate)),
              qPrintable(period.last.toString(Qt::ISODate)), thousands(bare.rows).c_str(),
              megabytes(bare.textBytes).c_str());
  std::printf(
      "SQLite     bare query: %.3f s, cpu %.3f, its first row at %.3f s (untimed pass before it: %.3f s); "
      "its own peak memory %s\n",
      bare.took.wall, bare.took.cpu, bare.firstRow.wall, cold.took.wall, megabytes(bare.peak).c_str());
  const ReportFigures figures = runReport(report, params, out);
  if (figures.rows != bare.rows) die("the report's rows differ from the bare query's");
  const Moment reader = readerTime(report, params);
  printTimes(bare, figures, reader);
  printMemory(bare, figures);
  hostkit::closeHostDatabase();
}

std::vector<int64_t> parseSizes(const QString& text) {
  std::vector<int64_t> sizes;
  for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int64_t n = part.trimmed().toLongLong(&ok);
    if (!ok || n < 1) die("--sizes: " + part.toStdString());
    sizes.push_back(n);
  }
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

int usage(int code) {
  std::fprintf(code ? stderr : stdout,
               "report_bench [--sizes 100000,1000000]\n"
               "  report 01 over a demo database of each size (sale items generated by qfxdemo),\n"
               "  kept in <build>/bench-data and reused; figures against the bare sqlite3 query.\n"
               "  Each size runs in a child process of its own (--one N).\n");
  return code;
}

}  // namespace

// One size in this process: host services of branch 0001 and operator demo.
int benchOneSize(int64_t scale) {
  auto host = hostkit::ScriptedHostServices::install();
  host->filial = QStringLiteral("0001");
  host->operadorValue = QStringLiteral("demo");
  QTemporaryDir out;
  if (!out.isValid()) die("pasta temporária");
  warmUpPainting(QDir(out.path()));
  benchSize(scale, QDir(out.path()));
  hostkit::installHostServices(nullptr);
  return 0;
}

// Each size in a fresh process of its own: its heap and its peak owe nothing
// to the sizes before it (the C library adjusts its heap thresholds to what
// the process freed earlier, and the painting's speed follows them).
void benchApart(const std::vector<int64_t>& sizes) {
  for (int64_t scale : sizes) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--one"), QString::number(scale)});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
      die("report_bench --one " + std::to_string(scale) + " falhou");
  }
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::vector<int64_t> sizes{100000, 1000000};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--one" && i + 1 < argc) return benchOneSize(parseSizes(QString::fromLocal8Bit(argv[++i])).front());
    if (a == "--sizes" && i + 1 < argc)
      sizes = parseSizes(QString::fromLocal8Bit(argv[++i]));
    else
      return usage(a == "--help" || a == "-h" ? 0 : 2);
  }
  std::printf("report_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  std::printf("%-10s %-34s %13s %13s %7s\n", "database", "figure", "ours", "bare", "ratio");
  std::fflush(stdout);
  benchApart(sizes);
  return 0;
}
