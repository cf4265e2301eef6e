// The application server goes away while the screen waits for it: killed in
// the middle of the consolidation run, or frozen during a list load. The
// screen says so through the host's services (the server lost, or no answer
// within the call's deadline), closes its busy animation and keeps the rows
// it had; the database holds nothing of the interrupted run. With two servers
// on one database, the screen's next call goes to the other on the same
// session, and a run cut short posts the rest, each item once.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "backend.h"
#include "child_server.h"
#include "consolidation_fixture.h"
#include "db/database.h"
#include "demo/demo_generator.h"
#include "harness.h"
#include "posting_support.h"
#include "reply_cutter.h"
#include <hostkit/core/netconnection.h>
#include <hostkit/core/query.h>
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/module/package.h>
#include <qfx31700/navigation/modulestate.h>

using namespace qfx;
using namespace qfxtest;
using namespace hostkit;

namespace {

// SIGSTOP reaches a busy machine's threads some time after kill() returns:
// a call made meanwhile may still be answered. True once every thread of
// the process has stopped (state T).
bool waitUntilStopped(qint64 pid) {
  for (int i = 0; i < 500; ++i) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
      const QByteArray line = stat.readAll();
      const qsizetype end = line.lastIndexOf(')');
      if (end > 0 && line.mid(end + 2, 1) == "T") return true;
    }
    QTest::qWait(10);
  }
  return false;
}

// The journal host, told when a busy animation opens: a server call is
// about to start.
class WatchingHost : public JournalHost {
 public:
  std::function<void()> onBusy;
  void activeShowAvi(QWidget* form, int animation, const QString& caption) override {
    JournalHost::activeShowAvi(form, animation, caption);
    if (onBusy) onBusy();
  }
};

// What the operator sees of each row: the sale item and whether it shows as
// consolidated.
QStringList gridRows(TDataSet& items) {
  QStringList rows;
  for (int r = 0; r < items.RecordCount(); ++r)
    rows << items.FieldByName("NRSEQVENDA")->textAt(r) + "/" + items.FieldByName("NRSEQUITVEND")->textAt(r) + "/" +
                items.FieldByName("IDNOTAFISCAL")->textAt(r);
  return rows;
}

QString addressOf(const qfx::test::ChildServer& server) { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }

