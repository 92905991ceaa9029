// The sysop's menu commands of the desktop: database windows, repair,
// character-set switches, monitor configuration, fonts, views and the like.
#pragma once

#include <QDesktopServices>
#include <QPointer>
#include <QSettings>
#include <QUrl>
#include <functional>

#include "app/ornbbs.h"
#include "desktop/main_window.h"
#include "desktop/msg_window.h"
#include "desktop/users_window.h"
#include "platform/clock.h"

class QDialog;
class QProgressDialog;
class QTimer;

namespace orn {

class DesktopCommands {
 public:
  DesktopCommands(MainWindow& window, ORNBBS& bbs, const Clock& clock);
  ~DesktopCommands();
  DesktopCommands(const DesktopCommands&) = delete;
  DesktopCommands& operator=(const DesktopCommands&) = delete;

  // The windows behind the menu, made when first asked for (tests and the
  // screenshots reach them here).
  UsersWindow* users();
  MsgWindow* msgs();
  // The look of ORN.INI, given to every window again.
  void ApplyLook();
  // Shows or hides the channel windows, as View > Channels does.
  void ShowChannels(bool shown);
  QProgressDialog* repairGauge() { return gauge_; }
  // The arrangement of the windows, kept between starts in the group of the
  // BBS that `s` has open. RestoreLayout is false when nothing was kept.
  void SaveLayout(QSettings& s);
  bool RestoreLayout(QSettings& s);
  // Hands a file or folder to the desktop's program for it; false when the
  // desktop has none (tests put their own here).
  std::function<bool(const QUrl&)> openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

 private:
  void ToggleUsers();
  void ToggleMsgs();
  void ChooseFont();
  void MonitorConfig();
  void WatchRepair();
  // The mail indicator again, after a change to the message at `position`
  // (0: any number of messages).
  void ScanMailForSysop(long position = 0);

  MainWindow& window_;
  ORNBBS& bbs_;
  const Clock& clock_;
  // The database windows, made when first asked for; hidden, not closed.
  UsersWindow* users_ = nullptr;
  MsgWindow* msgs_ = nullptr;
  bool channelsShown_ = false;
  bool monitorShown_ = true;
  QPointer<QDialog> monitorConfig_;
  QProgressDialog* gauge_ = nullptr;
  QTimer* repairWatch_ = nullptr;
  QTimer* scheduled_ = nullptr;
};

}  // namespace orn
