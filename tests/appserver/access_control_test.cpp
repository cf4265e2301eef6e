// Who may reach what, over loopback: a TLS server talks to nothing else, a
// session belongs to the database that issued it, an operator bound to a
// branch reaches no other branch through any method of the object, and the
// host's PostgreSQL role reads its lookups and writes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include "db/migrations.h"
#include "harness.h"
#include "methods/dispatcher.h"
#include "posting_support.h"
#include <hostkit/core/query.h>
#include <proto/health.grpc.pb.h>

using namespace qfx;
using namespace qfx::test;

namespace {

const QDate kMar10(2024, 3, 10);
const QDate kMar11(2024, 3, 11);

// The branch operators of the fixture: the clerk is bound to 0001.
constexpr const char* kOwnBranch = "0001";
constexpr const char* kOtherBranch = "0002";

// One method of the object called as an operator would: the arguments that
// name `branch` (all of them, for a method with several), by operator `op`.
// `first` is the first day of the period; the calls take two days from it.
struct MethodCall {
  bool namesABranch = true;
  std::function<std::vector<rpc::Argument>(const std::string& branch, const std::string& op, const QDate& first)> args;
};

PrincipalFilter principalFilter(const std::string& branch, const QDate& first) {
  PrincipalFilter f;
  f.branch = branch;
  f.first = first;
  f.last = first.addDays(1);
  return f;
}

// Every method of the object, with arguments that find data of branch 0002
// in the fixture when 0002 is named.
std::map<std::string, MethodCall> everyMethod() {
  using Args = std::vector<rpc::Argument>;
  std::map<std::string, MethodCall> calls;
  calls["GetParamFilial"] = {true, [](auto& b, auto&, auto&) { return Args{text(b)}; }};
  calls["GetParamVend"] = {true, [](auto& b, auto&, auto&) { return Args{text(b)}; }};
  calls["getTipoReti"] = {false, [](auto&, auto&, auto&) { return Args{text(""), text("T")}; }};
  calls["getSetor"] = {false, [](auto&, auto&, auto&) { return Args{text(""), text("T")}; }};
  calls["GetPrincipal"] = {true, [](auto& b, auto&, auto& first) { return principalFilter(b, first).args(); }};
  calls["getPeriodoCTBOK"] = {true, [](auto& b, auto&, auto& first) {
                                return Args{text(b), date(first, true), date(first.addDays(1), true)};
                              }};
  calls["Verifica_Venda_Anterior"] = {true, [](auto& b, auto&, auto& first) {
                                        using A = contract::Verifica_Venda_Anterior;
                                        return test::Args<A>{{A::Filial, text(b)},
                                                             {A::Inicio, date(first.addDays(1))},
                                                             {A::Fim, date(first.addDays(1))},
                                                             {A::InicioConsolidacao, date(QDate(2024, 3, 1))},
                                                             {A::IdUtilAlmox, text("N")},
                                                             {A::IdUtilLcEstq, text("N")},
                                                             {A::CdAlmoxarife, text("")},
                                                             {A::CdLocalEstoque, text("")}}
                                            .values();
                                      }};
  calls["GetVerifVenda"] = {true,
                            [](auto& b, auto&, auto& first) { return principalFilter(b, first).verificationArgs(); }};
  calls["GetSoma"] = {true, [](auto& b, auto&, auto& first) {
                        using A = contract::GetSoma;
                        return test::Args<A>{{A::Filial, text(b)},
                                             {A::Loja, text("01")},
                                             {A::Caixa, text("001")},
                                             {A::Dia, date(first)},
                                             {A::TodasVendas, ref("S")},
                                             {A::StVendas, ref("")},
                                             {A::BoTodosTipoCons, boolean(true)},
                                             {A::StTipoCons, ref("")},
                                             {A::TodasNF, text("N")}}
                            .values();
                      }};
  calls["GetReducaoZ"] = {true, [](auto& b, auto&, auto& first) { return Args{text(b), text("001"), date(first)}; }};
  calls["SemGeraNF"] = {true, [](auto& b, auto& op, auto& first) {
                          Consolidation c;
                          c.workBranch = c.branch = b;
                          c.first = first;
                          c.last = first.addDays(1);
                          c.operatorCode = op;
                          c.checkStock = false;
                          return c.args();
                        }};
  calls["GetVendas"] = {true, [](auto& b, auto&, auto& first) {
                          using A = contract::GetVendas;
                          return test::Args<A>{{A::Filial, text(b)},           {A::Loja, text("01")},
                                               {A::Inicio, date(first)},       {A::Fim, date(first.addDays(1))},
                                               {A::TodosCaixa, boolean(true)}, {A::StCaixa, ref("")}}
                              .values();
                        }};
  calls["GetProdutos"] = {true, [](auto& b, auto&, auto& first) {
                            using A = contract::GetProdutos;
                            return test::Args<A>{{A::Filial, text(b)},      {A::Loja, text("01")},
                                                 {A::Inicio, date(first)},  {A::Fim, date(first.addDays(1))},
                                                 {A::CaixaLista, ref("")},  {A::CaixaMarca, text("T")},
                                                 {A::VendasLista, ref("")}, {A::VendasMarca, text("T")}}
                                .values();
                          }};
  // a posting that does not exist: no case of the table may reverse anything
  calls["EstornaGeraNF"] = {true, [](auto& b, auto& op, auto&) {
                              Reversal r;
                              r.workBranch = r.branch = r.stockBranch = b;
                              r.posting = "0000000099";
                              r.operatorCode = op;
                              return r.args();
                            }};
  calls["GetConsolidacoes"] = {true, [](auto& b, auto&, auto& first) {
                                 return Args{text(b), date(first), date(first.addDays(1))};
                               }};
  return calls;
}

// Rows of branch 0002 anywhere in a reply: a branch column holding it, or a
// sale key (branch and sale number) starting with it.
bool showsOtherBranch(const CallResult& reply) {
  for (const auto& [id, p] : reply.packets) {
    for (size_t f = 0; f < p.fields.size(); ++f) {
      const std::string& name = p.fields[f].name;
      const bool branchColumn = name.rfind("CDFILIAL", 0) == 0;
      if (!branchColumn && name != "CHAVE") continue;
      for (const std::string& cell : columnTexts(p, name.c_str())) {
        if (branchColumn ? cell == kOtherBranch : cell.rfind(kOtherBranch, 0) == 0) return true;
      }
    }
  }
  return false;
}

// Unprepared, for what PostgreSQL cannot prepare (roles).
void command(QSqlDatabase& db, const std::string& statement) {
  QSqlQuery q(db);
  EXPECT_TRUE(q.exec(QString::fromStdString(statement))) << statement << ": " << q.lastError().text().toStdString();
}

std::string describe(const CallResult& reply) {
  return std::to_string(int(reply.status.error_code())) + " " + reply.status.error_message();
}

}  // namespace

