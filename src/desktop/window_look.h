// The look of the sysop's windows as ORN.INI keeps it: the font of the
// monitor and channel panes (FONTS) and the six colours (COLORS).
#pragma once

#include <QColor>
#include <QFont>

#include "context/config.h"

namespace orn {

struct WindowLook {
  QFont font;
  QColor monitorHeader, monitorInfo, channelInput, userList, msgList, msgText, channelOutput, sysopTyping;
};

// ORN.INI keeps colours as Windows colour values: red in the low byte.
QColor ColourOf(long value);
long ColourValue(const QColor& c);

// The look the configuration asks for. A font the machine does not have
// gives way to the system's fixed-width font at the asked size.
WindowLook LookOf(const Config& cfg);
// The chosen font into the FONTS values (SaveFonts writes them).
void StoreFont(const QFont& font, Fonts* f);

}  // namespace orn