class ServerLost : public ::testing::Test {
 protected:
  // The demo database (sales up to today) on `backend`, served by `servers`
  // qfxserver child processes listed in that order, the demo operator
  // logged in, the screen's calls bounded by `callTimeoutMs`.
  void start(int callTimeoutMs, test::Backend backend = test::Backend::SQLite, int servers = 1) {
    ASSERT_TRUE(folder.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    testDb = std::make_unique<test::TestDatabase>(backend);
    database = testDb->open();
    ASSERT_TRUE(database);
    server::demo::Options demo;
    demo.items = 300;
    demo.seed = 11;
    demo.today = QDate::currentDate();  // the screen's filter starts today
    auto generated = server::demo::generate(*database, demo);
    ASSERT_TRUE(generated) << generated.error().message;

    QList<ServerEndpoint> addresses;
    for (int i = 0; i < servers; ++i) {
      children.push_back(std::make_unique<qfx::test::ChildServer>(testDb->url()));
      ASSERT_TRUE(children.back()->started()) << children.back()->failure();
      addresses << ServerEndpoint{QStringLiteral("127.0.0.1"), children.back()->port()};
    }
    child = children.front().get();

    host = std::make_shared<WatchingHost>();
    host->server.setServers(addresses);
    host->server.callTimeoutMs = callTimeoutMs;
    host->filial = QStringLiteral("0001");
    host->operadorValue = QString::fromLatin1(server::demo::kDemoOperator);
    installHostServices(host);
    TNetConnection login;
    login.Host = host->server.host;
    login.Port = host->server.port;
    login.Alternates = host->server.alternates;
    auto session = login.Login(host->operadorValue, QString::fromLatin1(server::demo::kDemoPassword));
    ASSERT_TRUE(session.ok()) << session.error().toStdString();
    host->token = session->token;
    const auto opened = openHostDatabase({QString::fromStdString(testDb->url())});
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
    Initialize();
    initialized = true;
  }

  void TearDown() override {
    for (auto& server : children)
      if (server->pid() > 0) ::kill(pid_t(server->pid()), SIGCONT);  // a frozen one can then stop
    if (screen) screen->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (initialized) Finalize();
    closeHostDatabase();
    children.clear();
  }

  void activate() {
    QWidget* window = screen->frameWindow();
    if (QApplication::activeWindow() == window) return;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  }

  // The screen opened, the panel left with the defaults, the filter
  // confirmed for yesterday and today with consolidated items listed too.
  void listYesterdayAndToday() {
    CriaGeraNF();
    screen = frmGeraNF;
    ASSERT_TRUE(screen);
    activate();
    int dialogs = 0;
    hostkit::ModalAnswer filtro([&](QWidget* dialog) {
      auto* f = qobject_cast<TfrmFiltroGeraNF*>(dialog);
      ASSERT_TRUE(f);
      ++dialogs;
      f->depInicial->SetDate(Date() - 1);
      f->depFinal->SetDate(Date());
      f->chkVendaNF->setChecked(false);
      f->sbtConfirma->click();
    });
    screen->dbgPadrao->setFocus();
    QApplication::processEvents();
    activate();
    ASSERT_EQ(dialogs, 1) << host->messageTexts().join(" / ").toStdString();
    ASSERT_GT(screen->cdsPrincipal->RecordCount(), 0) << "the demo sells every day";
  }

  QSqlDatabase sql() {
    auto connection = database->connection();
    EXPECT_TRUE(connection) << connection.error().message;
    return *connection;
  }

  qint64 postedItems() {
    QSqlQuery q(sql());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM ITVENDA WHERE NRLANCESTQ IS NOT NULL")) || !q.next()) return -1;
    return q.value(0).toLongLong();
  }

  QTemporaryDir folder;
  std::unique_ptr<test::TestDatabase> testDb;
  std::unique_ptr<server::Database> database;
  std::vector<std::unique_ptr<qfx::test::ChildServer>> children;
  qfx::test::ChildServer* child = nullptr;  // the first of the list
  std::shared_ptr<WatchingHost> host;
  QPointer<TfrmGeraNF> screen;
  bool initialized = false;
};

// The run's call is out and the server is frozen, so it cannot answer, then
// killed: the screen reports the lost server at once, not at the deadline
// (a minute here), and its reload after the run finds no server either.
TEST_F(ServerLost, KilledDuringTheRunTheScreenSaysSoAndKeepsItsRows) {
  start(60000);
  listYesterdayAndToday();
  const QStringList before = gridRows(*screen->cdsPrincipal);
  const qint64 postedBefore = postedItems();
  ASSERT_TRUE(screen->sbtGeraNF->isEnabled());

  bool confirmed = false, killed = false;
  host->onMessage = [&] { confirmed = confirmed || host->journal.last() == "msg:Conf"; };
  host->onBusy = [&] {
    if (!confirmed || killed) return;  // the checks before the run come first
    killed = true;
    ::kill(pid_t(child->pid()), SIGSTOP);
    QTimer::singleShot(0, [&] { child->kill(); });  // once the call waits
  };
  host->clearRecords();
  host->journal.clear();
  screen->sbtGeraNF->click();
  activate();

  ASSERT_TRUE(killed) << host->journal.join(" / ").toStdString();
  ASSERT_FALSE(host->messages.isEmpty());
  const ShownMessage& shown = host->messages.last();
  EXPECT_EQ(shown.text, serverSilentText());
  EXPECT_TRUE(shown.details.contains(QString::number(child->port()))) << shown.details.toStdString();
  for (const auto& message : host->messages)
    EXPECT_FALSE(message.details.contains("Sem resposta")) << "the deadline was not what ended the wait";
  EXPECT_FALSE(host->journal.contains("msg:GERACAO_OK"));
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_TRUE(screen->cdsPrincipal->Active());
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
  EXPECT_EQ(postedItems(), postedBefore);
}

// The session ended on the server (here its row deleted, as an administrator
// would): the next call says so in the operator's words, the server's reason
// in the details, and the rows listed stay.
TEST_F(ServerLost, ASessionEndedOnTheServerIsSaidSoAndTheRowsStay) {
  start(4000);
  listYesterdayAndToday();
  const QStringList before = gridRows(*screen->cdsPrincipal);
  QSqlQuery(sql()).exec(QStringLiteral("DELETE FROM SESSAO"));
  host->clearRecords();
  screen->sbtVerificar->click();

  ASSERT_EQ(host->messages.size(), 1) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(host->messages[0].text, sessionEndedText());
  EXPECT_TRUE(host->messages[0].details.contains("sessão inválida")) << host->messages[0].details.toStdString();
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
}

// A stopped server keeps the connection open and answers nothing: the list
// load ends at the call's deadline with the screen's message for it.
TEST_F(ServerLost, FrozenDuringAListLoadTheScreenGivesUpAtTheDeadlineAndKeepsItsRows) {
  start(4000);
  listYesterdayAndToday();
  const QStringList before = gridRows(*screen->cdsPrincipal);
  ASSERT_EQ(::kill(pid_t(child->pid()), SIGSTOP), 0);
  ASSERT_TRUE(waitUntilStopped(child->pid()));
  host->clearRecords();
  screen->sbtVerificar->click();

  ASSERT_EQ(host->messages.size(), 1) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(host->messages[0].text, serverSilentText());
  EXPECT_TRUE(host->messages[0].details.contains("Sem resposta em 4 segundos"))
      << host->messages[0].details.toStdString();
  EXPECT_TRUE(host->messages[0].details.contains("GetPrincipal"));
  EXPECT_EQ(host->messages[0].kind, ShownMessage::Exception);
  EXPECT_TRUE(screen->lblDesatualizado->isVisibleTo(screen)) << "the rows kept may be out of date";
  EXPECT_EQ(host->busyOpened, 1);
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_TRUE(screen->cdsPrincipal->Active());
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
  EXPECT_TRUE(screen->sbtGeraNF->isEnabled());

  // back from the stop, the same screen loads again
  ::kill(pid_t(child->pid()), SIGCONT);
  host->clearRecords();
  screen->sbtVerificar->click();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
  EXPECT_FALSE(screen->lblDesatualizado->isVisibleTo(screen));
}

// The operator closes the screen and clicks again while a call waits on a
// paused server: during a list load, the Z check and the posting. Nothing
// starts twice, the work runs to its end (the posting's outcome shown, the
// items posted once), and then the screen closes.
TEST_F(ServerLost, ClosedOrClickedAgainWhileACallWaitsTheScreenEndsItsWorkThenCloses) {
  start(60000);
  QString pauseOn;  // the busy caption of the call to pause
  int paused = 0;
  host->onBusy = [&] {
    if (pauseOn.isNull() || !host->busyCaptions.last().contains(pauseOn)) return;
    pauseOn = QString();
    ASSERT_EQ(::kill(pid_t(child->pid()), SIGSTOP), 0);
    ASSERT_TRUE(waitUntilStopped(child->pid()));
    QTimer::singleShot(0, [&] {  // once the call waits
      ++paused;
      EXPECT_FALSE(screen->panMenu->isEnabled());
      EXPECT_FALSE(screen->Close());
      screen->mnuGeraNota->trigger();   // Ctrl+N
      screen->mnuVerificar->trigger();  // F5
      screen->sbtGeraNF->click();
      QTimer::singleShot(300, [&] { ::kill(pid_t(child->pid()), SIGCONT); });
    });
  };
  const auto closedAfterwards = [&] {
    for (int i = 0; i < 50 && screen; ++i) {
      QTest::qWait(10);
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return screen.isNull();
  };

  listYesterdayAndToday();
  pauseOn = QString("");  // the list's animation has no caption
  host->clearRecords();
  screen->sbtVerificar->click();
  EXPECT_EQ(paused, 1);
  EXPECT_EQ(host->busyOpened, 1) << "one load";
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_TRUE(closedAfterwards());

  for (const QString& caption : {QString("Conferindo"), QString("Consolidando")}) {
    SCOPED_TRACE(caption.toStdString());
    const bool posting = caption == "Consolidando";
    listYesterdayAndToday();
    const qint64 postedBefore = postedItems();
    pauseOn = caption;
    paused = 0;
    host->clearRecords();
    host->journal.clear();
    host->onMessage = [&] {  // paused in the Z check: the run then stops at "Não"
      if (!posting && host->journal.last() == "msg:Conf") host->dialogAnswers.push_back(mrNo);
    };
    screen->sbtGeraNF->click();
    EXPECT_EQ(paused, 1);
    EXPECT_EQ(host->journal.count("msg:Conf"), 1) << host->journal.join(" / ").toStdString();
    EXPECT_EQ(host->journal.contains("msg:GERACAO_OK"), posting) << host->journal.join(" / ").toStdString();
    EXPECT_EQ(host->busyCaptions.count("Consolidando as vendas..."), posting ? 1 : 0);
    EXPECT_TRUE(host->busyBalanced());
    EXPECT_EQ(postedItems() > postedBefore, posting);
    EXPECT_TRUE(closedAfterwards());
  }
}

// The posting's call waits on a paused server until its deadline: the screen
// says the consolidation's outcome is not known (beside the connection's
// message), keeps the run, and asks again under the run's identifier by
// itself once the server answers; the run then posts, once.
TEST_F(ServerLost, PausedDuringThePostingTheOutcomeIsToldUnknownAndAskedAgainWhenTheServerAnswers) {
  start(4000);
  listYesterdayAndToday();
  const qint64 postedBefore = postedItems();
  bool confirmed = false, paused = false;
  host->onMessage = [&] { confirmed = confirmed || host->journal.last() == "msg:Conf"; };
  host->onBusy = [&] {
    if (!confirmed || paused || !host->busyCaptions.last().contains("Consolidando")) return;
    paused = true;
    ASSERT_EQ(::kill(pid_t(child->pid()), SIGSTOP), 0);
    ASSERT_TRUE(waitUntilStopped(child->pid()));
  };
  host->clearRecords();
  host->journal.clear();
  screen->sbtGeraNF->click();
  ASSERT_TRUE(paused);
  ASSERT_FALSE(host->messages.isEmpty());
  const ShownMessage told = host->messages.last();
  EXPECT_EQ(told.text, serverSilentText());
  EXPECT_TRUE(told.informative.contains("Não se sabe se a consolidação foi feita")) << told.informative.toStdString();
  EXPECT_TRUE(told.details.contains("SemGeraNF")) << told.details.toStdString();
  ASSERT_TRUE(screen->execucaoIncerta.has_value());
  EXPECT_TRUE(screen->lblResultadoIncerto->isVisibleTo(screen));
  EXPECT_TRUE(screen->mnuResultadoConsolidacao->isEnabled());
  EXPECT_FALSE(host->journal.contains("msg:GERACAO_OK"));
  EXPECT_TRUE(host->busyBalanced());

  host->onBusy = nullptr;
  ::kill(pid_t(child->pid()), SIGCONT);
  EXPECT_TRUE(QTest::qWaitFor([&] { return host->journal.contains("msg:GERACAO_OK"); }, 20000))
      << host->journal.join(" / ").toStdString();
  EXPECT_FALSE(screen->execucaoIncerta.has_value());
  EXPECT_FALSE(screen->lblResultadoIncerto->isVisibleTo(screen));
  EXPECT_FALSE(screen->mnuResultadoConsolidacao->isEnabled());
  EXPECT_GT(postedItems(), postedBefore);
  QSqlQuery runs(sql());
  ASSERT_TRUE(runs.exec(QStringLiteral("SELECT COUNT(*) FROM EXECCONSOLIDA")) && runs.next());
  EXPECT_EQ(runs.value(0).toInt(), 1) << "one run, posted once";
  EXPECT_TRUE(host->busyBalanced());
}

// The server is killed right after it committed the posting, before its
// reply leaves: the screen says the outcome is unknown; a server started
// again answers the screen's own question (its operator's menu item here)
// with that run's outcome, "GERACAO_OK", not the "NF_OK_ZERO" a new run
// would give.
TEST_F(ServerLost, KilledRightAfterItCommittedTheOperatorAsksAndGetsTheRunsOwnOutcome) {
  start(60000);
  test::ReplyCutter cutter(
      child->port(), [pid = child->pid()] { ::kill(pid_t(pid), SIGKILL); }, false);
  host->server.setServers({ServerEndpoint{QStringLiteral("127.0.0.1"), cutter.port()}});
  listYesterdayAndToday();
  const qint64 postedBefore = postedItems();
  bool confirmed = false;
  host->onMessage = [&] { confirmed = confirmed || host->journal.last() == "msg:Conf"; };
  host->onBusy = [&] {
    if (confirmed && host->busyCaptions.last().contains("Consolidando")) cutter.arm();
  };
  host->clearRecords();
  host->journal.clear();
  screen->sbtGeraNF->click();
  ASSERT_TRUE(cutter.cut()) << host->journal.join(" / ").toStdString();
  ASSERT_TRUE(screen->execucaoIncerta.has_value()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_TRUE(host->messages.last().informative.contains("Não se sabe"));
  const qint64 postedByTheRun = postedItems();
  EXPECT_GT(postedByTheRun, postedBefore) << "committed before the kill";

  host->onBusy = nullptr;
  host->journal.clear();
  children.push_back(std::make_unique<qfx::test::ChildServer>(testDb->url()));
  ASSERT_TRUE(children.back()->started()) << children.back()->failure();
  cutter.setServerPort(children.back()->port());
  // the screen's own watch may have asked first
  if (screen->execucaoIncerta) screen->mnuResultadoConsolidacao->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !host->journal.isEmpty(); }, 10000));
  EXPECT_EQ(host->journal, QStringList{"msg:GERACAO_OK"}) << host->journal.join(" / ").toStdString();
  EXPECT_FALSE(screen->execucaoIncerta.has_value());
  EXPECT_EQ(postedItems(), postedByTheRun) << "nothing posted twice";
  EXPECT_TRUE(host->busyBalanced());
}

