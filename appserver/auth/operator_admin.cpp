#include "auth/operator_admin.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

#include "auth/password.h"
#include "db/sql.h"

namespace qfx::server::operators {

namespace {

constexpr size_t kMostCodeLength = 20;
constexpr size_t kMostNameLength = 50;

int64_t now() { return QDateTime::currentSecsSinceEpoch(); }
QString text(const std::string& value) { return QString::fromStdString(value); }

Status wellFormedCode(const std::string& code) {
  if (code.empty() || code.size() > kMostCodeLength)
    return invalidArgument("código de operador deve ter de 1 a 20 caracteres");
  return success();
}

Status wellFormedName(const std::string& name) {
  if (name.empty() || QString::fromStdString(name).size() > int(kMostNameLength))
    return invalidArgument("nome de operador deve ter de 1 a 50 caracteres");
  return success();
}

Result<bool> exists(QSqlDatabase& db, const QString& sqlText, const QString& key) {
  auto q = sql::run(db, sqlText, {key});
  if (!q) return q.error();
  return q->next();
}

Status operatorExists(QSqlDatabase& db, const std::string& code) {
  auto found = exists(db, QStringLiteral("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"), text(code));
  if (!found) return found.error();
  if (!*found) return Error{ErrorKind::NotFound, "operador " + code + " não existe; nada foi alterado"};
  return success();
}

// A binding to a branch that does not exist would lock the operator out of everything.
Status branchExists(QSqlDatabase& db, const std::string& branch) {
  if (branch.empty()) return success();
  auto found = exists(db, QStringLiteral("SELECT 1 FROM FILIAL WHERE CDFILIAL = ?"), text(branch));
  if (!found) return found.error();
  if (!*found) return invalidArgument("filial " + branch + " não existe; nada foi alterado");
  return success();
}

Status update(QSqlDatabase& db, const char* column, const QVariant& value, const std::string& code) {
  auto done = sql::run(db, QStringLiteral("UPDATE OPERADOR SET %1 = ? WHERE CDOPERADOR = ?").arg(QLatin1String(column)),
                       {value, text(code)});
  if (!done) return done.error();
  return success();
}

Result<int64_t> deleteSessions(QSqlDatabase& db, const std::string& code) {
  auto q = sql::run(db, QStringLiteral("DELETE FROM SESSAO WHERE CDOPERADOR = ?"), {text(code)});
  if (!q) return q.error();
  return int64_t(q->numRowsAffected());
}

Status applyChange(QSqlDatabase& db, const std::string& code, const OperatorChange& change) {
  if (auto known = operatorExists(db, code); !known) return known;
  if (change.name) {
    if (auto s = wellFormedName(*change.name); !s) return s;
    if (auto s = update(db, "NMOPERADOR", text(*change.name), code); !s) return s;
  }
  if (change.boundBranch) {
    if (auto s = branchExists(db, *change.boundBranch); !s) return s;
    if (auto s = update(db, "CDFILIAL", sql::textOrNull(text(*change.boundBranch)), code); !s) return s;
  }
  if (change.password) {
    auto hashed = password::hash(*change.password);
    if (!hashed) return hashed.error();
    if (auto s = update(db, "DSSENHA", text(*hashed), code); !s) return s;
  }
  if (change.mayImport)
    if (auto s = update(db, "IDIMPORTA", *change.mayImport ? QStringLiteral("S") : QStringLiteral("N"), code); !s)
      return s;
  if (change.active) {
    if (auto s = update(db, "IDATIVO", *change.active ? QStringLiteral("S") : QStringLiteral("N"), code); !s) return s;
    if (!*change.active) {
      if (auto ended = deleteSessions(db, code); !ended) return ended.error();
    }
  }
  return success();
}

Status insert(QSqlDatabase& db, const NewOperator& wanted) {
  auto found = exists(db, QStringLiteral("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"), text(wanted.code));
  if (!found) return found.error();
  if (*found)
    return Error{ErrorKind::Conflict, "operador " + wanted.code +
                                          " já existe: para mudar só o que quiser use --operator-password, "
                                          "--operator-name, --operator-branch, --activate-operator ou "
                                          "--deactivate-operator"};
  if (auto s = branchExists(db, wanted.boundBranch); !s) return s;
  auto hashed = password::hash(wanted.password);
  if (!hashed) return hashed.error();
  auto saved =
      sql::run(db,
               QStringLiteral("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHA, CDFILIAL, IDATIVO, IDIMPORTA) "
                              "VALUES (?, ?, ?, ?, 'S', ?)"),
               {text(wanted.code), text(wanted.name), text(*hashed), sql::textOrNull(text(wanted.boundBranch)),
                wanted.mayImport ? QStringLiteral("S") : QStringLiteral("N")});
  if (!saved) return saved.error();
  return success();
}

// Runs `work` in one write transaction, committed only when it succeeds.
template <class Work>
auto inTransaction(Database& database, Work work) -> decltype(work(std::declval<QSqlDatabase&>())) {
  auto db = database.connection();
  if (!db) return db.error();
  auto tx = sql::Transaction::begin(*db, database.dialect());
  if (!tx) return tx.error();
  auto done = work(*db);
  if (!done) return done;  // the transaction rolls back as it goes
  if (auto committed = tx->commit(); !committed) return committed.error();
  return done;
}

}  // namespace

Status create(Database& database, const NewOperator& wanted) {
  if (auto s = wellFormedCode(wanted.code); !s) return s;
  if (auto s = wellFormedName(wanted.name); !s) return s;
  if (wanted.password.empty()) return invalidArgument("informe a senha do operador na entrada padrão");
  return inTransaction(database, [&](QSqlDatabase& db) { return insert(db, wanted); });
}

Status change(Database& database, const std::string& code, const OperatorChange& wanted) {
  if (auto s = wellFormedCode(code); !s) return s;
  if (wanted.empty()) return invalidArgument("nada a mudar no operador " + code);
  if (wanted.password && wanted.password->empty()) return invalidArgument("a nova senha não pode ser vazia");
  return inTransaction(database, [&](QSqlDatabase& db) { return applyChange(db, code, wanted); });
}

Result<int64_t> endSessions(Database& database, const std::string& code) {
  return inTransaction(database, [&](QSqlDatabase& db) -> Result<int64_t> {
    if (auto known = operatorExists(db, code); !known) return known.error();
    return deleteSessions(db, code);
  });
}

Result<std::vector<OperatorRow>> list(Database& database) {
  auto db = database.connection();
  if (!db) return db.error();
  auto q = sql::run(*db,
                    QStringLiteral("SELECT O.CDOPERADOR, O.NMOPERADOR, O.CDFILIAL, O.IDATIVO, "
                                   "(SELECT COUNT(*) FROM SESSAO S WHERE S.CDOPERADOR = O.CDOPERADOR "
                                   "AND S.NREXPIRACAO > ?), O.IDIMPORTA FROM OPERADOR O ORDER BY O.CDOPERADOR"),
                    {qint64(now())});
  if (!q) return q.error();
  std::vector<OperatorRow> rows;
  while (q->next())
    rows.push_back({q->value(0).toString().toStdString(), q->value(1).toString().toStdString(),
                    q->value(2).toString().toStdString(), q->value(3).toString() == QLatin1String("S"),
                    q->value(4).toLongLong(), q->value(5).toString() == QLatin1String("S")});
  return rows;
}

Result<std::vector<SessionRow>> sessions(Database& database, const std::string& code) {
  auto db = database.connection();
  if (!db) return db.error();
  auto q = sql::run(*db,
                    QStringLiteral("SELECT CDOPERADOR, NRCRIACAO, NREXPIRACAO FROM SESSAO WHERE NREXPIRACAO > ? "
                                   "AND (? = '' OR CDOPERADOR = ?) ORDER BY CDOPERADOR, NRCRIACAO"),
                    {qint64(now()), text(code), text(code)});
  if (!q) return q.error();
  std::vector<SessionRow> rows;
  while (q->next())
    rows.push_back({q->value(0).toString().toStdString(), q->value(1).toLongLong(), q->value(2).toLongLong()});
  return rows;
}

}  // namespace qfx::server::operators
