// The sysop's arrangement of the desktop, kept between starts: the main
// window's place, its bars, and for each named window of the MDI area
// whether it was shown, where, and whether minimised or maximised. It lives
// in the sysop's own settings, not in the BBS directory that the service
// and other sysops share; the caller opens the group of the BBS, so that two
// BBSes on one desktop keep an arrangement each.
#pragma once

#include <QSettings>
#include <QString>
#include <functional>

namespace orn {

class MainWindow;

// The settings file of the sysop's desktop (~/.config/ornbbs/desktop.ini)
// and the group of a BBS directory in it.
QString DesktopLayoutFile();
QString DesktopLayoutGroup(const QString& bbsDir);

void SaveMainPlace(QSettings& s, const MainWindow& w);
// False when nothing was saved: the window keeps its first size.
bool RestoreMainPlace(QSettings& s, MainWindow& w);

void SaveWindowPlaces(QSettings& s, MainWindow& w);
// `show(name, shown)` opens or hides a window by its name, as its command
// would; the places are put back once the windows are there. False when
// nothing was saved.
bool RestoreWindowPlaces(QSettings& s, MainWindow& w, const std::function<void(const QString&, bool)>& show);

}  // namespace orn
