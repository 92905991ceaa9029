#include "desktop/window_look.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <algorithm>
#include <cstdlib>

namespace orn {

QColor ColourOf(long value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

long ColourValue(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

WindowLook LookOf(const Config& cfg) {
  WindowLook look;
  const Fonts& f = cfg.fonts;
  // HEIGHT is a point size here; Windows wrote negative pixel heights, which
  // read as their magnitude are near enough.
  const int size = std::clamp(static_cast<int>(std::labs(f.height)), 6, 72);
  const QString family = QString::fromStdString(f.name);
  if (!family.isEmpty() && QFontDatabase::hasFamily(family)) {
    look.font = QFont(family, size);
  } else {
    look.font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    look.font.setPointSize(size);
  }
  look.font.setBold(f.bold >= 600 || f.bold == 1);
  look.font.setItalic(f.italic != 0);
  look.font.setUnderline(f.underline != 0);
  look.font.setStrikeOut(f.strikeout != 0);
  const Colors& k = cfg.colors;
  look.monitorHeader = ColourOf(k.monitorHeader);
  look.monitorInfo = ColourOf(k.monitorInfo);
  look.channelInput = ColourOf(k.channelInput);
  look.channelOutput = ColourOf(k.channelOutput);
  look.sysopTyping = ColourOf(k.sysopTyping);
  look.userList = ColourOf(k.userList);
  look.msgList = ColourOf(k.msgList);
  look.msgText = ColourOf(k.msgText);
  return look;
}

void StoreFont(const QFont& font, Fonts* f) {
  f->name = font.family().toStdString().substr(0, 25);
  f->height = font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize();
  f->width = 0;
  f->bold = font.bold() ? 700 : 400;
  f->italic = font.italic() ? 1 : 0;
  f->underline = font.underline() ? 1 : 0;
  f->strikeout = font.strikeOut() ? 1 : 0;
}

}  // namespace orn