// Two servers on one database, listed in that order.
class ServerFailOver : public ServerLost, public ::testing::WithParamInterface<test::Backend> {
 protected:
  void SetUp() override { QFX_REQUIRE_BACKEND(GetParam()); }

  TNetConnection& connection() { return *screen->netGeraNF; }
  // Waits until the connection has noticed that its server went away.
  bool lossNoticed() {
    return QTest::qWaitFor([&] { return connection().ServerInUse().isEmpty(); }, 2000);
  }

  // Stock items of the listed days (yesterday and today) that no run posted.
  qint64 pendingStockItems() {
    QSqlQuery q(sql());
    q.prepare(QStringLiteral(
        "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA "
        "JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE I.CDFILIAL = '0001' AND V.CDLOJA = '01' "
        "AND V.IDSITUVENDA <> 'C' AND P.IDCTRLESTQ = 'S' AND I.NRLANCESTQ IS NULL AND V.DTVENDA >= ?"));
    q.addBindValue(QDate::currentDate().addDays(-1).toString(Qt::ISODate));
    if (!q.exec() || !q.next()) return -1;
    return q.value(0).toLongLong();
  }
};

// The server in use is killed between two calls: the connection notices by
// itself, and the screen's next call goes to the other server, which takes
// the session made on the first (sessions live in the database). With both
// gone, the screen says so and the details name each server.
TEST_P(ServerFailOver, KilledBetweenTwoCallsTheNextGoesToTheOtherOnTheSameSession) {
  start(60000, GetParam(), 2);
  listYesterdayAndToday();
  const QStringList before = gridRows(*screen->cdsPrincipal);
  const QString token = connection().SessionToken;
  ASSERT_EQ(connection().ServerInUse(), addressOf(*children[0])) << "the first of the list that answers";

  children[0]->kill();
  ASSERT_TRUE(lossNoticed()) << "before any call is sent into the dead connection";
  host->clearRecords();
  screen->sbtVerificar->click();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
  EXPECT_FALSE(screen->lblDesatualizado->isVisibleTo(screen));
  EXPECT_EQ(connection().ServerInUse(), addressOf(*children[1]));
  EXPECT_EQ(connection().SessionToken, token) << "no new login";

  children[1]->kill();
  ASSERT_TRUE(lossNoticed());
  host->clearRecords();
  screen->sbtVerificar->click();
  ASSERT_EQ(host->messages.size(), 1) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(host->messages[0].text, serverSilentText());
  for (const auto& server : children)
    EXPECT_TRUE(host->messages[0].details.contains(addressOf(*server))) << host->messages[0].details.toStdString();
  EXPECT_TRUE(screen->lblDesatualizado->isVisibleTo(screen));
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
}

