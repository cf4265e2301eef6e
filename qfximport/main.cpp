// qfximport: imports registrations, sales and Z reductions from CSV files
// through the application server, which checks and writes them.
//
//   qfximport [--testar] [--server HOST:PORTA] [--operator CODIGO] [--password-file ARQ] ARQUIVOS|PASTAS...
//   qfximport --pasta PASTA ...   (the NFC-e a folder has that are new)
//
// Exit status: 0 imported (or, with --testar, nothing would be refused);
// 1 something was refused and nothing was written; 2 nothing could be done
// (wrong options, login, server gone, a file unreadable).
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "drop_folder.h"
#include "import_client.h"
#include <hostkit/core/passwordfile.h>
#include <proto/contract.h>

namespace {

constexpr int kImported = 0, kRefused = 1, kFailed = 2;

int fail(const QString& message) {
  std::fprintf(stderr, "qfximport: %s\n", message.toLocal8Bit().constData());
  return kFailed;
}

QString thousands(qint64 n) {
  QString digits = QString::number(n < 0 ? -n : n);
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char('.'));
  return n < 0 ? QLatin1Char('-') + digits : digits;
}

// One line on the terminal, written over: a bar, the lines (items) sent and their pace.
void drawProgress(const qfximport::Progress& p, qint64 elapsedMs) {
  constexpr int width = 30;
  const double done = p.bytesTotal > 0 ? double(p.bytesSent) / double(p.bytesTotal) : 1.0;
  const int filled = int(done * width);
  const double perSecond = elapsedMs > 0 ? double(p.lines) * 1000.0 / double(elapsedMs) : 0.0;
  std::fprintf(stderr, "\r[%s%s] %3d%%  %s itens  %s itens/s ", QString(filled, QLatin1Char('#')).toUtf8().constData(),
               QString(width - filled, QLatin1Char(' ')).toUtf8().constData(), int(done * 100),
               thousands(p.lines).toUtf8().constData(), thousands(qint64(perSecond)).toUtf8().constData());
  std::fflush(stderr);
}

void printSummary(const qfx::rpc::ImportaDadosResposta& reply, bool dryRun) {
  std::printf("%-13s %10s %10s %10s %10s %10s\n", "tipo", "incluídos", "alterados", "iguais", "recusados", "itens");
  for (const auto& c : reply.counts())
    std::printf(
        "%-13s %10s %10s %10s %10s %10s\n", c.kind().c_str(), thousands(qint64(c.inserted())).toUtf8().constData(),
        thousands(qint64(c.updated())).toUtf8().constData(), thousands(qint64(c.unchanged())).toUtf8().constData(),
        thousands(qint64(c.refused())).toUtf8().constData(),
        c.items() ? thousands(qint64(c.items())).toUtf8().constData() : "");
  for (const auto& p : reply.problems()) {
    std::printf("%s:%llu:%s%s %s\n", p.file_name().c_str(), static_cast<unsigned long long>(p.line()),
                p.column().empty() ? "" : " ", p.column().c_str(), p.reason().c_str());
  }
  if (reply.problem_count() > uint64_t(reply.problems_size()))
    std::printf("... e mais %llu problemas\n",
                static_cast<unsigned long long>(reply.problem_count() - uint64_t(reply.problems_size())));
  if (reply.problem_count() > 0)
    std::printf("%s problemas: nada foi gravado. Corrija os arquivos e importe todos de novo.\n",
                thousands(qint64(reply.problem_count())).toUtf8().constData());
  else if (dryRun)
    std::printf("Teste: nenhum problema; nada foi gravado (importe sem --testar para gravar).\n");
  else
    std::printf("Importação gravada: %s linhas.\n", thousands(qint64(reply.lines())).toUtf8().constData());
}

