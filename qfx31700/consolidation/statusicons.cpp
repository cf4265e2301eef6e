#include "statusicons.h"

#include <QPainter>
#include <QPainterPath>

namespace qfx {

QPixmap statusPixmap(bool consolidated) {
  QPixmap pixmap(16, 16);
  pixmap.fill(QColor(128, 128, 0));  // olive: the see-through colour
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::NoPen);
  p.setBrush(consolidated ? QColor(0, 128, 0) : QColor(192, 0, 0));
  p.drawEllipse(1, 1, 14, 14);
  p.setPen(QPen(Qt::white, 2));
  if (consolidated) {
    p.drawLine(4, 8, 7, 11);
    p.drawLine(7, 11, 12, 5);
  } else {
    p.drawLine(5, 5, 11, 11);
    p.drawLine(11, 5, 5, 11);
  }
  return pixmap;
}

QIcon consolidateIcon() {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1.5));
  p.setBrush(QColor(250, 240, 200));
  p.drawRect(4, 3, 13, 17);
  for (int y = 7; y <= 15; y += 4) p.drawLine(7, y, 14, y);
  p.setPen(QPen(QColor(0, 128, 0), 3));
  p.drawLine(12, 16, 15, 20);
  p.drawLine(15, 20, 21, 11);
  return QIcon(pixmap);
}

QIcon filterIcon() {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath funnel;
  funnel.moveTo(3, 4);
  funnel.lineTo(21, 4);
  funnel.lineTo(14, 12);
  funnel.lineTo(14, 20);
  funnel.lineTo(10, 18);
  funnel.lineTo(10, 12);
  funnel.closeSubpath();
  p.setPen(QPen(QColor(40, 40, 40), 1.2));
  p.setBrush(QColor(70, 120, 200));
  p.drawPath(funnel);
  return QIcon(pixmap);
}

}  // namespace qfx
