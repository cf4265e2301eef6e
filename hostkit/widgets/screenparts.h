// Building blocks the base screens share (and the report dialogs built on
// them): toolbar and text buttons, menu entries, the screen-code label, the
// help button, and what closing a screen does.
#pragma once

#include <QString>
#include <functional>

#include "components.h"

class QAction;
class QLabel;
class QMenu;
class QWidget;

namespace hostkit {

// Building blocks the base screens share (and report dialogs built on them).
TButtonFlat* toolButton(QWidget* parent, const QString& name, const QString& hint, Glyph glyph);
// `text` may mark its Alt key with "&"; the hint shows the text without it.
TButtonFlat* textButton(QWidget* parent, const QString& name, const QString& text, Glyph glyph);
QAction* menuAction(QMenu* menu, const QString& name, const QString& text);
// The small grey label of a screen or report code.
QLabel* codeLabel(QWidget* parent, const QString& name);
// The help button and F1 run the dialog's help handler.
void connectHelp(QWidget* dialog, TButtonFlat* button, const std::function<void()>& help);

// What closing a screen does, decided by its FormClose.
enum class CloseAction { None, Hide, Free, Minimize };

}  // namespace hostkit
