#pragma once
// The program's own picture (an arrow rising out of a tray), drawn at any size so it stays
// sharp: the tray icon, the window icon where the icon theme has none, and the drop window.

#include <QIcon>
#include <QPixmap>

namespace quillo {

QPixmap ApplicationPicture(int Size, qreal DevicePixelRatio = 1.0);
// The application's icon: the one set on the application, else the drawn picture.
QIcon ApplicationIcon();

} // namespace quillo
