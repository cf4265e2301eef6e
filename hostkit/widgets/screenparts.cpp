#include "screenparts.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QShortcut>

namespace hostkit {

TButtonFlat* toolButton(QWidget* parent, const QString& name, const QString& hint, Glyph glyph) {
  auto* b = new TButtonFlat(parent, name, hint);
  b->setIcon(glyphIcon(glyph));
  return b;
}

// `text` may mark its Alt key with "&"; the hint shows the text without it.
TButtonFlat* textButton(QWidget* parent, const QString& name, const QString& text, Glyph glyph) {
  auto* b = toolButton(parent, name, QString(text).remove(QLatin1Char('&')), glyph);
  b->setText(text);
  b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  return b;
}

QAction* menuAction(QMenu* menu, const QString& name, const QString& text) {
  auto* a = menu->addAction(text);
  a->setObjectName(name);
  return a;
}

QLabel* codeLabel(QWidget* parent, const QString& name) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  QFont f = l->font();
  f.setPointSizeF(f.pointSizeF() * 0.85);
  l->setFont(f);
  l->setForegroundRole(QPalette::PlaceholderText);
  return l;
}

// The help button and F1 run the dialog's help handler.
void connectHelp(QWidget* dialog, TButtonFlat* button, const std::function<void()>& help) {
  QObject::connect(button, &QToolButton::clicked, dialog, help);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, dialog);
  QObject::connect(f1, &QShortcut::activated, dialog, help);
}

}  // namespace hostkit
