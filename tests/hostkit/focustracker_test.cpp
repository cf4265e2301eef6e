// Enter and exit of fields and of a panel follow the focus between controls
// of one screen, in a fixed order; message boxes and other windows are no move.
#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include "fixtures.h"
#include "modaldriver.h"
#include <hostkit/core/abort.h>
#include <hostkit/widgets/components.h>

using namespace hostkit;

namespace {

// A screen with an entry panel holding two fields, and one field outside it.
class Screen : public QWidget {
 public:
  Screen() {
    setObjectName("frmTeste");
    auto* layout = new QVBoxLayout(this);
    panel = new QFrame(this);
    panel->setObjectName("panFiltro");
    auto* inside = new QVBoxLayout(panel);
    first = new QLineEdit(panel);
    first->setObjectName("medFilial");
    second = new QLineEdit(panel);
    second->setObjectName("medCdLoja");
    inside->addWidget(first);
    inside->addWidget(second);
    outside = new QLineEdit(this);
    outside->setObjectName("edtFora");
    layout->addWidget(panel);
    layout->addWidget(outside);
    tracker = new FocusTracker(this);
    for (QWidget* field :
         {static_cast<QWidget*>(first), static_cast<QWidget*>(second), static_cast<QWidget*>(outside)}) {
      onFieldEnter(field, {});
      onFieldExit(field, {});
    }
    tracker->containerEnter(panel, [this] { log("enter panFiltro"); });
    tracker->containerExit(panel, [this] { log("exit panFiltro"); });
  }

  // Registers a field's handler: logs, then runs the extra step.
  void onFieldEnter(QWidget* field, std::function<void()> extra) {
    tracker->fieldEnter(field, [this, field, extra] {
      log("enter " + field->objectName());
      if (extra) extra();
    });
  }
  void onFieldExit(QWidget* field, std::function<void()> extra) {
    tracker->fieldExit(field, [this, field, extra] {
      log("exit " + field->objectName());
      if (extra) extra();
    });
  }
  void onPanelExit(std::function<void()> extra) {
    tracker->containerExit(panel, [this, extra] {
      log("exit panFiltro");
      if (extra) extra();
    });
  }

  void log(const QString& event) { events << event; }

  QFrame* panel;
  QLineEdit* first;
  QLineEdit* second;
  QLineEdit* outside;
  FocusTracker* tracker;
  QStringList events;
};

class FocusEvents : public ScriptedHostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(showActive(screen));
    screen.first->setFocus();
    screen.events.clear();
  }
  Screen screen;
};

TEST_F(FocusEvents, MoveBetweenFieldsOfThePanelIsFieldExitThenEnter) {
  screen.second->setFocus();
  EXPECT_EQ(screen.events, QStringList({"exit medFilial", "enter medCdLoja"}));
}

TEST_F(FocusEvents, LeavingThePanelRunsFieldExitPanelExitThenFieldEnter) {
  QTest::keyClick(screen.second, Qt::Key_Tab);  // from first to second by the keyboard
  screen.events.clear();
  QTest::mouseClick(screen.outside, Qt::LeftButton);
  EXPECT_TRUE(screen.outside->hasFocus());
  EXPECT_EQ(screen.events, QStringList({"exit medCdLoja", "exit panFiltro", "enter edtFora"}));

  screen.events.clear();
  screen.first->setFocus();
  EXPECT_EQ(screen.events, QStringList({"exit edtFora", "enter panFiltro", "enter medFilial"}));
}

TEST_F(FocusEvents, MessageBoxAndItsReturnAreNoMove) {
  onNextModal([](QWidget* box) { clickButton(box, "OK"); });
  QMessageBox::information(&screen, "Aviso", "Mensagem");
  ASSERT_TRUE(reactivate(screen));
  EXPECT_TRUE(screen.first->hasFocus());
  EXPECT_TRUE(screen.events.isEmpty());

  screen.second->setFocus();
  EXPECT_EQ(screen.events, QStringList({"exit medFilial", "enter medCdLoja"}));
}