// The server in use is killed while the posting run's call waits for it: the
// call goes again to the other server under the run's identifier, unseen,
// and the run posts what is pending, every item once; the books agree with
// the stamped items.
TEST_P(ServerFailOver, KilledDuringTheRunThePostingGoesToTheOtherAndPostsOnce) {
  start(60000, GetParam(), 2);
  listYesterdayAndToday();
  QSqlDatabase db = sql();
  const test::Books books = test::readBooks(db);
  const qint64 postedBefore = postedItems();
  ASSERT_GT(pendingStockItems(), 0);
  ASSERT_EQ(connection().ServerInUse(), addressOf(*children[0]));

  bool confirmed = false, killed = false;
  host->onMessage = [&] { confirmed = confirmed || host->journal.last() == "msg:Conf"; };
  host->onBusy = [&] {
    if (!confirmed || killed || !host->busyCaptions.last().contains("Consolidando")) return;
    killed = true;
    ::kill(pid_t(children[0]->pid()), SIGSTOP);  // the run's call reaches a server that reads nothing
    QTimer::singleShot(0, [&] { children[0]->kill(); });
  };
  host->clearRecords();
  host->journal.clear();
  screen->sbtGeraNF->click();
  activate();
  ASSERT_TRUE(killed) << host->journal.join(" / ").toStdString();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:GERACAO_OK"})) << host->journal.join(" / ").toStdString();
  EXPECT_FALSE(screen->execucaoIncerta.has_value());
  EXPECT_EQ(connection().ServerInUse(), addressOf(*children[1]));
  EXPECT_EQ(pendingStockItems(), 0);
  EXPECT_GT(postedItems(), postedBefore);
  EXPECT_EQ(test::checkBooks(db, books), "");
  EXPECT_TRUE(host->busyBalanced());
}

// A read made at once after the server in use died, before the connection
// could notice (within its 50 ms look at the idle sockets), goes to the other
// server without the operator seeing anything.
TEST_P(ServerFailOver, AReadMadeRightAfterTheServerDiedGoesToTheOtherUnseen) {
  start(60000, GetParam(), 2);
  listYesterdayAndToday();
  const QStringList before = gridRows(*screen->cdsPrincipal);
  ASSERT_EQ(connection().ServerInUse(), addressOf(*children[0]));
  ::kill(pid_t(children[0]->pid()), SIGKILL);  // and the read at once, without waiting for its end
  host->clearRecords();
  screen->sbtVerificar->click();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(gridRows(*screen->cdsPrincipal), before);
  EXPECT_EQ(connection().ServerInUse(), addressOf(*children[1]));
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerFailOver, ::testing::Values(test::Backend::SQLite, test::Backend::PostgreSQL),
                         test::BackendName());

}  // namespace
