// Dates on the wire are days since 1899-12-30 with the time of day as the
// fraction (negative values count backwards, the fraction still adding the
// time of day). In the database a day is stored as 'YYYY-MM-DD' text (SQLite)
// or DATE (PostgreSQL), a moment as 'YYYY-MM-DD HH:MM:SS' or TIMESTAMP; both
// compare correctly as bound text in either database.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <optional>
#include <string_view>

#include <proto/contract.h>

namespace qfx::server::wiredate {

// Earliest and latest day a caller may send (years 100 to 9999).
constexpr double kMinDays = contract::kMinDays;
constexpr double kMaxDays = contract::kMaxDays;

bool isValidWireDate(double days);
QDate toDate(double days);  // the day of the value, time dropped
QDateTime toDateTime(double days);
double fromDate(const QDate& date);
double fromDateTime(const QDateTime& moment);

QString dayText(const QDate& date);         // 'YYYY-MM-DD' for binding
QString momentText(const QDateTime& date);  // 'YYYY-MM-DD HH:MM:SS' for binding

// A value read from either database (QDate, QDateTime or text) as wire days.
std::optional<double> fromDatabase(const QVariant& value);
std::optional<QDate> dayFromDatabase(const QVariant& value);
// The same from the database's own text of a day or moment, with no QString.
std::optional<double> fromDatabaseText(std::string_view text);

}  // namespace qfx::server::wiredate
