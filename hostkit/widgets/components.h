// The host's edit, button and focus components the screens are built from.
#pragma once

#include <QColor>
#include <QIcon>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QShortcut>
#include <QStringList>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include <hostkit/core/dataset.h>

namespace hostkit {

// A control created with its name: every control carries its name as its
// objectName, so tests and tools find it. named<QLabel>("lblDe", "de", parent).
template <class Widget, class... Args>
Widget* named(const QString& name, Args&&... args) {
  auto* widget = new Widget(std::forward<Args>(args)...);
  widget->setObjectName(name);
  return widget;
}

// Small pictures drawn in code, so the kit ships no image files.
enum class Glyph { Search, Help, Print, Close, Verify, Confirm, Cancel, Options, First, Prior, Next, Last };
QIcon glyphIcon(Glyph glyph);

// ---- masked edit ----------------------------------------------------------------

// Line edit taking the edit masks of the screens: "body;save;blank" where the
// body is read per position: "0"/"9" a digit, "L"/"l" a letter, "A"/"a" a
// letter or digit, "#" a digit or sign, "C"/"c" any character; ">" turns what
// follows to upper case, "<" to lower case, "<>" stops that; "\" makes the
// next character a literal, which the operator types as it stands. Upper-case
// classes are required positions, lower-case optional; while typing both may
// stay blank. The body's position count is the maximum length. The text is
// kept exactly as typed (no blanks padded in), so text() is the value. An
// empty mask takes free text.
class TMaskEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TMaskEdit(QWidget* parent = nullptr, const QString& name = {});

  QString EditMask() const { return mask_; }
  void SetEditMask(const QString& mask);
  QString Text() const { return text(); }
  void SetText(const QString& text) { setText(text); }

 private:
  QString mask_;
};

// ---- date edit ------------------------------------------------------------------

// Date edit with the mask dd/mm/yyyy. An untouched or cleared edit shows only
// its mask and its text() is "//", which EmptyString treats as empty. A valid
// date is drawn in ValidDateColor and its weekday name is the tool tip.
class TDateEditPlus : public QLineEdit {
  Q_OBJECT
 public:
  explicit TDateEditPlus(QWidget* parent = nullptr, const QString& name = {});

  // The date as days since 1899-12-30; 0 when the edit is empty or invalid.
  // With SaveTime the time of day given to SetDate is kept in the fraction.
  double GetDate() const;
  // 0 empties the edit.
  void SetDate(double dateTime);
  // True when the text is a real calendar date; an empty edit is not a valid date.
  bool IsDateValid() const;
  bool IsEmpty() const;
  // The text without the mask's blanks ("//" when empty), and as shown.
  QString Text() const { return text(); }
  QString EditText() const { return displayText(); }
  void SetText(const QString& text) { setText(text); }

  // Sunday first: "Domingo" .. "Sábado" unless set.
  QStringList WeekdayNames() const { return weekdayNames_; }
  void SetWeekdayNames(const QStringList& names);
  // The weekday of the shown date; empty when it is not valid.
  QString WeekdayName() const;
  QColor ValidDateColor() const { return validDateColor_; }
  void SetValidDateColor(const QColor& color);
  bool SaveTime() const { return saveTime_; }
  void SetSaveTime(bool save) { saveTime_ = save; }

 private:
  void refreshLook();
  QStringList weekdayNames_;
  QColor validDateColor_;
  bool saveTime_ = false;
  double timeOfDay_ = 0;
};

// ---- buttons ----------------------------------------------------------------------

// Flat toolbar button. Like the host's speed buttons it never takes the
// focus, so pressing it leaves the current field (and runs no exit check).
class TButtonFlat : public QToolButton {
  Q_OBJECT
 public:
  explicit TButtonFlat(QWidget* parent = nullptr, const QString& name = {}, const QString& hint = {});
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& hint);
};

