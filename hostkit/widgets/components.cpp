#include "components.h"

#include <QApplication>
#include <QDate>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <QValidator>
#include <algorithm>
#include <cmath>

#include "operations.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/dataset.h>
#include <hostkit/core/hostservices.h>

namespace hostkit {

// ---- glyphs ------------------------------------------------------------------------

namespace {

void drawArrow(QPainter& p, bool left, bool bar) {
  QPolygonF triangle;
  if (left)
    triangle << QPointF(11, 3) << QPointF(5, 8) << QPointF(11, 13);
  else
    triangle << QPointF(5, 3) << QPointF(11, 8) << QPointF(5, 13);
  p.setBrush(p.pen().color());
  p.drawPolygon(triangle);
  if (bar) p.drawLine(left ? QPointF(3.5, 3) : QPointF(12.5, 3), left ? QPointF(3.5, 13) : QPointF(12.5, 13));
}

void drawGlyph(QPainter& p, Glyph glyph) {
  const QColor ink(40, 40, 40);
  p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  switch (glyph) {
    case Glyph::Search:
      p.drawEllipse(QRectF(2, 2, 8, 8));
      p.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
      break;
    case Glyph::Help: {
      p.setPen(QPen(QColor(20, 70, 160), 1.6));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      QFont f = p.font();
      f.setBold(true);
      f.setPixelSize(11);
      p.setFont(f);
      p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case Glyph::Print:
      p.drawRect(QRectF(4, 1.5, 8, 5));
      p.drawRect(QRectF(1.5, 6.5, 13, 5));
      p.fillRect(QRectF(4, 10, 8, 4.5), Qt::white);
      p.drawRect(QRectF(4, 10, 8, 4.5));
      break;
    case Glyph::Close:
      p.setPen(QPen(QColor(170, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4, 4), QPointF(12, 12));
      p.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
    case Glyph::Verify: {
      p.setPen(QPen(QColor(20, 110, 40), 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawArc(QRectF(2.5, 2.5, 11, 11), 30 * 16, 280 * 16);
      QPolygonF head;
      head << QPointF(11, 1.5) << QPointF(14.5, 5) << QPointF(10, 6);
      p.setBrush(QColor(20, 110, 40));
      p.drawPolygon(head);
      break;
    }
    case Glyph::Confirm:
      p.setPen(QPen(QColor(20, 120, 40), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF() << QPointF(2.5, 8.5) << QPointF(6.5, 12.5) << QPointF(13.5, 3.5));
      break;
    case Glyph::Cancel:
      p.setPen(QPen(QColor(170, 30, 30), 1.8));
      p.drawEllipse(QRectF(2, 2, 12, 12));
      p.drawLine(QPointF(4.5, 11.5), QPointF(11.5, 4.5));
      break;
    case Glyph::Options:
      for (int y : {4, 8, 12}) p.drawLine(QPointF(3, y), QPointF(13, y));
      break;
    case Glyph::First:
      drawArrow(p, true, true);
      break;
    case Glyph::Prior:
      drawArrow(p, true, false);
      break;
    case Glyph::Next:
      drawArrow(p, false, false);
      break;
    case Glyph::Last:
      drawArrow(p, false, true);
      break;
  }
}

}  // namespace

QIcon glyphIcon(Glyph glyph) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pixmap(16 * scale, 16 * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawGlyph(p, glyph);
    p.end();
    icon.addPixmap(pixmap);
    // disabled: a pale silhouette, so a button that can do nothing looks it
    // (the style's own greying keeps dark glyphs almost as they are)
    QPixmap pale = pixmap;
    QPainter shade(&pale);
    shade.setCompositionMode(QPainter::CompositionMode_SourceIn);
    shade.fillRect(QRect(QPoint(0, 0), pale.size()), QColor(150, 150, 150, 110));
    shade.end();
    icon.addPixmap(pale, QIcon::Disabled);
  }
  return icon;
}

// ---- masked edit ------------------------------------------------------------------

namespace {

struct MaskPosition {
  enum Kind { Digit, DigitOrSign, Letter, LetterOrDigit, Any, Literal } kind = Any;
  int caseShift = 0;  // 1 upper, -1 lower
  QChar literal;
};

std::vector<MaskPosition> parseMaskBody(const QString& mask) {
  // "body;save;blank": the last two fields are options, the rest the body.
  QStringList fields = mask.split(QLatin1Char(';'));
  if (fields.size() >= 3) fields = fields.mid(0, fields.size() - 2);
  const QString body = fields.join(QLatin1Char(';'));

  std::vector<MaskPosition> positions;
  int caseShift = 0;
  for (int i = 0; i < body.size(); ++i) {
    const QChar c = body.at(i);
    if (c == QLatin1Char('<') && i + 1 < body.size() && body.at(i + 1) == QLatin1Char('>')) {
      caseShift = 0;
      ++i;
      continue;
    }
    if (c == QLatin1Char('>')) {
      caseShift = 1;
      continue;
    }
    if (c == QLatin1Char('<')) {
      caseShift = -1;
      continue;
    }
    MaskPosition p;
    p.caseShift = caseShift;
    switch (c.unicode()) {
      case '0':
      case '9':
        p.kind = MaskPosition::Digit;
        break;
      case '#':
        p.kind = MaskPosition::DigitOrSign;
        break;
      case 'L':
      case 'l':
        p.kind = MaskPosition::Letter;
        break;
      case 'A':
      case 'a':
        p.kind = MaskPosition::LetterOrDigit;
        break;
      case 'C':
      case 'c':
        p.kind = MaskPosition::Any;
        break;
      case '\\':
        p.kind = MaskPosition::Literal;
        if (++i < body.size()) p.literal = body.at(i);
        break;
      default:
        p.kind = MaskPosition::Literal;
        p.literal = c;
    }
    positions.push_back(p);
  }
  return positions;
}

bool accepts(const MaskPosition& p, QChar c) {
  switch (p.kind) {
    case MaskPosition::Digit:
      return c.isDigit();
    case MaskPosition::DigitOrSign:
      return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-');
    case MaskPosition::Letter:
      return c.isLetter();
    case MaskPosition::LetterOrDigit:
      return c.isLetterOrNumber();
    case MaskPosition::Any:
      return true;
    case MaskPosition::Literal:
      return c == p.literal;
  }
  return false;
}

// Checks each typed character against its mask position and applies the
// position's case; QLineEdit takes over the corrected text.
class MaskValidator : public QValidator {
 public:
  MaskValidator(std::vector<MaskPosition> positions, QObject* parent)
      : QValidator(parent), positions_(std::move(positions)) {}

  State validate(QString& input, int& /*pos*/) const override {
    if (input.size() > qsizetype(positions_.size())) return Invalid;
    for (qsizetype i = 0; i < input.size(); ++i) {
      const MaskPosition& p = positions_[size_t(i)];
      QChar c = input.at(i);
      if (p.caseShift > 0) c = c.toUpper();
      if (p.caseShift < 0) c = c.toLower();
      if (!accepts(p, c)) return Invalid;
      input[i] = c;
    }
    return Acceptable;
  }

 private:
  std::vector<MaskPosition> positions_;
};

}  // namespace

TMaskEdit::TMaskEdit(QWidget* parent, const QString& name) : QLineEdit(parent) { setObjectName(name); }

void TMaskEdit::SetEditMask(const QString& mask) {
  mask_ = mask;
  delete validator();
  auto positions = parseMaskBody(mask);
  if (positions.empty()) {
    setValidator(nullptr);
    setMaxLength(32767);
    return;
  }
  setMaxLength(int(positions.size()));
  auto* maskValidator = new MaskValidator(std::move(positions), this);
  setValidator(maskValidator);
  // The text already there takes the new mask's case.
  QString fixed = text();
  int pos = 0;
  if (maskValidator->validate(fixed, pos) == QValidator::Acceptable && fixed != text()) setText(fixed);
}

// ---- date edit ---------------------------------------------------------------------

namespace {
QDate shownDate(const QString& text) { return QDate::fromString(text, QStringLiteral("d/M/yyyy")); }
}  // namespace

TDateEditPlus::TDateEditPlus(QWidget* parent, const QString& name) : QLineEdit(parent) {
  setObjectName(name);
  setInputMask(QStringLiteral("99/99/9999;_"));
  weekdayNames_ = {QStringLiteral("Domingo"), QStringLiteral("Segunda"), QStringLiteral("Terça"),
                   QStringLiteral("Quarta"),  QStringLiteral("Quinta"),  QStringLiteral("Sexta"),
                   QStringLiteral("Sábado")};
  connect(this, &QLineEdit::textChanged, this, &TDateEditPlus::refreshLook);
  refreshLook();
}

bool TDateEditPlus::IsEmpty() const {
  const QString shown = text();
  return std::none_of(shown.begin(), shown.end(), [](QChar c) { return c.isDigit(); });
}

bool TDateEditPlus::IsDateValid() const { return shownDate(text()).isValid(); }

double TDateEditPlus::GetDate() const {
  const QDate d = shownDate(text());
  if (!d.isValid()) return 0;
  return toDateTime(d) + (saveTime_ ? timeOfDay_ : 0);
}

void TDateEditPlus::SetDate(double dateTime) {
  if (dateTime == 0) {
    timeOfDay_ = 0;
    clear();
    return;
  }
  const QDateTime dt = fromDateTime(dateTime);
  timeOfDay_ = dateTime - std::floor(dateTime);
  setText(dt.date().toString(QStringLiteral("dd/MM/yyyy")));
}

void TDateEditPlus::SetWeekdayNames(const QStringList& names) {
  weekdayNames_ = names;
  refreshLook();
}

QString TDateEditPlus::WeekdayName() const {
  const QDate d = shownDate(text());
  if (!d.isValid()) return {};
  const int index = d.dayOfWeek() % 7;  // Qt counts Monday = 1 .. Sunday = 7
  return index < weekdayNames_.size() ? weekdayNames_.at(index) : QString();
}

void TDateEditPlus::SetValidDateColor(const QColor& color) {
  validDateColor_ = color;
  refreshLook();
}

void TDateEditPlus::refreshLook() {
  const QString weekday = WeekdayName();
  setToolTip(weekday);
  setStatusTip(weekday);
  QPalette p = palette();
  const QColor normal = QApplication::palette(this).color(QPalette::Text);
  p.setColor(QPalette::Text, !weekday.isEmpty() && validDateColor_.isValid() ? validDateColor_ : normal);
  setPalette(p);
}

// ---- buttons --------------------------------------------------------------------------

TButtonFlat::TButtonFlat(QWidget* parent, const QString& name, const QString& hint) : QToolButton(parent) {
  setObjectName(name);
  setAutoRaise(true);
  setFocusPolicy(Qt::NoFocus);
  setIconSize(QSize(16, 16));
  SetHint(hint);
}

void TButtonFlat::SetHint(const QString& hint) {
  setToolTip(hint);
  setStatusTip(hint);
}

TBtnPesquisa::TBtnPesquisa(QWidget* parent, const QString& name) : QToolButton(parent) {
  setObjectName(name);
  setAutoRaise(false);
  setFocusPolicy(Qt::NoFocus);
  setIcon(glyphIcon(Glyph::Search));
  setIconSize(QSize(16, 16));
  SetHint(QStringLiteral("Pesquisar"));
  connect(this, &QToolButton::clicked, this, [this] { Click(); });
}

void TBtnPesquisa::SetHint(const QString& hint) {
  hint_ = hint;
  const QString shown = searchKey_ ? QStringLiteral("%1 (F2)").arg(hint) : hint;
  setToolTip(shown);
  setStatusTip(shown);
}

void TBtnPesquisa::SetAssociate(QWidget* widget) {
  associate_ = widget;
  delete searchKey_.data();
  if (widget) {
    searchKey_ = new QShortcut(QKeySequence(Qt::Key_F2), widget, nullptr, nullptr, Qt::WidgetShortcut);
    connect(searchKey_, &QShortcut::activated, this, [this] {
      if (isEnabled()) Click();
    });
  }
  SetHint(hint_);
}

// A search opens only when nothing else runs on its screen or dialog.
bool TBtnPesquisa::Click() {
  if (operationRunningAround(this)) return false;
  if (OnClick) return guardedOn(this, [this] { OnClick(this); });
  return guardedOn(this, [this] { search(); });
}

void TBtnPesquisa::search() {
  bool proceed = true;
  if (OnBeforePesq) OnBeforePesq(this, proceed);
  if (!proceed) return;
  TDataSet* dataset = dataSource_ ? dataSource_->DataSet() : nullptr;
  if (!dataset) throw EHostError(QStringLiteral("%1: pesquisa sem conjunto de dados.").arg(objectName()));
  if (!hostServices().pickRecord(dataset, title_, emptyError_)) return;
  if (OnAfterPesq) OnAfterPesq(this, dataset);
}

// ---- focus enter and exit ----------------------------------------------------------------

namespace {

bool contains(const QWidget* outer, const QWidget* inner) {
  return outer && inner && (outer == inner || outer->isAncestorOf(inner));
}

int depthOf(const QWidget* w) {
  int depth = 0;
  for (; w; w = w->parentWidget()) ++depth;
  return depth;
}

// Enough for a check that moves the focus and the enter that follows; more
// means handlers keep throwing the focus around.
constexpr int kMaxChainedMoves = 8;

}  // namespace

FocusTracker::FocusTracker(QWidget* screen) : QObject(screen), screen_(screen) {
  connect(qApp, &QApplication::focusChanged, this, &FocusTracker::onFocusChanged);
  qApp->installEventFilter(this);
}

// Notes the reason of each focus change (its FocusIn comes before the
// focusChanged signal) and when the screen's window is activated again.
bool FocusTracker::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    lastFocusReason_ = static_cast<QFocusEvent*>(event)->reason();
  } else if (event->type() == QEvent::WindowActivate && screen_ && watched == screen_->window() && !windowReturning_) {
    windowReturning_ = true;
    QTimer::singleShot(0, this, [this] { windowReturning_ = false; });
  }
  return false;
}

FocusTracker::Entry& FocusTracker::entryFor(QWidget* widget, Role role) {
  for (auto& e : entries_)
    if (e->widget == widget && e->role == role) return *e;
  entries_.push_back(std::make_unique<Entry>(Entry{widget, role, {}, {}}));
  return *entries_.back();
}

void FocusTracker::fieldEnter(QWidget* field, Handler handler) {
  entryFor(field, Role::Field).enter = std::move(handler);
}
void FocusTracker::fieldExit(QWidget* field, Handler handler) {
  entryFor(field, Role::Field).exit = std::move(handler);
}
void FocusTracker::containerEnter(QWidget* container, Handler handler) {
  entryFor(container, Role::Container).enter = std::move(handler);
}
void FocusTracker::containerExit(QWidget* container, Handler handler) {
  entryFor(container, Role::Container).exit = std::move(handler);
}

bool FocusTracker::isInside(const QWidget* widget) const { return contains(widget, current_); }

void FocusTracker::startAt(QWidget* control) {
  current_ = control;
  entered_.clear();
  for (const auto& e : entries_)
    if (contains(e->widget, control)) entered_ << e.get();
  control->setFocus(Qt::OtherFocusReason);
}

// isAncestorOf stops at window borders, so a message box or picker parented to
// the screen is not part of it.
bool FocusTracker::inScreen(const QWidget* widget) const { return contains(screen_, widget); }

void FocusTracker::onFocusChanged(QWidget* old, QWidget* now) {
  if (!inScreen(now)) return;  // a message box, picker, popup or other window: no move
  if (dispatching_) {
    // A handler moved the focus (or a dialog it opened gave it back).
    const QWidget* expected = hasPending_ ? pending_.data() : current_.data();
    if (now == expected) return;
    pending_ = now;
    hasPending_ = true;
    return;
  }
  if (now == current_) return;  // back from another window
  // Back from another window (a dialog a handler opened) the window system,
  // or the MDI area, may put the focus on the window's first field: that is
  // no move, the focus goes back where it was. A click is a move.
  if (windowReturning_ && !inScreen(old) && lastFocusReason_ != Qt::MouseFocusReason && current_ &&
      current_->isVisible() && current_->isEnabled() && current_->focusPolicy() != Qt::NoFocus) {
    current_->setFocus(Qt::OtherFocusReason);
    return;
  }
  dispatching_ = true;
  pending_ = now;
  hasPending_ = true;
  for (int moves = 0; hasPending_ && moves < kMaxChainedMoves; ++moves) {
    hasPending_ = false;
    if (QWidget* target = pending_) moveTo(target);
  }
  if (hasPending_) {
    // Handlers kept moving the focus: take the last place without events.
    hasPending_ = false;
    current_ = pending_;
    entered_.clear();
    for (const auto& e : entries_)
      if (contains(e->widget, current_)) entered_ << e.get();
  }
  dispatching_ = false;
}

QList<FocusTracker::Entry*> FocusTracker::exitsFor(const QWidget* target) {
  QList<Entry*> exits;
  for (const auto& e : entries_)
    if (entered_.contains(e.get()) && !contains(e->widget, target)) exits << e.get();
  std::stable_sort(exits.begin(), exits.end(), [](const Entry* a, const Entry* b) {
    if (a->role != b->role) return a->role == Role::Field;
    return depthOf(a->widget) > depthOf(b->widget);
  });
  return exits;
}

QList<FocusTracker::Entry*> FocusTracker::entersFor(const QWidget* target) {
  QList<Entry*> enters;
  for (const auto& e : entries_)
    if (!entered_.contains(e.get()) && contains(e->widget, target)) enters << e.get();
  std::stable_sort(enters.begin(), enters.end(), [](const Entry* a, const Entry* b) {
    if (a->role != b->role) return a->role == Role::Container;
    return depthOf(a->widget) < depthOf(b->widget);
  });
  return enters;
}

// One step of the chain; false ends the chain (a handler stopped or moved the focus).
bool FocusTracker::runStep(const Handler& handler) {
  if (!handler) return true;
  const bool completed = screen_ ? guardedOn(screen_, handler) : guarded(handler);
  noteIntendedFocus();
  return completed && !hasPending_;
}

// A handler that showed a message box moves the focus while its window is
// inactive: Qt only records the window's focus widget and reports nothing
// until the window is active again. That recorded widget is the move.
void FocusTracker::noteIntendedFocus() {
  if (!screen_) return;
  QWidget* intended = screen_->window()->focusWidget();
  const QWidget* expected = hasPending_ ? pending_.data() : current_.data();
  if (!inScreen(intended) || intended == expected) return;
  pending_ = intended;
  hasPending_ = true;
}

void FocusTracker::moveTo(QWidget* target) {
  current_ = target;
  // Entries whose widget is gone leave the chain silently.
  entered_.removeIf([](const Entry* e) { return !e->widget; });
  auto finishStopped = [this, target] {
    if (hasPending_) return;  // the handler's own move takes over
    // A handler stopped: the rest of the chain is skipped, the focus stays.
    entered_.clear();
    for (const auto& e : entries_)
      if (contains(e->widget, target)) entered_ << e.get();
  };
  for (Entry* e : exitsFor(target)) {
    entered_.removeOne(e);
    if (!runStep(e->exit)) return finishStopped();
  }
  for (Entry* e : entersFor(target)) {
    entered_ << e;
    if (!runStep(e->enter)) return finishStopped();
  }
}

}  // namespace hostkit
