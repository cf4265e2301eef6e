#include "drawing.h"

#include <QBitmap>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace hostkit {

void SetChildEnabled(QWidget* container, bool enabled) {
  if (!container) return;
  for (QWidget* child : container->findChildren<QWidget*>()) child->setEnabled(enabled);
}

void InsereImagem(QPainter& painter, const QRect& cell, const QPixmap& bitmap, const QColor& transparent) {
  QPixmap icon = bitmap;
  icon.setMask(bitmap.createMaskFromColor(transparent));
  const QPoint topLeft(cell.left() + (cell.width() - icon.width()) / 2,
                       cell.top() + (cell.height() - icon.height()) / 2);
  painter.drawPixmap(topLeft, icon);
}

}  // namespace hostkit