class AccessControl : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { QFX_REQUIRE_BACKEND(GetParam()); }
};

TEST_P(AccessControl, ASessionOfAnotherServerWithItsOwnDatabaseIsRefused) {
  ServerHarness home(GetParam()), elsewhere(GetParam());  // same operators and passwords, two databases
  auto local = home.loggedIn();
  auto foreign = elsewhere.loggedIn();
  ASSERT_TRUE(local->invoke("GetParamFilial", {text("0001")}).ok());
  ASSERT_TRUE(foreign->invoke("GetParamFilial", {text("0001")}).ok());

  QSqlDatabase db = home.sql();
  const auto before = snapshot(db, true);
  TestClient stranger(home.port());
  stranger.setToken(foreign->token());
  auto read = stranger.invoke("GetParamFilial", {text("0001")});
  EXPECT_EQ(read.status.error_code(), grpc::StatusCode::UNAUTHENTICATED) << describe(read);
  EXPECT_EQ(read.status.error_message(), "sessão inválida");
  auto posting = consolidate(stranger, Consolidation{});
  EXPECT_EQ(posting.call.status.error_code(), grpc::StatusCode::UNAUTHENTICATED) << describe(posting.call);
  EXPECT_EQ(snapshot(db, true), before) << "a refused session leaves no trace";

  TestClient back(elsewhere.port());
  back.setToken(local->token());
  EXPECT_EQ(back.invoke("GetParamFilial", {text("0001")}).status.error_code(), grpc::StatusCode::UNAUTHENTICATED);
}

