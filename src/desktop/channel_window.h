// A channel window: the receive pane (everything the station sent and was
// sent), the sysop's typing pane, the three buttons and the labels. Entry 0
// of the channel table uses it as the monitor window, without the buttons.
#pragma once

#include <QElapsedTimer>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QDialog>
#include <QWidget>

#include "context/views.h"
#include "desktop/window_look.h"

class QLabel;
class QMdiSubWindow;

class QProgressBar;

namespace orn {

class ChannelWindow : public QWidget, public ChannelView {
  Q_OBJECT
 public:
  ChannelWindow(bool monitor, QWidget* parent = nullptr);

  void SetCaption(const std::string& caption) override;
  void AppendText(const std::string& text, TextKind kind) override;
  void ClearText() override;
  void SetLabel(const std::string& label, const std::string& value) override;
  void SetVisible(bool visible) override;
  void SetControls(ChannelControls* controls) override { controls_ = controls; }
  void ShowTerminal(bool on) override {
    if (terminal_) terminal_->setChecked(on);
  }
  void ShowTransfer(const TransferProgress& progress) override;
  void CloseTransfer() override;

  // The font of both panes and the colours of the text by kind; the text
  // already shown takes the new colours too.
  void SetLook(const WindowLook& look);
  QColor ColourOf(TextKind kind) const;
  // The YAPP progress window while a transfer runs, else null.
  QDialog* transferWindow() { return transfer_; }
  QPushButton* connectButton() { return connect_; }

  // The station's page, shown above the buttons until answered, declined or
  // gone: the notice may be closed without a choice.
  void ShowPage(const QString& text);
  void HidePage();
  QWidget* pageBar() { return page_; }
  // The sysop's choice, from the page bar or the notice. Answer brings the
  // window forward in terminal mode.
  void AnswerPage();
  void DeclinePage();
  void BringForward();
  // A window shown beyond the frame's edge comes inside it.
  void KeepInArea();

  void setSubWindow(QMdiSubWindow* sub) { sub_ = sub; }
  QTextEdit* receivePane() { return input_; }

 private:
  void AskForCall();

  ChannelControls* controls_ = nullptr;
  QPushButton* terminal_ = nullptr;
  QWidget* page_ = nullptr;
  QLabel* pageText_ = nullptr;
  QPushButton* connect_ = nullptr;
  QDialog* transfer_ = nullptr;
  QLabel* transferLines_[4] = {};
  QProgressBar* transferBar_ = nullptr;
  QElapsedTimer transferClock_;
  WindowLook look_;
  QMdiSubWindow* sub_ = nullptr;
  QTextEdit* input_;
  QLineEdit* output_ = nullptr;
  QLabel* name_ = nullptr;
  QLabel* nameValue_ = nullptr;
  QLabel* queue_ = nullptr;
  QLabel* queueValue_ = nullptr;
  QLabel* action_ = nullptr;
};

}  // namespace orn
