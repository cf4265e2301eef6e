// Pictures drawn in code: the grid's status icons (16x16 on an olive
// background that the grid treats as see-through) and the toolbar icons.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace qfx {

QPixmap statusPixmap(bool consolidated);
QIcon consolidateIcon();
QIcon filterIcon();

}  // namespace qfx