// Each call checks its session against the database, so ending a session or
// deactivating an operator stops the very next call on every server on that
// database: a read by key (answered on gRPC's own thread on SQLite) and a
// call a database worker answers alike. Calls side by side first, so that
// several of the servers' connections have verified the session (SQLite
// spares the read of a verified session while nothing was committed), and a
// session that expires while remembered is refused too.
TEST_P(AccessControl, ARevocationStopsTheNextCallOnEveryServer) {
  ServerHarness first(GetParam());
  server::Database secondDb(*server::DbConfig::parse(first.testDatabase().url()));
  server::ServerOptions options;
  options.listen = "127.0.0.1:0";
  auto second = server::AppServer::start(secondDb, server::makeConsolidationObject(), options);
  ASSERT_TRUE(second.ok()) << second.error().message;
  const auto keyRead = [](TestClient& c) { return c.invoke("GetReducaoZ", {text("0001"), text("001"), date(kMar10)}); };
  const auto workerRead = [](TestClient& c) { return c.invoke("GetParamVend", {text("0001")}); };
  QSqlDatabase db = first.sql();

  const auto verifiedEverywhere = [&](const std::string& token) {
    std::vector<std::thread> threads;
    std::atomic<int> failed{0};
    for (int t = 0; t < 6; ++t)
      threads.emplace_back([&, port = t % 2 ? first.port() : (*second)->port()] {
        TestClient c(port);
        c.setToken(token);
        for (int i = 0; i < 10; ++i) failed += keyRead(c).ok() && workerRead(c).ok() ? 0 : 1;
      });
    for (auto& t : threads) t.join();
    return failed.load() == 0;
  };

  auto onFirst = first.loggedIn();
  TestClient onSecond((*second)->port());
  onSecond.setToken(onFirst->token());
  ASSERT_TRUE(verifiedEverywhere(onFirst->token()));
  exec(db, "DELETE FROM SESSAO WHERE CDOPERADOR = ?", {QString::fromStdString(kManager)});
  for (TestClient* client : {&onSecond, onFirst.get()}) {
    EXPECT_EQ(keyRead(*client).status.error_code(), grpc::StatusCode::UNAUTHENTICATED);
    EXPECT_EQ(workerRead(*client).status.error_code(), grpc::StatusCode::UNAUTHENTICATED);
  }

  auto again = first.loggedIn();
  onSecond.setToken(again->token());
  ASSERT_TRUE(verifiedEverywhere(again->token()));
  exec(db, "UPDATE OPERADOR SET IDATIVO = 'N' WHERE CDOPERADOR = ?", {QString::fromStdString(kManager)});
  const auto refused = keyRead(onSecond);
  EXPECT_EQ(refused.status.error_code(), grpc::StatusCode::UNAUTHENTICATED) << describe(refused);
  EXPECT_EQ(refused.status.error_message(), "operador inativo");
  EXPECT_EQ(workerRead(*again).status.error_code(), grpc::StatusCode::UNAUTHENTICATED);
  (*second)->shutdown();

  // a short session, verified, then its time runs out with nothing written
  exec(db, "UPDATE OPERADOR SET IDATIVO = 'S' WHERE CDOPERADOR = ?", {QString::fromStdString(kManager)});
  server::ServerOptions brief;
  brief.listen = "127.0.0.1:0";
  brief.sessionLifetimeSeconds = 2;
  auto third = server::AppServer::start(secondDb, server::makeConsolidationObject(), brief);
  ASSERT_TRUE(third.ok()) << third.error().message;
  TestClient shortLived((*third)->port());
  rpc::LoginReply login;
  ASSERT_TRUE(shortLived.login(kManager, kManagerPassword, &login).ok());
  ASSERT_TRUE(keyRead(shortLived).ok());
  while (QDateTime::currentSecsSinceEpoch() < login.expires_at()) QThread::msleep(50);
  const auto expired = keyRead(shortLived);
  EXPECT_EQ(expired.status.error_code(), grpc::StatusCode::UNAUTHENTICATED) << describe(expired);
  EXPECT_NE(expired.status.error_message().find("expirada"), std::string::npos) << describe(expired);
}

