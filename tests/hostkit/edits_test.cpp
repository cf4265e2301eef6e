// The masked edit, the date edit and the search button, typed into and
// clicked like the operator does.
#include <QImage>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

#include "fixtures.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/routines.h>
#include <hostkit/widgets/components.h>

using namespace hostkit;

TEST(MaskEdit, LetterOrDigitMaskForcesUpperCaseAndFourCharacters) {
  TMaskEdit edit(nullptr, "medFilial");
  edit.SetEditMask(">aaaa;0; ");
  QTest::keyClicks(&edit, "ab1c9");
  EXPECT_EQ(edit.text(), "AB1C");
  EXPECT_EQ(edit.maxLength(), 4);

  edit.clear();
  QTest::keyClicks(&edit, "a-b");
  EXPECT_EQ(edit.text(), "AB");  // the dash is no letter or digit
  edit.setText("xy");
  EXPECT_EQ(edit.Text(), "XY");  // text set from code takes the mask's case too
}

TEST(MaskEdit, DigitMaskTakesAtMostTwoDigits) {
  TMaskEdit edit(nullptr, "medTipoReti");
  edit.SetEditMask("99;0; ");
  QTest::keyClicks(&edit, "1a23");
  EXPECT_EQ(edit.text(), "12");
  edit.clear();
  QTest::keyClicks(&edit, "x");
  EXPECT_EQ(edit.text(), "");
}

TEST(MaskEdit, EmptyMaskTakesFreeTextAndANewMaskAppliesToTheText) {
  TMaskEdit edit(nullptr, "medCdLoja");
  QTest::keyClicks(&edit, "Loja 10-b");
  EXPECT_EQ(edit.text(), "Loja 10-b");
  EXPECT_EQ(edit.EditMask(), "");

  edit.setText("ab");
  edit.SetEditMask(">aaaa;0; ");
  EXPECT_EQ(edit.text(), "AB");
  EXPECT_EQ(edit.EditMask(), ">aaaa;0; ");
}

TEST(DateEditPlus, UntouchedOrClearedEditIsEmptyWithNoDate) {
  TDateEditPlus edit(nullptr, "depInicial");
  EXPECT_TRUE(EmptyString(edit.Text()));
  EXPECT_TRUE(edit.IsEmpty());
  EXPECT_FALSE(edit.IsDateValid());
  EXPECT_EQ(edit.GetDate(), 0.0);
  EXPECT_EQ(edit.WeekdayName(), "");

  edit.SetDate(toDateTime(QDate(2024, 3, 1)));
  edit.SetDate(0);
  EXPECT_TRUE(EmptyString(edit.Text()));
  EXPECT_EQ(edit.GetDate(), 0.0);
}

TEST(DateEditPlus, TypedDateIsValidWithItsWeekdayAndColour) {
  TDateEditPlus edit(nullptr, "depInicial");
  edit.SetValidDateColor(Qt::blue);
  edit.setFocus();
  edit.setCursorPosition(0);
  QTest::keyClicks(&edit, "25122024");
  EXPECT_EQ(edit.Text(), "25/12/2024");
  EXPECT_TRUE(edit.IsDateValid());
  EXPECT_FALSE(EmptyString(edit.Text()));
  EXPECT_EQ(edit.GetDate(), toDateTime(QDate(2024, 12, 25)));
  EXPECT_EQ(edit.WeekdayName(), "Quarta");
  EXPECT_EQ(edit.toolTip(), "Quarta");
  EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(Qt::blue));
}

TEST(DateEditPlus, ImpossibleOrIncompleteDateIsInvalidAndGivesNoDate) {
  TDateEditPlus edit(nullptr, "depFinal");
  edit.SetText("31/02/2024");
  EXPECT_FALSE(edit.IsEmpty());
  EXPECT_FALSE(edit.IsDateValid());
  EXPECT_EQ(edit.GetDate(), 0.0);
  EXPECT_EQ(edit.toolTip(), "");

  edit.clear();
  edit.setCursorPosition(0);
  QTest::keyClicks(&edit, "0103");
  EXPECT_EQ(edit.Text(), "01/03/");
  EXPECT_FALSE(edit.IsDateValid());
}

TEST(DateEditPlus, SetDateShowsTheDayAndKeepsTimeOnlyWithSaveTime) {
  TDateEditPlus edit(nullptr, "depDePeriodo");
  const double dayAndNoon = toDateTime(QDate(2023, 7, 9)) + 0.5;
  edit.SetDate(dayAndNoon);
  EXPECT_EQ(edit.Text(), "09/07/2023");
  EXPECT_EQ(edit.GetDate(), toDateTime(QDate(2023, 7, 9)));
  EXPECT_EQ(edit.WeekdayName(), "Domingo");

  edit.SetSaveTime(true);
  edit.SetDate(dayAndNoon);
  EXPECT_DOUBLE_EQ(edit.GetDate(), dayAndNoon);
}

// ---- search button ------------------------------------------------------------

