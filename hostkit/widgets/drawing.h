// Widget and painting helpers the screens share.
#pragma once

#include <QColor>

class QWidget;
class QPainter;
class QRect;
class QPixmap;

namespace hostkit {

// Enables or disables every control inside the container (not the container).
void SetChildEnabled(QWidget* container, bool enabled);

// Draws the bitmap centred in the cell, with `transparent` as its see-through colour.
void InsereImagem(QPainter& painter, const QRect& cell, const QPixmap& bitmap, const QColor& transparent);

}  // namespace hostkit
