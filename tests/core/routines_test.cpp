// Host routines on the values the screens use.
#include <gtest/gtest.h>

#include <QLocale>

#include "routines.h"

using namespace hostkit;

class Routines : public ::testing::Test {
 protected:
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
};

TEST_F(Routines, FormatFloatFollowsThePictureWithTheSystemSeparators) {
  const QString point = QLocale::system().decimalPoint();
  const QString group = QLocale::system().groupSeparator();
  EXPECT_EQ(FormatFloat("##0.000", 1234.5), "1234" + point + "500");
  EXPECT_EQ(FormatFloat("###0.00", 1234.5), "1234" + point + "50");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1" + group + "234" + group + "567" + point + "89");
  EXPECT_EQ(FormatFloat("0.000", 0.5), "0" + point + "500");
  EXPECT_EQ(FormatFloat("##0.000", 0), "0" + point + "000");
  EXPECT_EQ(FormatFloat("###0.00", -2.005), "-2" + point + "01");
  EXPECT_EQ(FormatFloat("#,##0.00", -999.999), "-1" + group + "000" + point + "00");
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
}