class SearchButton : public ScriptedHostTest {
 protected:
  SearchButton() {
    fillTextDataSet(stores, {{"CDLOJA", "Código"}, {"NMLOJA", "Nome"}}, {{"01", "Centro"}, {"02", "Praia"}});
    source.SetDataSet(&stores);
    button.SetDataSource(&source);
    button.SetTitle("Loja");
    button.SetEmptyError("Não há loja cadastrada");
    button.SetAssociate(&code);
    button.OnBeforePesq = [this](TBtnPesquisa*, bool&) { events << "before"; };
    button.OnAfterPesq = [this](TBtnPesquisa* sender, TDataSet* ds) {
      events << "after";
      EXPECT_EQ(sender, &button);
      code.setText(ds->FieldByName("CDLOJA")->AsString());
    };
  }
  TDataSet stores{nullptr, "qryLoja"};
  TDataSource source{nullptr, "dtsLoja"};
  QWidget window;
  TBtnPesquisa button{&window, "btpLoja"};
  TMaskEdit code{&window, "medCdLoja"};
  QStringList events;
};

TEST_F(SearchButton, PickedRowRunsBeforeThenAfterWithTheDataSetOnThatRow) {
  host->recordAnswers.push_back(1);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(events, QStringList({"before", "after"}));
  EXPECT_EQ(code.text(), "02");
  ASSERT_EQ(host->pickerCalls.size(), 1);
  EXPECT_EQ(host->pickerCalls[0].title, "Loja");
  EXPECT_EQ(host->pickerCalls[0].dataset, "qryLoja");
  EXPECT_EQ(button.toolTip(), "Pesquisar (F2)");
  EXPECT_EQ(button.focusPolicy(), Qt::NoFocus);

  // the keyboard's way in: F2 in the code field
  ASSERT_TRUE(showActive(window));
  code.setFocus();
  host->recordAnswers.push_back(0);
  QTest::keyClick(&code, Qt::Key_F2);
  EXPECT_EQ(host->pickerCalls.size(), 2);
  EXPECT_EQ(code.text(), "01");
}

TEST_F(SearchButton, SearchLeavesTheFocusWhereItWas) {
  QLineEdit other(&window);
  ASSERT_TRUE(showActive(window));
  other.setFocus();
  host->recordAnswers.push_back(0);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(code.text(), "01");
  EXPECT_TRUE(other.hasFocus());
}

TEST_F(SearchButton, CancelledPickOrRefusedBeforeRunsNoAfter) {
  host->recordAnswers.push_back(std::nullopt);
  button.Click();
  EXPECT_EQ(events, QStringList({"before"}));

  events.clear();
  button.OnBeforePesq = [this](TBtnPesquisa*, bool& proceed) {
    events << "before";
    proceed = false;
  };
  button.Click();
  EXPECT_EQ(events, QStringList({"before"}));
  EXPECT_EQ(host->pickerCalls.size(), 1);  // the refused search opened no list
}

TEST_F(SearchButton, EmptyListShowsTheEmptyErrorAndRunsNoAfter) {
  stores.EmptyDataSet();
  button.Click();
  EXPECT_EQ(events, QStringList({"before"}));
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages[0].text, "Não há loja cadastrada");
}

TEST_F(SearchButton, OwnClickReplacesTheSearch) {
  int clicks = 0;
  button.OnClick = [&](TBtnPesquisa*) { ++clicks; };
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(events.isEmpty());
  EXPECT_TRUE(host->pickerCalls.isEmpty());
}

TEST_F(SearchButton, FailingHandlerIsShownAndStopsTheClickOnly) {
  button.OnBeforePesq = [](TBtnPesquisa*, bool&) { throw EServerError("servidor fora do ar"); };
  EXPECT_FALSE(button.Click());
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages[0].kind, ShownMessage::Exception);
  EXPECT_EQ(host->messages[0].text, "servidor fora do ar");

  button.OnBeforePesq = [](TBtnPesquisa*, bool&) { Abort(); };
  EXPECT_FALSE(button.Click());
  EXPECT_EQ(host->messages.size(), 1);  // the silent abort shows nothing
}

// A search button that can do nothing looks it: its glyph is drawn pale, not
// in the ink of an enabled one (a click on it does nothing either).
TEST_F(SearchButton, ADisabledButtonLooksDisabled) {
  const auto darkestInk = [](QToolButton& b) {
    const QImage shot = b.grab().toImage();
    int darkest = 255;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) darkest = std::min(darkest, qGray(shot.pixel(x, y)));
    return darkest;
  };
  button.setEnabled(true);
  const int enabled = darkestInk(button);
  button.setEnabled(false);
  const int disabled = darkestInk(button);
  EXPECT_GT(disabled - enabled, 60) << "enabled " << enabled << ", disabled " << disabled;
  int clicks = 0;
  button.OnClick = [&](TBtnPesquisa*) { ++clicks; };
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 0);
}