// The clerk is bound to 0001. Every method the object registers is called
// with 0002 where it names a branch: refused, and nothing changes. The same
// calls by the manager succeed (and find 0002's data), so the refusals are
// the binding's. Then every text argument of every method, one at a time,
// names 0002 or lists 0002's keys: no reply carries a row of 0002.
TEST_P(AccessControl, ABranchBoundOperatorReachesNoOtherBranchThroughAnyMethod) {
  ServerHarness harness(GetParam());
  QSqlDatabase db = harness.sql();
  exec(db,
       "INSERT INTO REDUCAOZ (CDFILIAL, CDCAIXA, DTREDUCAOZ, VRVENLIQREDZ) VALUES ('0002', '001', '2024-03-10', "
       "10.5)");
  auto clerk = harness.loggedIn(kClerk, kClerkPassword);
  auto manager = harness.loggedIn();
  const auto calls = everyMethod();
  const server::Dispatcher object = server::makeConsolidationObject();
  ASSERT_EQ(object.methods().size(), calls.size());
  for (const auto& method : object.methods()) ASSERT_TRUE(calls.count(method.name)) << method.name << " sem caso";

  const auto before = snapshot(db);
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    auto asClerk = clerk->invoke(name, call.args(kOtherBranch, kClerk, kMar10));
    if (call.namesABranch) {
      EXPECT_EQ(asClerk.status.error_code(), grpc::StatusCode::PERMISSION_DENIED) << describe(asClerk);
      if (name == "EstornaGeraNF")  // its screen tells the binding in its own words
        EXPECT_EQ(asClerk.status.error_message(), "Estorno_Filial_Oper");
      else
        EXPECT_NE(asClerk.status.error_message().find("pediu a filial '0002'"), std::string::npos) << describe(asClerk);
    } else {
      ASSERT_TRUE(asClerk.ok()) << describe(asClerk);
      EXPECT_FALSE(showsOtherBranch(asClerk));
      EXPECT_EQ(asClerk.packet().rowCount(),
                manager->invoke(name, call.args(kOtherBranch, kManager, kMar10)).packet().rowCount());
    }
  }
  // the run names two branches: either one of another branch is refused
  for (const auto& [work, branch] : {std::pair{kOwnBranch, kOtherBranch}, std::pair{kOtherBranch, kOwnBranch}}) {
    Consolidation c;
    c.workBranch = work;
    c.branch = branch;
    c.operatorCode = kClerk;
    auto mixed = consolidate(*clerk, c);
    EXPECT_EQ(mixed.call.status.error_code(), grpc::StatusCode::PERMISSION_DENIED) << work << "/" << branch;
  }
  EXPECT_EQ(snapshot(db), before) << "refused calls change nothing";

  // every text argument, one at a time: 0002 itself or a list of its keys
  // (branch, branch and sale, branch and register). The run's period holds no
  // sale of 0001, so the clerk's own permitted runs post nothing either.
  const std::vector<std::string> namings{kOtherBranch, "_0002__00020000000001__0002001_"};
  for (const auto& [name, call] : calls) {
    const QDate first = name == "SemGeraNF" ? QDate(2024, 3, 20) : kMar10;
    const auto own = call.args(kOwnBranch, kClerk, first);
    for (size_t position = 0; position < own.size(); ++position) {
      if (own[position].kind() != rpc::Argument::TEXT) continue;
      for (const std::string& naming : namings) {
        auto args = own;
        args[position].set_text(naming);
        auto reply = clerk->invoke(name, args);
        EXPECT_FALSE(reply.ok() && showsOtherBranch(reply))
            << name << " argumento " << position + 1 << " = " << naming << " mostrou a filial 0002";
      }
    }
  }
  EXPECT_EQ(snapshot(db), before);

  // the same calls by an operator of every branch do reach 0002: the lists
  // hold its rows, the checks answer for it, and its run (last, as it posts)
  // posts its pending item
  for (const auto& [name, call] : calls) {
    // the runs and their reversal: after 0002's run, below
    if (!call.namesABranch || name == "SemGeraNF" || name == "EstornaGeraNF" || name == "GetConsolidacoes") continue;
    auto asManager = manager->invoke(name, call.args(kOtherBranch, kManager, kMar10));
    if (name == "Verifica_Venda_Anterior") {
      EXPECT_EQ(asManager.status.error_message(), "VENDA_CONSOL") << "0002 has a sale pending since 10 March";
    } else if (name == "getPeriodoCTBOK") {
      ASSERT_TRUE(asManager.ok()) << describe(asManager);
      EXPECT_TRUE(asManager.result.boolean());
    } else {
      ASSERT_TRUE(asManager.ok()) << name << ": " << describe(asManager);
      EXPECT_GT(asManager.packet().rowCount(), 0u) << name;
    }
  }
  auto run = manager->invoke("SemGeraNF", calls.at("SemGeraNF").args(kOtherBranch, kManager, kMar10));
  ASSERT_TRUE(run.ok()) << describe(run);
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = '0002' AND NRLANCESTQ IS NOT NULL"), "1");
  auto runs = manager->invoke("GetConsolidacoes", calls.at("GetConsolidacoes").args(kOtherBranch, kManager, kMar10));
  ASSERT_TRUE(runs.ok()) << describe(runs);
  ASSERT_EQ(runs.packet().rowCount(), 1u);
  Reversal undo;
  undo.workBranch = undo.branch = kOtherBranch;
  undo.stockBranch = cellText(runs.packet(), "CDFILIAL", 0);  // 0002 keeps its stock in 0001's
  undo.posting = cellText(runs.packet(), "NRLANCESTQ", 0);
  undo.operatorCode = kManager;
  ASSERT_TRUE(reverse(*manager, undo).call.ok());
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = '0002' AND NRLANCESTQ IS NOT NULL"), "0");
}