int runDropFolder(const qfximport::Connection& connection, const QString& folder) {
  const auto run = qfximport::importDropFolder(connection, folder);
  if (!run.ok()) return fail(run.error());
  for (const auto& p : run->problems) std::printf("%s\n", p.toUtf8().constData());
  std::printf(
      "NFC-e: %d importadas, %d já importadas antes, %d recusadas, %d ainda sendo gravadas (ficam para a "
      "próxima vez)\n",
      run->imported, run->skipped, run->refused, run->waiting);
  return run->refused > 0 ? kRefused : kImported;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qfximport"));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Importa cadastros, vendas e reduções Z de arquivos CSV pelo servidor de aplicação."));
  parser.addHelpOption();
  const QCommandLineOption dryRun(QStringLiteral("testar"), QStringLiteral("Confere e conta sem gravar nada."));
  const QCommandLineOption server(
      {QStringLiteral("s"), QStringLiteral("server")},
      QStringLiteral("Servidor de aplicação (padrão 127.0.0.1:%1).").arg(qfx::contract::kDefaultPort),
      QStringLiteral("host:porta"), QStringLiteral("127.0.0.1:%1").arg(qfx::contract::kDefaultPort));
  const QCommandLineOption tls(QStringLiteral("tls"), QStringLiteral("Usa TLS com o servidor."));
  const QCommandLineOption ca(QStringLiteral("ca"), QStringLiteral("Certificado da autoridade (PEM)."),
                              QStringLiteral("arquivo"));
  const QCommandLineOption op(QStringLiteral("operator"), QStringLiteral("Operador (ou QFX_OPERATOR no ambiente)."),
                              QStringLiteral("codigo"));
  const QCommandLineOption passwordFile(
      QStringLiteral("password-file"),
      QStringLiteral("Arquivo com a senha do operador (legível só pelo dono); ou QFX_PASSWORD no ambiente."),
      QStringLiteral("arquivo"));
  const QCommandLineOption dropFolder(
      QStringLiteral("pasta"),
      QStringLiteral("Importa as NFC-e novas da pasta (as já importadas, pela chave de acesso, ficam de fora)."),
      QStringLiteral("pasta"));
  parser.addOptions({dryRun, server, tls, ca, op, passwordFile, dropFolder});
  parser.addPositionalArgument(QStringLiteral("arquivos"),
                               QStringLiteral("Arquivos .csv, NFC-e .xml ou pastas com eles."));
  parser.process(app);

  const QString operatorCode = parser.isSet(op) ? parser.value(op) : qEnvironmentVariable("QFX_OPERATOR");
  if (operatorCode.isEmpty()) return fail(QStringLiteral("informe o operador (--operator ou QFX_OPERATOR)"));
  QString password;
  if (parser.isSet(passwordFile)) {
    auto read = hostkit::readPasswordFile(parser.value(passwordFile));
    if (!read.ok()) return fail(read.error());
    password = *read;
  } else if (qEnvironmentVariableIsSet("QFX_PASSWORD")) {
    password = qEnvironmentVariable("QFX_PASSWORD");
  } else {
    return fail(QStringLiteral("informe a senha em QFX_PASSWORD ou num arquivo (--password-file)"));
  }
  std::vector<qfximport::ImportFile> files;
  if (!parser.isSet(dropFolder)) {
    auto collected = qfximport::collectFiles(parser.positionalArguments());
    if (!collected.ok()) return fail(collected.error());
    files = std::move(*collected);
  }
  auto connection = qfximport::login(parser.value(server).toStdString(), parser.isSet(tls), parser.value(ca),
                                     operatorCode.toStdString(), password.toStdString());
  if (!connection.ok()) return fail(QStringLiteral("login: %1").arg(connection.error()));
  if (parser.isSet(dropFolder)) return runDropFolder(*connection, parser.value(dropFolder));

  const bool terminal = isatty(STDERR_FILENO);
  QElapsedTimer clock;
  clock.start();
  qfximport::Progress last;
  auto outcome = qfximport::importFiles(*connection, files, parser.isSet(dryRun), [&](const qfximport::Progress& p) {
    last = p;
    if (terminal) drawProgress(p, clock.elapsed());
  });
  if (terminal) std::fprintf(stderr, "\n");
  if (!outcome.ok) return fail(outcome.error);
  printSummary(outcome.reply, parser.isSet(dryRun));
  const qint64 ms = clock.elapsed();
  std::fprintf(
      stderr, "%s linhas em %.1f s (%s itens/s)\n", thousands(qint64(outcome.reply.lines())).toUtf8().constData(),
      double(ms) / 1000.0,
      thousands(ms > 0 ? qint64(double(outcome.reply.lines()) * 1000.0 / double(ms)) : 0).toUtf8().constData());
  return outcome.reply.problem_count() > 0 ? kRefused : kImported;
}