// Search button beside a code field. A click runs OnClick when one is set;
// otherwise OnBeforePesq (which may refuse by clearing `proceed`), then the
// host's record list over DataSource's dataset titled Title (EmptyError for
// an empty list), and, when a row was picked, OnAfterPesq with the dataset on
// that row. Every handler runs through the guard: nothing escapes a click.
// The button takes no focus and moves none: the focus stays where it was, so
// a search runs no field's exit check.
class TBtnPesquisa : public QToolButton {
  Q_OBJECT
 public:
  explicit TBtnPesquisa(QWidget* parent = nullptr, const QString& name = {});

  QWidget* Associate() const { return associate_; }
  // The field the search fills; F2 there opens the search, and the hint says so.
  void SetAssociate(QWidget* widget);
  QString Title() const { return title_; }
  void SetTitle(const QString& title) { title_ = title; }
  QString EmptyError() const { return emptyError_; }
  void SetEmptyError(const QString& text) { emptyError_ = text; }
  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source) { dataSource_ = source; }
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& hint);

  std::function<void(TBtnPesquisa* sender, bool& proceed)> OnBeforePesq;
  std::function<void(TBtnPesquisa* sender, TDataSet* dataset)> OnAfterPesq;
  std::function<void(TBtnPesquisa* sender)> OnClick;

  // What a click does; returns false when a handler stopped.
  bool Click();

 private:
  void search();
  QPointer<QWidget> associate_;
  QPointer<QShortcut> searchKey_;
  QString hint_;
  QString title_;
  QString emptyError_;
  QPointer<TDataSource> dataSource_;
};

// ---- focus enter and exit -----------------------------------------------------------

// Turns QApplication::focusChanged into the enter and exit events of the
// fields and containers (panels) of one screen.
//
// A move counts only between two controls of the screen: focus that goes to
// a message box, a picker, a popup, another window (or another MDI child) and
// comes back is no move at all. Focus that then lands on another control of
// the screen is a move from the control that had it before.
//
// On a move, in order: field exits (innermost first), container exits
// (innermost first), container enters (outermost first), field enters
// (outermost first). Each handler runs through the guard. Like the host's
// own focus chain, a widget counts as left before its exit handler runs, so
// a focus move made by a handler (a failed check puts the focus back on its
// field) starts from where the chain stands: it runs its own enter events,
// never the exit that caused it, and replaces the rest of the interrupted
// chain. A handler that stops without moving the focus skips the rest of the
// chain; the focus then simply stays where it went.
class FocusTracker : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void()>;

  explicit FocusTracker(QWidget* screen);

  void fieldEnter(QWidget* field, Handler handler);
  void fieldExit(QWidget* field, Handler handler);
  void containerEnter(QWidget* container, Handler handler);
  void containerExit(QWidget* container, Handler handler);

  // The screen's control that holds the focus as far as the events know.
  QWidget* current() const { return current_; }
  // A new opening of the screen starts on `control`: the focus the window
  // gets back lands there, as a start (no exit of the control left last,
  // whose value the opening has just set anew, and no enter).
  void startAt(QWidget* control);
  // True while the focus (as the events know it) is inside the widget.
  bool isInside(const QWidget* widget) const;

 private:
  enum class Role { Field, Container };
  struct Entry {
    QPointer<QWidget> widget;
    Role role;
    Handler enter;
    Handler exit;
  };

  Entry& entryFor(QWidget* widget, Role role);
  bool inScreen(const QWidget* widget) const;
  void onFocusChanged(QWidget* old, QWidget* now);
  void moveTo(QWidget* target);
  bool runStep(const Handler& handler);
  void noteIntendedFocus();
  QList<Entry*> exitsFor(const QWidget* target);
  QList<Entry*> entersFor(const QWidget* target);

  QPointer<QWidget> screen_;
  std::vector<std::unique_ptr<Entry>> entries_;
  QList<const Entry*> entered_;  // entries whose widget holds the focus, as far as the chain got
  QPointer<QWidget> current_;
  QPointer<QWidget> pending_;
  bool hasPending_ = false;
  bool dispatching_ = false;
  // the window system is giving the screen's window its activation back
  bool windowReturning_ = false;
  Qt::FocusReason lastFocusReason_ = Qt::OtherFocusReason;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace hostkit
