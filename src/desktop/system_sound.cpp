#include "desktop/system_sound.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace orn {

void PlayWithSystemPlayer(const std::string& file) {
  for (const char* player : {"paplay", "aplay"}) {
    if (QStandardPaths::findExecutable(player).isEmpty()) continue;
    QStringList args;
    if (QString(player) == "aplay") args << "-q";
    args << QString::fromStdString(file);
    QProcess::startDetached(player, args);
    return;
  }
}

}  // namespace orn
