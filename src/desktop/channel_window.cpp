#include "desktop/channel_window.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QVBoxLayout>

namespace orn {

ChannelWindow::ChannelWindow(bool monitor, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  input_ = new QTextEdit(this);
  input_->setReadOnly(true);
  input_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  input_->setLineWrapMode(QTextEdit::WidgetWidth);
  layout->addWidget(input_, 1);
  if (monitor) return;

  auto* labels = new QHBoxLayout;
  name_ = new QLabel("Name:", this);
  nameValue_ = new QLabel("Unkn", this);
  queue_ = new QLabel("Queue:", this);
  queueValue_ = new QLabel("0", this);
  action_ = new QLabel(this);
  for (QLabel* l : {name_, nameValue_, queue_, queueValue_, action_}) labels->addWidget(l);
  labels->addStretch(1);
  layout->addLayout(labels);

  output_ = new QLineEdit(this);
  output_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(output_);
  connect(output_, &QLineEdit::returnPressed, this, [this] {
    if (controls_) controls_->TypedLine(output_->text().toStdString());
    output_->clear();
  });

  auto* buttons = new QHBoxLayout;
  auto* terminal = terminal_ = new QPushButton("Terminal", this);
  auto* connectBtn = new QPushButton("Connect", this);
  auto* disconnect = new QPushButton("Disconnect", this);
  terminal->setCheckable(true);
  buttons->addWidget(terminal);
  buttons->addWidget(connectBtn);
  buttons->addWidget(disconnect);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  connect(terminal, &QPushButton::clicked, this, [this] {
    if (controls_) controls_->ToggleTerminal();
  });
  connect(connectBtn, &QPushButton::clicked, this, &ChannelWindow::AskForCall);
  connect(disconnect, &QPushButton::clicked, this, [this] {
    if (controls_) controls_->DisconnectButton();
  });
}

void ChannelWindow::AskForCall() {
  if (!controls_ || !controls_->CanConnect()) return;
  bool ok = false;
  const QString answer = QInputDialog::getText(this, "Connect", "Enter Call: (Separate calls by commas to use digis)",
                                               QLineEdit::Normal, QString(), &ok);
  if (ok && controls_) controls_->ConnectTo(answer.toStdString());
}

void ChannelWindow::SetCaption(const std::string& caption) {
  const QString title = QString::fromStdString(caption);
  setWindowTitle(title);
  if (sub_) sub_->setWindowTitle(title);
}

void ChannelWindow::AppendText(const std::string& text, TextKind kind) {
  QTextCursor cursor(input_->document());
  cursor.movePosition(QTextCursor::End);
  QTextCharFormat format;
  if (kind == TextKind::MonitorHeader) format.setFontWeight(QFont::Bold);
  cursor.insertText(QString::fromStdString(text), format);
  input_->verticalScrollBar()->setValue(input_->verticalScrollBar()->maximum());
}

void ChannelWindow::ClearText() { input_->clear(); }

void ChannelWindow::SetLabel(const std::string& label, const std::string& value) {
  const QString v = QString::fromStdString(value);
  if (!name_) return;
  if (label == "Name:") {
    nameValue_->setText(v);
  } else if (label == "Queue:") {
    queueValue_->setText(v);
  } else {
    action_->setText(QString::fromStdString(label) + " " + v);
  }
}

void ChannelWindow::SetVisible(bool visible) {
  if (sub_) sub_->setVisible(visible);
}

}  // namespace orn
