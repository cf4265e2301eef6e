// The values of an import file's fields as people write them: numbers with a
// decimal comma or point (never both: "1.234,56" is refused rather than
// guessed), days as dd/mm/aaaa or ISO aaaa-mm-dd, moments as a day and a
// time (hh:mm or hh:mm:ss, after a blank or a "T").
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <optional>
#include <string_view>

namespace qfx::server::importvalue {

std::optional<double> number(std::string_view text);
std::optional<qint64> integer(std::string_view text);
std::optional<QDate> day(std::string_view text);
std::optional<QDateTime> moment(std::string_view text);
// The same, as the ISO text the database keeps: yyyy-MM-dd and
// yyyy-MM-dd hh:mm:ss (a day alone is its start), made without a calendar.
std::optional<QString> isoDay(std::string_view text);
std::optional<QString> isoMoment(std::string_view text);

}  // namespace qfx::server::importvalue
