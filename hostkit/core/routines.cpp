#include "routines.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <cstdio>

#include "dataset.h"

namespace hostkit {

const QLocale& productLocale() {
  static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
  return brazil;
}

QString searchFolded(const QString& text) {
  const QString decomposed = text.normalized(QString::NormalizationForm_KD);
  QString folded;
  folded.reserve(decomposed.size());
  for (const QChar c : decomposed)
    if (c.category() != QChar::Mark_NonSpacing) folded += c;
  return folded.toCaseFolded();
}

QString FloatToStr(double value) {
  QLocale plain = productLocale();
  plain.setNumberOptions(QLocale::OmitGroupSeparator);
  return plain.toString(value, 'g', 15);
}

double StrToFloat(const QString& text, bool* ok) {
  const QString trimmed = text.trimmed();
  bool read = false;
  double value = productLocale().toDouble(trimmed, &read);
  // not Brazilian: perhaps a number as the database writes it
  if (!read) value = trimmed.toDouble(&read);
  if (ok) *ok = read;
  return read ? value : 0.0;
}

QString Ajusta(const QString& code, int width) {
  const QString trimmed = code.trimmed();
  if (trimmed.isEmpty() || trimmed.size() >= width) return trimmed;
  return QString(width - trimmed.size(), u'0') + trimmed;
}

bool EmptyString(const QString& text) {
  for (QChar c : text) {
    if (c.isSpace() || c == u'_' || c == u'/' || c == u'.' || c == u'-' || c == u':') continue;
    return false;
  }
  return true;
}

namespace {
struct Picture {
  int minIntegerDigits = 0;
  int decimals = 0;
  bool thousands = false;
};

Picture parsePicture(const QString& picture) {
  Picture p;
  const auto point = picture.indexOf(u'.');
  const QString integerPart = point < 0 ? picture : picture.left(point);
  const QString decimalPart = point < 0 ? QString() : picture.mid(point + 1);
  p.thousands = integerPart.contains(u',');
  p.minIntegerDigits = int(integerPart.count(u'0'));
  for (QChar c : decimalPart)
    if (c == u'0' || c == u'#') ++p.decimals;
  return p;
}

QString groupThousands(const QString& digits, QChar separator) {
  QString out;
  const auto n = digits.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}
}  // namespace

QString FormatFloat(const QString& picture, double value) {
  const Picture p = parsePicture(picture);
  const QLocale& locale = productLocale();
  const double scale = std::pow(10.0, p.decimals);
  // round half away from zero, as the platform does
  const double rounded = std::round(std::fabs(value) * scale) / scale;
  QString fixed = QString::number(rounded, 'f', p.decimals);
  QString integerDigits = p.decimals > 0 ? fixed.left(fixed.indexOf(u'.')) : fixed;
  const QString decimalDigits = p.decimals > 0 ? fixed.mid(fixed.indexOf(u'.') + 1) : QString();
  if (integerDigits == QLatin1String("0") && p.minIntegerDigits == 0) integerDigits.clear();
  while (integerDigits.size() < p.minIntegerDigits) integerDigits.prepend(u'0');
  if (p.thousands) integerDigits = groupThousands(integerDigits, locale.groupSeparator().at(0));
  QString out = integerDigits;
  if (p.decimals > 0) out += locale.decimalPoint() + decimalDigits;
  const bool negative = value < 0 && rounded != 0;
  return negative ? QStringLiteral("-") + out : out;
}

QString FormatMaskText(const QString& mask, const QString& value) {
  const QStringList parts = mask.split(u';');
  const QString picture = parts.value(0);
  const bool valueHasLiterals = parts.size() > 1 && parts[1] == QLatin1String("1");
  const QChar blank = parts.size() > 2 && !parts[2].isEmpty() ? parts[2].at(0) : QChar(u' ');
  static const QString takers = QStringLiteral("09#LlAaCc");

  QString out;
  qsizetype next = 0;
  enum { Keep, Upper, Lower } caseMode = Keep;
  for (qsizetype i = 0; i < picture.size(); ++i) {
    const QChar m = picture[i];
    if (m == u'>') {
      caseMode = Upper;
      continue;
    }
    if (m == u'<') {
      caseMode = (i + 1 < picture.size() && picture[i + 1] == u'>') ? (++i, Keep) : Lower;
      continue;
    }
    if (m == u'\\' && i + 1 < picture.size()) {
      out += picture[++i];
      if (valueHasLiterals) ++next;
      continue;
    }
    if (takers.contains(m)) {
      QChar c = next < value.size() ? value[next++] : blank;
      if (caseMode == Upper) c = c.toUpper();
      if (caseMode == Lower) c = c.toLower();
      out += c;
    } else {
      out += m;
      if (valueHasLiterals) ++next;
    }
  }
  return out;
}

// A question of the Z check names its day: a thousand register-days format
// as many dates, so the day is read off the number and written directly.
QString DateToStr(double dateTime) {
  const QDate day = dayOf(dateTime);
  if (!day.isValid()) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", day.day(), day.month(), day.year());
  return QString::fromLatin1(text);
}

QString DateTimeToStr(double dateTime) {
  if (!hasTimeOfDay(dateTime)) return DateToStr(dateTime);
  return fromDateTime(dateTime).toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

double StrToDateTime(const QString& text, bool* ok) {
  const QString trimmed = text.trimmed();
  QDateTime moment;
  for (const char* pattern : {"d/M/yyyy H:m:s", "d/M/yyyy H:m"})
    if (!moment.isValid()) moment = QDateTime::fromString(trimmed, QLatin1String(pattern));
  if (!moment.isValid()) moment = QDateTime(QDate::fromString(trimmed, QStringLiteral("d/M/yyyy")), QTime(0, 0));
  if (ok) *ok = moment.isValid();
  return moment.isValid() ? toDateTime(moment) : 0.0;
}

}  // namespace hostkit
