#include "desktop/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace orn {
namespace {

QPixmap Canvas(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  return pm;
}

// The mast with its waves over an envelope: the radio and the mail.
void PaintApp(QPainter& p, int s) {
  p.setRenderHint(QPainter::Antialiasing);
  const qreal u = s / 64.0;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x4e, 0x8c));
  p.drawRoundedRect(QRectF(2 * u, 2 * u, 60 * u, 60 * u), 12 * u, 12 * u);
  QPen wave(QColor(0xff, 0xc8, 0x3d), 3.5 * u, Qt::SolidLine, Qt::RoundCap);
  p.setPen(wave);
  p.setBrush(Qt::NoBrush);
  for (int r : {9, 16}) {
    const QRectF box(32 * u - r * u, 15 * u - r * u, 2 * r * u, 2 * r * u);
    p.drawArc(box, 30 * 16, 120 * 16);
  }
  p.setPen(QPen(Qt::white, 3 * u, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(32 * u, 15 * u), QPointF(32 * u, 36 * u));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(32 * u, 15 * u), 3 * u, 3 * u);
  const QRectF env(14 * u, 36 * u, 36 * u, 20 * u);
  p.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 2 * u));
  p.setBrush(Qt::white);
  p.drawRect(env);
  QPainterPath flap;
  flap.moveTo(env.topLeft());
  flap.lineTo(env.center().x(), env.top() + 11 * u);
  flap.lineTo(env.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
}

void PaintLed(QPainter& p, QPointF at, qreal r, QColor on, bool lit) {
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(lit ? on : on.darker(300));
  p.drawEllipse(at, r, r);
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int s : {16, 22, 32, 48, 64, 128}) {
    QPixmap pm = Canvas(s);
    QPainter p(&pm);
    PaintApp(p, s);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon LedIcon(Leds which) {
  QIcon icon;
  for (int s : {16, 22, 32, 48}) {
    QPixmap pm = Canvas(s);
    QPainter p(&pm);
    PaintApp(p, s);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal r = s * 0.16;
    PaintLed(p, QPointF(s - r - 1, s - 3 * r - 2), r, QColor(0x30, 0xe0, 0x30), which != Leds::Two);
    PaintLed(p, QPointF(s - r - 1, s - r - 1), r, QColor(0xff, 0x40, 0x30), which != Leds::One);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon ToolIcon(const QString& glyph, const QColor& tile) {
  QIcon icon;
  for (int s : {16, 24, 32}) {
    QPixmap pm = Canvas(s);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(tile.darker(150), 1));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 6.0, s / 6.0);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(glyph.size() > 1 ? s * 9 / 20 : s * 2 / 3);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, glyph);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon ThemedIcon(const char* name, const QString& glyph, const QColor& tile) {
  const QString themed = QString::fromLatin1(name);
  return QIcon::hasThemeIcon(themed) ? QIcon::fromTheme(themed) : ToolIcon(glyph, tile);
}

QIcon StatusIcon(char status) {
  QColor c;
  switch (status) {
    case 'N': c = QColor(0x2e, 0x7d, 0x32); break;  // waiting to be read
    case 'Y': c = QColor(0x90, 0x90, 0x90); break;
    case 'H': c = QColor(0xef, 0x8f, 0x00); break;
    case 'O': c = QColor(0x6d, 0x4c, 0x41); break;
    case 'K': c = QColor(0xc6, 0x28, 0x28); break;
    case 'F': c = QColor(0x15, 0x65, 0xc0); break;
    default: c = QColor(0xb0, 0xb0, 0xb0); break;
  }
  QPixmap pm = Canvas(16);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(c.darker(140), 1));
  p.setBrush(status == 'K' ? QColor(Qt::white) : c);
  p.drawRect(QRectF(1.5, 3.5, 13, 9));
  p.setPen(QPen(status == 'K' ? c : QColor(Qt::white), 1.2));
  if (status == 'K') {
    p.drawLine(QPointF(3, 4), QPointF(13, 12));
    p.drawLine(QPointF(13, 4), QPointF(3, 12));
  } else {
    p.drawLine(QPointF(2, 4), QPointF(8, 9));
    p.drawLine(QPointF(8, 9), QPointF(14, 4));
  }
  p.end();
  return QIcon(pm);
}

}  // namespace orn
