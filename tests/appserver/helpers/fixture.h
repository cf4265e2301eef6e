// A small, hand-written sales database that the read-method and posting tests
// reason about: three branches with different parameters, a few sales around
// 10 and 11 March 2024, one already posted, one returned, one earlier still
// pending, customers whose names hold quotes and SQL.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>
#include <string>
#include <vector>

namespace qfx::test {

// Operators of the fixture: "gerente" may use any branch, "caixa1" only 0001.
inline constexpr const char* kManager = "gerente";
inline constexpr const char* kManagerPassword = "segredo-gerente";
inline constexpr const char* kClerk = "caixa1";
inline constexpr const char* kClerkPassword = "segredo-caixa";

void loadFixture(QSqlDatabase& db);
void addOperators(QSqlDatabase& db);

// Executes one statement with bound values; fails the test on error.
void exec(QSqlDatabase& db, const QString& text, const QVariantList& values = {});
// First column of the first row, as text ("<null>" for null).
std::string scalar(QSqlDatabase& db, const QString& text, const QVariantList& values = {});
double scalarNumber(QSqlDatabase& db, const QString& text, const QVariantList& values = {});
// Every row of every table of the schema as text, for "nothing changed" checks.
std::vector<std::string> snapshot(QSqlDatabase& db, bool includeSessions = false);

}  // namespace qfx::test
