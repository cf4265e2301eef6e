// Small host routines the screens call: code normalisation, emptiness,
// number, date and mask formatting in the product's language. No widgets
// here: the drawing helpers are in drawing.h.
#pragma once

#include <QLocale>
#include <QString>

namespace hostkit {

// The one language of every number and date the operator sees or types:
// Brazilian Portuguese ("1.234,56", dd/MM/yyyy), thousands grouped, whatever
// the machine's own locale. Use it, never QLocale::system() or QLocale().
const QLocale& productLocale();

// A number as its edit text: the decimal comma, no grouping, up to 15
// significant digits ("1234,5").
QString FloatToStr(double value);
// Reads a number the operator typed ("1.234,56", "1234,5"); a number in the
// database's own form ("1234.5") reads too. `ok` tells whether either did.
double StrToFloat(const QString& text, bool* ok = nullptr);

// Brings a code to `width` characters: blanks trimmed, then left-padded with
// "0" ("1" -> "0001" for width 4). An empty code stays empty; a longer code
// is kept as typed.
QString Ajusta(const QString& code, int width);

// True when the text carries no value: only blanks, or only what an edit's
// mask shows by itself (blank markers "_" and the literals "/", ".", "-", ":").
bool EmptyString(const QString& text);

template <class T>
T iif(bool condition, const T& whenTrue, const T& whenFalse) {
  return condition ? whenTrue : whenFalse;
}
inline QString iif(bool condition, const char* whenTrue, const char* whenFalse) {
  return QString::fromUtf8(condition ? whenTrue : whenFalse);
}

// Number formatting with a picture: "0" a mandatory digit, "#" an optional
// one, "," anywhere before the point asks for thousands separators, "." the
// decimal point. The product's separators are used ("1234.5" with "##0.000"
// gives "1234,500", with "#,##0.00" "1.234,50").
QString FormatFloat(const QString& picture, double value);

// Places the characters of `value` into an edit mask ("999.999.999-99;0;_"):
// mask characters 0 9 # L l A a C c take the next value character, ">" and "<"
// switch the case, "\" quotes the next character, everything else is a
// literal. With the second mask field "0" the value holds no literals; with
// "1" the value carries them and they are taken over.
QString FormatMaskText(const QString& mask, const QString& value);

// A text as searches compare it: without accents and case, as operators
// type ("Açúcar" and "ACUCAR" both give "acucar").
QString searchFolded(const QString& text);

// Short date (dd/MM/yyyy) of a date-time, with the time only when it is not midnight.
QString DateTimeToStr(double dateTime);
QString DateToStr(double dateTime);
// Reads "dd/MM/yyyy" with an optional " hh:mm[:ss]"; `ok` false (and 0) otherwise.
double StrToDateTime(const QString& text, bool* ok = nullptr);

}  // namespace hostkit
