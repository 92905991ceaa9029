// The main window: an MDI frame holding the monitor and channel windows, the
// tool bar, the "Infos" bar with the message counters, the status bar, the
// tray icon, and the sysop's message boxes.
#pragma once

#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <functional>

#include "context/views.h"
#include "desktop/window_look.h"

class QDockWidget;
class QSystemTrayIcon;
class QToolBar;
class QTimer;

namespace orn {

class PageNotices;

class ChannelWindow;

class MainWindow : public QMainWindow, public MainView {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  void MessageBox(const std::string& caption, const std::string& text, Icon icon) override;
  bool Question(const std::string& caption, const std::string& text, bool def) override;
  void SetStatusText(const std::string& text) override;
  void SetStatusField(int field, const std::string& text) override;
  void SetConnectionIndicator(bool on) override;
  void SetMailIndicator(bool mail) override;
  void SetAnimationFrame(int frame) override;
  void PlaySound(const std::string& file) override;
  void RefreshUserList(long position) override {
    if (onUsersChanged) onUsersChanged(position);
  }
  void RefreshMsgList(long position) override {
    if (onMsgsChanged) onMsgsChanged(position);
  }
  // Opens a window of the sysop's in the MDI area, or shows it again, with
  // the focus.
  void ShowInArea(QWidget* w);
  // Hides a window of the sysop's; true when it was shown.
  bool HideInArea(QWidget* w);
  bool IsShownInArea(QWidget* w) const;
  std::function<void(long)> onUsersChanged, onMsgsChanged;
  void FlashTx() override;
  void FlashRx() override;
  void Notice(const std::string& caption, const std::string& text) override;
  // A notice per paged channel and the page on the channel's window; the
  // tray flashes while a notice is unseen.
  void PageRequest(int tableIndex, const std::string& text, const std::string& command) override;
  void PageEnded(int tableIndex) override;
  PageNotices* pageNotices() { return pages_; }
  bool trayCallsForPage() const;
  std::unique_ptr<ChannelView> CreateChannelView(int tableIndex) override;
  void Cascade() override;
  void TileHorizontally();
  void TileVertically();
  void ArrangeIcons();
  void MinimizeAll();
  void RestoreAll();

  // A command of the menu bar, added at the end of its menu (File, Fonts,
  // System, View, Window, Help); `checked`, when given, sets the item's
  // check mark each time the menu opens. `hint` goes to the status bar.
  QAction* addMenuCommand(const QString& menu, const QString& item, std::function<void()> run,
                          std::function<bool()> checked = nullptr, const QString& hint = {});
  // The tool bar's buttons: menu items by their text, "" for a separator.
  void SetToolBar(const QStringList& items);
  QAction* action(const QString& item) const;

  // Font and colours of the monitor and channel windows, now and for the
  // windows made later.
  void SetLook(const WindowLook& look);
  const WindowLook& look() const { return look_; }
  QList<ChannelWindow*> channelWindows() const;

  // The BBS's call goes into the caption and the tray's tip.
  void SetOwnCall(const QString& call);
  // The message when the tray is asked for and there is none: null.
  QSystemTrayIcon* tray() { return tray_; }
  QToolBar* toolBar() { return toolBar_; }
  QDockWidget* infoBar() { return infoBar_; }
  QLabel* infoField(int i) { return fields_[i]; }
  bool mailIndicatorOn() const;

  // Asked before the window closes; null closes without asking.
  void setCloseQuestion(std::function<bool()> ask) { ask_ = std::move(ask); }
  QMdiArea* mdiArea() { return mdi_; }

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Flash(QLabel* indicator, bool transmit);
  void ShowAbout();
  void ShowManual();
  void Tile(bool sideBySide);
  QMenu* Menu(const QString& title);
  QList<QMdiSubWindow*> VisibleWindows() const;

  QMdiArea* mdi_;
  QLabel* status_;
  QLabel* connection_;
  QLabel* mail_;
  QLabel* animation_;
  QLabel* tx_;
  QLabel* rx_;
  QLabel* fields_[4];
  QToolBar* toolBar_;
  QDockWidget* infoBar_;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer* trayFlash_;
  PageNotices* pages_;
  QTimer* pageFlash_;
  bool pageFlashOn_ = false;
  int trayFlashesLeft_ = 0;
  bool trayTransmit_ = false;
  QAction* about_ = nullptr;
  QTimer* aboutTimer_;
  QPointer<QWidget> manual_;
  QString ownCall_;
  WindowLook look_;
  QList<QPointer<ChannelWindow>> channels_;
  std::function<bool()> ask_;
};

}  // namespace orn