INSTANTIATE_TEST_SUITE_P(Backends, AccessControl, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());

// What TransportSecurity.TlsServerTalksToTlsClientsOnly leaves out: a valid
// session does not open the plaintext door, the health service is behind TLS
// too, and a TLS client that does not trust the certificate gets nowhere.
TEST(TlsOnly, PlaintextCallsAreRefusedEvenWithAValidSession) {
  server::ServerOptions options;
  options.tlsCertFile = dataFile("test-server.crt");
  options.tlsKeyFile = dataFile("test-server.key");
  ServerHarness harness(Backend::SQLite, true, options);
  grpc::SslCredentialsOptions trusting;
  trusting.pem_root_certs = qfxtest::fileContents(QString::fromStdString(dataFile("test-server.crt"))).toStdString();
  TestClient secure(harness.port(), grpc::SslCredentials(trusting), "localhost");
  ASSERT_TRUE(secure.login(kManager, kManagerPassword).ok());

  TestClient plain(harness.port());
  plain.setToken(secure.token());
  auto call = plain.invoke("GetParamFilial", {text("0001")}, std::chrono::seconds(20));
  EXPECT_EQ(call.status.error_code(), grpc::StatusCode::UNAVAILABLE) << describe(call);
  EXPECT_EQ(call.messages, 0);

  auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(harness.port()), grpc::InsecureChannelCredentials());
  auto health = grpc::health::v1::Health::NewStub(channel);
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(20));
  grpc::health::v1::HealthCheckResponse response;
  EXPECT_EQ(health->Check(&context, {}, &response).error_code(), grpc::StatusCode::UNAVAILABLE);

  grpc::SslCredentialsOptions strangerRoots;  // the system's authorities, which never signed it
  TestClient untrusting(harness.port(), grpc::SslCredentials(strangerRoots), "localhost");
  EXPECT_EQ(untrusting.login(kManager, kManagerPassword).error_code(), grpc::StatusCode::UNAVAILABLE);

  QSqlDatabase db = harness.sql();
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM SESSAO"), "1") << "only the TLS login made a session";
  EXPECT_TRUE(secure.invoke("GetParamFilial", {text("0001")}).ok());
}

