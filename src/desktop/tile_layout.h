// Where Window > Tile puts the sysop's windows. Equal tiles are too narrow
// for a button row once four or more windows share a 1024-pixel screen, so
// the tiles are packed in shelves: side by side as many as fit at their
// smallest readable widths, further shelves below, each shelf as high as its
// tallest window needs and what is left shared out.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

namespace orn {

// One rectangle per window, in the order given, inside `area`. `least` is
// each window's smallest readable size. `sideBySide` packs shelves of
// windows next to each other (Tile vert); otherwise the shelves are columns
// of windows one above the other (Tile horiz). Where even one window a
// shelf is too many, the windows share the area evenly and may be cut.
std::vector<QRect> TileRects(const std::vector<QSize>& least, QSize area, bool sideBySide);

// `place` moved, and shrunk where it must be, into an area of that size:
// a window that comes up beyond the frame's edge cannot be read or moved.
QRect InsideArea(QRect place, QSize area);

}  // namespace orn
