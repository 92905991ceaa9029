// The sysop's menu commands of the desktop: database windows, repair,
// character-set switches, monitor configuration, views and the like.
#pragma once

#include "app/ornbbs.h"
#include "desktop/main_window.h"
#include "desktop/msg_window.h"
#include "desktop/users_window.h"
#include "platform/clock.h"

namespace orn {

class DesktopCommands {
 public:
  DesktopCommands(MainWindow& window, ORNBBS& bbs, const Clock& clock);
  ~DesktopCommands();
  DesktopCommands(const DesktopCommands&) = delete;
  DesktopCommands& operator=(const DesktopCommands&) = delete;

 private:
  MainWindow& window_;
  ORNBBS& bbs_;
  const Clock& clock_;
  // The database windows, made when first asked for; hidden, not closed.
  UsersWindow* users_ = nullptr;
  MsgWindow* msgs_ = nullptr;
  bool channelsShown_ = true;
  bool monitorShown_ = true;
};

}  // namespace orn
