// The main window: an MDI frame holding the monitor and channel windows, the
// status bar, and the sysop's message boxes.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <functional>

#include "context/views.h"

namespace orn {

class MainWindow : public QMainWindow, public MainView {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);

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
  // Opens a window of the sysop's in the MDI area, or shows it again.
  void ShowInArea(QWidget* w);
  std::function<void(long)> onUsersChanged, onMsgsChanged;
  void FlashTx() override { Flash(tx_); }
  void FlashRx() override { Flash(rx_); }
  void Notice(const std::string& caption, const std::string& text) override;
  std::unique_ptr<ChannelView> CreateChannelView(int tableIndex) override;
  void Cascade() override;

  // A command of the menu bar: the menu is made before "Window" when it does
  // not exist yet; `checked`, when given, sets the item's check mark each
  // time the menu opens.
  void addMenuCommand(const QString& menu, const QString& item, std::function<void()> run,
                      std::function<bool()> checked = nullptr);

  // Asked before the window closes; null closes without asking.
  void setCloseQuestion(std::function<bool()> ask) { ask_ = std::move(ask); }
  QMdiArea* mdiArea() { return mdi_; }

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QMdiArea* mdi_;
  QLabel* status_;
  void Flash(QLabel* indicator);

  QLabel* connection_;
  QLabel* mail_;
  QLabel* animation_;
  QLabel* tx_;
  QLabel* rx_;
  QLabel* fields_[4];
  std::function<bool()> ask_;
};

}  // namespace orn