TEST_F(FocusEvents, CheckShowingAMessageRunsOnceAndFocusReturnsToItsField) {
  screen.onFieldExit(screen.first, [this] {
    onNextModal([](QWidget* box) { clickButton(box, "OK"); });
    QMessageBox::critical(&screen, "Erro", "Filial não cadastrada.");
    screen.first->setFocus();
    Abort();
  });
  screen.outside->setFocus();
  ASSERT_TRUE(reactivate(screen));
  EXPECT_TRUE(screen.first->hasFocus());
  // The check ran once; its own move back runs the field's enter, nothing of
  // the interrupted move (panel exit, outside enter) runs.
  EXPECT_EQ(screen.events, QStringList({"exit medFilial", "enter medFilial"}));

  screen.events.clear();
  screen.onFieldExit(screen.first, {});
  screen.second->setFocus();
  EXPECT_EQ(screen.events, QStringList({"exit medFilial", "enter medCdLoja"}));
}

TEST_F(FocusEvents, FailingPanelExitThatFocusesAFieldReentersThePanel) {
  screen.second->setFocus();
  screen.onPanelExit([this] {
    screen.first->setFocus();
    MensErro("Filial deve deve ser informada.", true);
  });
  screen.events.clear();
  screen.outside->setFocus();
  EXPECT_TRUE(screen.first->hasFocus());
  EXPECT_EQ(screen.events, QStringList({"exit medCdLoja", "exit panFiltro", "enter panFiltro", "enter medFilial"}));
  EXPECT_EQ(host->messageTexts(), QStringList({"Filial deve deve ser informada."}));
}

TEST_F(FocusEvents, StoppedHandlerWithoutMoveSkipsTheRestOfTheChain) {
  screen.onFieldExit(screen.first, [] { Abort(); });
  screen.outside->setFocus();
  EXPECT_TRUE(screen.outside->hasFocus());
  EXPECT_EQ(screen.events, QStringList({"exit medFilial"}));

  screen.events.clear();
  screen.second->setFocus();  // the skipped steps count as done
  EXPECT_EQ(screen.events, QStringList({"exit edtFora", "enter panFiltro", "enter medCdLoja"}));
}

TEST_F(FocusEvents, HandlersThatKeepMovingTheFocusDoNotLoopForever) {
  screen.onFieldEnter(screen.second, [this] { screen.outside->setFocus(); });
  screen.onFieldEnter(screen.outside, [this] { screen.second->setFocus(); });
  screen.second->setFocus();
  EXPECT_LE(screen.events.size(), 40);
  screen.onFieldEnter(screen.second, {});
  screen.onFieldEnter(screen.outside, {});
  screen.events.clear();
  screen.first->setFocus();
  EXPECT_TRUE(screen.first->hasFocus());
  EXPECT_TRUE(screen.events.contains("enter medFilial"));
}

TEST_F(FocusEvents, AnotherWindowTakingTheFocusIsNoExit) {
  QLineEdit other;
  other.setObjectName("outraJanela");
  ASSERT_TRUE(showActive(other));
  other.setFocus();
  EXPECT_TRUE(screen.events.isEmpty());
  ASSERT_TRUE(showActive(screen));
  EXPECT_TRUE(screen.first->hasFocus());
  EXPECT_TRUE(screen.events.isEmpty());

  // an MDI area clears its child's focus when the window goes inactive, and
  // the window system then gives the window's first field the focus: still
  // no move, the focus goes back where it was
  screen.outside->setFocus();
  screen.events.clear();
  ASSERT_TRUE(showActive(other));
  screen.outside->clearFocus();
  ASSERT_TRUE(showActive(screen));
  QApplication::processEvents();
  EXPECT_TRUE(screen.outside->hasFocus());
  EXPECT_TRUE(screen.events.isEmpty()) << screen.events.join(", ").toStdString();
}

}  // namespace