// The query text of every report definition shipped in reports/Qfx317, in its
// PostgreSQL form where it has one.
static std::vector<std::string> reportQueries() {
  std::vector<std::string> queries;
  const QDir folder(qfxtest::sourcePath(QStringLiteral("reports/Qfx317")));
  for (const QString& name : folder.entryList({QStringLiteral("*.json")})) {
    const QJsonObject texts = QJsonDocument::fromJson(qfxtest::fileContents(folder.filePath(name)))
                                  .object()
                                  .value(QLatin1String("queries"))
                                  .toObject();
    const QJsonValue postgres = texts.value(QLatin1String("postgresql"));
    QStringList lines;
    for (const QJsonValue& line : (postgres.isArray() ? postgres : texts.value(QLatin1String("generic"))).toArray())
      lines << line.toString();
    queries.push_back(lines.join(QLatin1Char('\n')).toStdString());
  }
  return queries;
}

// The migration makes the group role qfx_consulta with SELECT on the tables
// the host reads. A login in it, connected the way the host connects, runs
// the host's lookups and its reports' queries; every write, DDL and any read
// of the other tables (operators' password hashes, sessions, stock) fails for
// lack of privilege.
TEST(HostReadOnlyRole, ALoginInTheRoleReadsTheLookupsAndCannotWrite) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  TestDatabase testDb(Backend::PostgreSQL);
  auto database = testDb.open();
  QSqlDatabase db = *database->connection();
  loadFixture(db);
  const std::string login = "qfx_t_host_" + std::to_string(::getpid());
  command(db, "DROP ROLE IF EXISTS " + login);
  command(db, "CREATE ROLE " + login + " LOGIN IN ROLE qfx_consulta");
  QUrl hostUrl(QString::fromStdString(testDb.url()));
  hostUrl.setUserName(QString::fromStdString(login));
  const QString hostConnection = QStringLiteral("consulta-do-host");
  const auto before = snapshot(db, true);
  {
    const auto opened = hostkit::openDatabaseUrl(hostUrl.toString(), hostConnection);
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
    QSqlDatabase host = QSqlDatabase::database(hostConnection, false);
    QSqlQuery q(host);
    for (const char* table : {"FILIAL", "EMPRESA", "LOJA", "CAIXA", "TIPOCONS", "CLIENTE", "CCUSCLIE", "VENDA",
                              "ITVENDA", "PRODUTO", "PRODTIPORETI"}) {
      ASSERT_TRUE(q.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))))
          << table << ": " << q.lastError().text().toStdString();
      ASSERT_TRUE(q.next());
      EXPECT_EQ(q.value(0).toString().toStdString(),
                scalar(db, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))))
          << table;
    }
    // every report the host ships runs under the role
    const auto reports = reportQueries();
    ASSERT_FALSE(reports.empty()) << "no report definitions in reports/Qfx317";
    for (const std::string& report : reports) {
      ASSERT_TRUE(q.prepare(QString::fromStdString(report))) << q.lastError().text().toStdString();
      static const QRegularExpression placeholder(QStringLiteral(":(P_[A-Z0-9_]+)"));
      for (auto it = placeholder.globalMatch(QString::fromStdString(report)); it.hasNext();) {
        const QString name = it.next().captured(0);
        const bool isDate = name.contains(QLatin1String("DT")) || name.contains(QLatin1String("DATA"));
        q.bindValue(name, isDate ? QVariant(QDate(2024, 3, 10)) : QVariant(QStringLiteral("T")));
      }
      EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString() << "\n" << report;
    }
    // the screen's branch lookup, and the functions the host's texts call
    ASSERT_TRUE(q.exec(
        "SELECT FI.CDFILIAL, EM.NMEMPRESA, NVL(FI.CDSERIE, '0'), INSTR(FI.NMFILIAL, 'tro') FROM FILIAL FI, EMPRESA EM "
        "WHERE FI.CDEMPRESA = EM.CDEMPRESA AND FI.CDFILIAL = '0001'"))
        << q.lastError().text().toStdString();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(1).toString().toStdString(), "Empresa Um");
    EXPECT_EQ(q.value(3).toInt(), 4);

    for (const char* statement : {
             "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0009', 'Intrusa', '01')",
             "UPDATE CLIENTE SET NMRAZSOCCLIE = 'alterado'",
             "DELETE FROM LOJA",
             "TRUNCATE CAIXA",
             "CREATE TABLE QFX_INTRUSA (A INTEGER)",
             "ALTER TABLE FILIAL ADD COLUMN INTRUSA INTEGER",
             "DROP TABLE TIPOCONS",
             "CREATE INDEX INTRUSO ON CLIENTE (NMRAZSOCCLIE)",
             "UPDATE ITVENDA SET NRLANCESTQ = '0000000099'",
             "INSERT INTO SESSAO (CDSESSAO, CDOPERADOR, NRCRIACAO, NREXPIRACAO) VALUES ('x', 'gerente', 0, 9e9)",
             "UPDATE SALDOESTQ SET QTSALDOESTQ = 0",
             "SELECT DSSENHA FROM OPERADOR",
             "SELECT * FROM SESSAO",
             "SELECT * FROM SALDOESTQ",
         }) {
      EXPECT_FALSE(q.exec(QString::fromLatin1(statement))) << statement;
      EXPECT_EQ(q.lastError().nativeErrorCode(), "42501") << statement << ": " << q.lastError().text().toStdString();
    }
  }
  QSqlDatabase::database(hostConnection, false).close();
  QSqlDatabase::removeDatabase(hostConnection);
  EXPECT_EQ(snapshot(db, true), before);

  // a server wrongly given the read-only login fails plainly, and not as a
  // busy database worth calling again
  {
    server::Database wrong(*server::DbConfig::parse(hostUrl.toString().toStdString()));
    server::ServerOptions options;
    options.listen = "127.0.0.1:0";
    auto started = server::AppServer::start(wrong, server::makeConsolidationObject(), options);
    ASSERT_TRUE(started.ok()) << started.error().message;
    TestClient client((*started)->port());
    const grpc::Status login = client.login(kManager, kManagerPassword);
    EXPECT_EQ(login.error_code(), grpc::StatusCode::INTERNAL) << login.error_message();
    EXPECT_EQ(login.error_message().find("ocupado"), std::string::npos) << login.error_message();
    (*started)->shutdown();
  }

  // the role is the cluster's: migrating another database grants there as
  // well, and migrating again changes nothing
  TestDatabase other(Backend::PostgreSQL);
  auto otherDatabase = other.open();
  QSqlDatabase otherDb = *otherDatabase->connection();
  EXPECT_EQ(scalar(otherDb, "SELECT has_table_privilege('qfx_consulta', 'filial', 'SELECT')"), "true");
  EXPECT_EQ(scalar(otherDb, "SELECT has_table_privilege('qfx_consulta', 'filial', 'INSERT')"), "false");
  EXPECT_EQ(scalar(otherDb, "SELECT has_table_privilege('qfx_consulta', 'operador', 'SELECT')"), "false");
  auto again = server::migrations::migrate(*database);
  EXPECT_TRUE(again.ok()) << again.error().message;
  command(db, "DROP ROLE " + login);
}
