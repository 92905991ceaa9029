// The program's pictures, drawn rather than loaded so that the program needs
// no image plug-ins: the application icon, the tray's three LED states and
// the tool bar's buttons.
#pragma once

#include <QIcon>
#include <QString>

namespace orn {

QIcon AppIcon();
// The tray: both LEDs lit (idle), the first (receive) or the second (send).
enum class Leds { All, One, Two };
QIcon LedIcon(Leds which);
// A tool bar button: a glyph of one or two characters on a coloured tile.
QIcon ToolIcon(const QString& glyph, const QColor& tile);
// The desktop theme's icon of that name (freedesktop naming) where the
// desktop has one, so the buttons look like the sysop's other programs;
// otherwise the drawn tile.
QIcon ThemedIcon(const char* name, const QString& glyph, const QColor& tile);
// A message row's status: unread, read, held, old, killed, forwarded.
QIcon StatusIcon(char status);

}  // namespace orn
