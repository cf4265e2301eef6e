// failover_bench: two application servers (qfxserver child processes) on one
// database and a host connection listing both. The server in use is killed
// (SIGKILL) and the figures say how long the connection takes to call the
// other one. The killed server starts again on its port before the next
// round, and the connection stays where it went, so the rounds kill the two
// servers in turn.
//
//   failover_bench [--pg URL] [--rounds N] [--no-sqlite]
//
// For SQLite always, and PostgreSQL with --pg URL or $QFX_TEST_PG_URL. The
// call is GetParamFilial of branch 0001 (one row) on the demo data. Half of
// the rounds each:
//   noticed      from the kill until the connection knows its server is gone,
//                with no call made meanwhile;
//   next call    the call made then: the health check of the list in order
//                (the dead server refuses at once), the connection to the
//                other, the call itself;
//   at once      calls made from the moment of the kill until one succeeds:
//                the time to that success, and the calls that failed first
//                (sent into the dead connection before its loss was known).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench_support.h"
#include <hostkit/core/netconnection.h>

using namespace qfxbench;
using hostkit::RemoteArg;
using hostkit::TNetConnection;

namespace {

void runToEnd(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    die(program.toStdString() + ": " + p.readAll().toStdString());
}

bool callOnce(TNetConnection& net) {
  return net.AppServer().Invoke(QStringLiteral("GetParamFilial"), {RemoteArg::Text(QStringLiteral("0001"))}).ok();
}

double millisecondsSince(const QElapsedTimer& clock) { return double(clock.nsecsElapsed()) / 1e6; }

struct Figures {
  std::vector<double> noticed, nextCall, atOnce;
  int failedAtOnce = 0;
};

Figures measure(Store& store, int rounds) {
  const std::string url = store.create("failover");
  runToEnd(siblingBinary("qfxdemo"), {"--db", QString::fromStdString(url), "--scale", "600", "--seed", "1"});
  QTemporaryDir dir;
  ServerProcess first(url, dir.filePath("porta1")), second(url, dir.filePath("porta2"));
  first.start();
  second.start();

  TNetConnection net;
  net.Host = QStringLiteral("127.0.0.1");
  net.Port = first.port();
  net.Alternates = {{QStringLiteral("127.0.0.1"), second.port()}};
  net.CallTimeoutMs = 15000;
  const auto login = net.Login(QStringLiteral("demo"), QStringLiteral("demo"));
  if (!login.ok()) die("login: " + login.error().toStdString());

  Figures figures;
  for (int round = 0; round < rounds; ++round) {
    if (!callOnce(net)) die("a chamada antes da queda falhou");
    ServerProcess& inUse = net.ServerInUse() == first.address() ? first : second;
    QElapsedTimer clock;
    clock.start();
    inUse.kill();
    if (round % 2 == 0) {
      while (!net.ServerInUse().isEmpty()) QThread::usleep(100);
      figures.noticed.push_back(millisecondsSince(clock));
      QElapsedTimer call;
      call.start();
      if (!callOnce(net)) die("a chamada depois da queda falhou");
      figures.nextCall.push_back(millisecondsSince(call));
    } else {
      while (!callOnce(net)) {
        ++figures.failedAtOnce;
        if (clock.elapsed() > 15000) die("nenhuma chamada atendida em 15 s depois da queda");
      }
      figures.atOnce.push_back(millisecondsSince(clock));
    }
    inUse.start();
  }
  net.SetConnected(false);
  first.kill();
  second.kill();
  store.drop("failover");
  return figures;
}

std::string summary(std::vector<double> values) {
  if (values.empty()) return "-";
  std::sort(values.begin(), values.end());
  char text[96];
  std::snprintf(text, sizeof text, "median %7.2f ms  min %7.2f  max %7.2f  (%zu)", values[values.size() / 2],
                values.front(), values.back(), values.size());
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::string pg;
  if (const char* env = std::getenv("QFX_TEST_PG_URL")) pg = env;
  int rounds = 20;
  bool sqlite = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pg" && i + 1 < argc) {
      pg = argv[++i];
    } else if (a == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
      if (rounds < 2) die("--rounds: pelo menos 2");
    } else if (a == "--no-sqlite") {
      sqlite = false;
    } else {
      std::fprintf(stderr,
                   "uso: failover_bench [--pg URL] [--rounds 20] [--no-sqlite]\n"
                   "  --pg URL   também em PostgreSQL (padrão: $QFX_TEST_PG_URL); o usuário cria bancos\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  std::vector<std::unique_ptr<Store>> stores;
  if (sqlite) stores.push_back(std::make_unique<SQLiteStore>());
  if (!pg.empty()) stores.push_back(std::make_unique<PostgresStore>(pg));

  std::printf("failover_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  std::printf("two qfxserver on one database, the one in use killed (SIGKILL) %d times\n\n", rounds);
  for (auto& store : stores) {
    const Figures f = measure(*store, rounds);
    std::printf("%s\n", store->name().c_str());
    std::printf("  kill -> loss noticed, no call meanwhile   %s\n", summary(f.noticed).c_str());
    std::printf("  then the next call, on the other server   %s\n", summary(f.nextCall).c_str());
    std::printf("  kill -> first success, calling at once    %s, %d calls failed before\n", summary(f.atOnce).c_str(),
                f.failedAtOnce);
  }
  std::printf("load average %s\n", loadAverage().c_str());
  return 0;
}
