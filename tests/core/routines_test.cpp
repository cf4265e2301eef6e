// Host routines on the values the screens use.
#include <gtest/gtest.h>

#include <QLocale>

#include <hostkit/core/dataset.h>
#include <hostkit/core/routines.h>

using namespace hostkit;

class Routines : public ::testing::Test {
 protected:
  // the product's texts must not depend on the default locale either
  void SetUp() override { QLocale::setDefault(QLocale::c()); }
  void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

TEST_F(Routines, NumbersAreWrittenAndReadInBrazilianForm) {
  EXPECT_EQ(FormatFloat("##0.000", 1234.5), "1234,500");
  EXPECT_EQ(FormatFloat("###0.00", 1234.5), "1234,50");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
  EXPECT_EQ(FormatFloat("0.000", 0.5), "0,500");
  EXPECT_EQ(FormatFloat("##0.000", 0), "0,000");
  EXPECT_EQ(FormatFloat("###0.00", -2.005), "-2,01");
  EXPECT_EQ(FormatFloat("#,##0.00", -999.999), "-1.000,00");
  EXPECT_EQ(FloatToStr(1234.5), "1234,5") << "an edit text is not grouped";

  bool ok = false;
  EXPECT_DOUBLE_EQ(StrToFloat("1.234,56", &ok), 1234.56);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(StrToFloat(" 1234,5 "), 1234.5);
  EXPECT_DOUBLE_EQ(StrToFloat("1.000"), 1000) << "the dot groups thousands";
  EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5) << "not Brazilian: the database's form";
  EXPECT_EQ(StrToFloat("doze", &ok), 0);
  EXPECT_FALSE(ok);
}

TEST_F(Routines, FormatMaskTextPlacesValueIntoTheMask) {
  EXPECT_EQ(FormatMaskText("999.999.999-99;0;_", "12345678901"), "123.456.789-01");
  EXPECT_EQ(FormatMaskText("99.999.999/9999-99;0;_", "12345678000199"), "12.345.678/0001-99");
  EXPECT_EQ(FormatMaskText("9.99.99.999;0;_", "1020300"), "1.02.03.00_");
  EXPECT_EQ(FormatMaskText(">aaaa;0; ", "ab"), "AB  ");
  EXPECT_EQ(FormatMaskText("99/99;1;_", "12/34"), "12/34");
}

TEST_F(Routines, AjustaPadsCodesToTheirWidth) {
  EXPECT_EQ(Ajusta("1", 4), "0001");
  EXPECT_EQ(Ajusta("1", 2), "01");
  EXPECT_EQ(Ajusta(" 12 ", 4), "0012");
  EXPECT_EQ(Ajusta("0001", 4), "0001");
  EXPECT_EQ(Ajusta("", 4), "");
  EXPECT_EQ(Ajusta("12345", 4), "12345");
}

TEST_F(Routines, EmptyStringSeesThroughBlanksAndMasks) {
  EXPECT_TRUE(EmptyString(""));
  EXPECT_TRUE(EmptyString("   "));
  EXPECT_TRUE(EmptyString("//"));
  EXPECT_TRUE(EmptyString("__/__/____"));
  EXPECT_FALSE(EmptyString("0"));
  EXPECT_FALSE(EmptyString("01/__/____"));
  EXPECT_EQ(iif(true, "S", "N"), "S");
  EXPECT_EQ(iif(false, 1, 2), 2);
}

TEST_F(Routines, DatesShowTheTimeOnlyWhenNotMidnight) {
  const double day = 46364;  // 08/12/2026
  EXPECT_EQ(DateTimeToStr(day), "08/12/2026");
  EXPECT_EQ(DateTimeToStr(day + 0.5), "08/12/2026 12:00:00");
  EXPECT_EQ(DateToStr(day + 0.5), "08/12/2026");
  EXPECT_EQ(DateToStr(day + 0.999), "08/12/2026") << "late in the day";
  EXPECT_EQ(DateToStr(-700000), "") << "no date";
  EXPECT_EQ(DateTimeToStr(-700000), "");
  {
    // a day whose midnight the clocks skipped (daylight saving in Brazil,
    // 4 November 2018) is still that day, with no hour of its own
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "America/Sao_Paulo");
    const double skipped = 43408;  // 04/11/2018
    EXPECT_EQ(DateTimeToStr(skipped), "04/11/2018");
    EXPECT_EQ(DateToStr(skipped + 23.5 / 24), "04/11/2018");
    EXPECT_EQ(fromDateTime(skipped).date(), QDate(2018, 11, 4)) << "a date, not a null";
    EXPECT_EQ(fromDateTime(skipped + 0.5).time(), QTime(12, 0)) << "the hours after the skip keep the wall clock's";
    if (zone.isNull())
      qunsetenv("TZ");
    else
      qputenv("TZ", zone);
  }
  bool ok = false;
  EXPECT_DOUBLE_EQ(StrToDateTime("08/12/2026 12:00:00", &ok), day + 0.5);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(StrToDateTime("8/12/2026"), day);
  EXPECT_EQ(StrToDateTime("12/31/2026", &ok), 0) << "day first";
  EXPECT_FALSE(ok);
}
