#include "desktop/tile_layout.h"

#include <algorithm>
#include <numeric>

namespace orn {
namespace {

// Sizes `needs` out of `room`: equal parts when every need fits one, else
// each its need and an equal share of what is left; with too little room,
// equal parts all the same.
std::vector<int> Share(const std::vector<int>& needs, int room) {
  const int n = static_cast<int>(needs.size());
  std::vector<int> parts(n, room / n);
  const int total = std::accumulate(needs.begin(), needs.end(), 0);
  if (*std::max_element(needs.begin(), needs.end()) > room / n && total <= room)
    for (int i = 0; i < n; ++i) parts[i] = needs[i] + (room - total) / n;
  // The last part takes what the divisions left over.
  parts[n - 1] += room - std::accumulate(parts.begin(), parts.end(), 0);
  return parts;
}

// Shelves of windows along x, shelves stacked along y.
std::vector<QRect> Shelves(const std::vector<QSize>& least, QSize area) {
  std::vector<std::vector<int>> shelves;
  int used = 0;
  for (int i = 0; i < static_cast<int>(least.size()); ++i) {
    if (shelves.empty() || used + least[i].width() > area.width()) {
      shelves.emplace_back();
      used = 0;
    }
    shelves.back().push_back(i);
    used += least[i].width();
  }
  std::vector<int> heights;
  for (const auto& shelf : shelves) {
    int h = 0;
    for (int i : shelf) h = std::max(h, least[i].height());
    heights.push_back(h);
  }
  const std::vector<int> shelfHeights = Share(heights, area.height());
  std::vector<QRect> rects(least.size());
  int y = 0;
  for (size_t s = 0; s < shelves.size(); ++s) {
    std::vector<int> widths;
    for (int i : shelves[s]) widths.push_back(least[i].width());
    const std::vector<int> parts = Share(widths, area.width());
    int x = 0;
    for (size_t k = 0; k < shelves[s].size(); ++k) {
      rects[shelves[s][k]] = QRect(x, y, parts[k], shelfHeights[s]);
      x += parts[k];
    }
    y += shelfHeights[s];
  }
  return rects;
}

}  // namespace

QRect InsideArea(QRect g, QSize area) {
  if (area.isEmpty()) return g;
  g.setSize(g.size().boundedTo(area));
  if (g.right() >= area.width()) g.moveRight(area.width() - 1);
  if (g.bottom() >= area.height()) g.moveBottom(area.height() - 1);
  if (g.left() < 0) g.moveLeft(0);
  if (g.top() < 0) g.moveTop(0);
  return g;
}

std::vector<QRect> TileRects(const std::vector<QSize>& least, QSize area, bool sideBySide) {
  if (least.empty() || area.isEmpty()) return {};
  if (sideBySide) return Shelves(least, area);
  std::vector<QSize> turned;
  for (const QSize& s : least) turned.push_back(s.transposed());
  std::vector<QRect> rects = Shelves(turned, area.transposed());
  for (QRect& r : rects) r = QRect(r.y(), r.x(), r.height(), r.width());
  return rects;
}

}  // namespace orn
