#include "desktop/channel_window.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/tile_layout.h"
#include "platform/text.h"

namespace orn {
namespace {

// Text in the receive pane carries its kind, so that a change of colours
// reaches what is already shown.
constexpr int kKindProperty = QTextFormat::UserProperty + 1;

}  // namespace

ChannelWindow::ChannelWindow(bool monitor, QWidget* parent) : QWidget(parent) {
  look_.font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  input_ = new QTextEdit(this);
  input_->setReadOnly(true);
  input_->setFont(look_.font);
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

  page_ = new QWidget(this);
  page_->setObjectName("pageBar");
  auto* pageRow = new QHBoxLayout(page_);
  pageRow->setContentsMargins(0, 0, 0, 0);
  pageText_ = new QLabel(page_);
  auto* answer = new QPushButton("&Answer", page_);
  auto* decline = new QPushButton("&Decline", page_);
  pageRow->addWidget(pageText_, 1);
  pageRow->addWidget(answer);
  pageRow->addWidget(decline);
  page_->hide();
  layout->addWidget(page_);
  connect(answer, &QPushButton::clicked, this, &ChannelWindow::AnswerPage);
  connect(decline, &QPushButton::clicked, this, &ChannelWindow::DeclinePage);

  output_ = new QLineEdit(this);
  output_->setFont(look_.font);
  layout->addWidget(output_);
  connect(output_, &QLineEdit::returnPressed, this, [this] {
    if (controls_) controls_->TypedLine(output_->text().toStdString());
    output_->clear();
  });

  auto* buttons = new QHBoxLayout;
  auto* terminal = terminal_ = new QPushButton("Terminal", this);
  auto* connectBtn = connect_ = new QPushButton("Connect", this);
  auto* disconnect = new QPushButton("Disconnect", this);
  terminal->setCheckable(true);
  terminal->setToolTip("Talk to the station yourself, or give it back to the BBS");
  connectBtn->setToolTip("Connect this channel to a station");
  disconnect->setToolTip("Disconnect the station");
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

void ChannelWindow::ShowPage(const QString& text) {
  if (!page_) return;
  pageText_->setText("Chat Request.. " + text);
  page_->show();
}

void ChannelWindow::HidePage() {
  if (page_) page_->hide();
}

void ChannelWindow::AnswerPage() {
  if (!controls_) return;
  controls_->AnswerPage();
  BringForward();
  if (output_) output_->setFocus();
}

void ChannelWindow::DeclinePage() {
  if (controls_) controls_->DeclinePage();
}

void ChannelWindow::BringForward() {
  if (!sub_) return;
  sub_->show();
  if (sub_->isMinimized()) sub_->showNormal();
  KeepInArea();
  if (sub_->mdiArea()) sub_->mdiArea()->setActiveSubWindow(sub_);
}

void ChannelWindow::AskForCall() {
  if (!controls_ || !controls_->CanConnect()) return;
  bool ok = false;
  const QString answer = QInputDialog::getText(this, "Connect", "Enter Call: (Separate calls by commas to use digis)",
                                               QLineEdit::Normal, QString(), &ok);
  if (!ok || !controls_ || answer.trimmed().isEmpty()) return;
  controls_->ConnectTo(answer.toStdString());
}

void ChannelWindow::SetCaption(const std::string& caption) {
  const QString title = QString::fromStdString(caption);
  setWindowTitle(title);
  if (sub_) sub_->setWindowTitle(title);
}

QColor ChannelWindow::ColourOf(TextKind kind) const {
  switch (kind) {
    case TextKind::MonitorHeader: return look_.monitorHeader;
    case TextKind::MonitorInfo: return look_.monitorInfo;
    case TextKind::ChannelInput: return look_.channelInput;
    case TextKind::ChannelOutput: return look_.channelOutput;
    case TextKind::SysopTyping: return look_.sysopTyping;
  }
  return {};
}

void ChannelWindow::AppendText(const std::string& text, TextKind kind) {
  QTextCursor cursor(input_->document());
  cursor.movePosition(QTextCursor::End);
  QTextCharFormat format;
  if (kind == TextKind::MonitorHeader) format.setFontWeight(QFont::Bold);
  const QColor colour = ColourOf(kind);
  if (colour.isValid()) format.setForeground(colour);
  format.setProperty(kKindProperty, static_cast<int>(kind));
  // YAPP packets and forwarding blocks would fill the pane with control
  // characters: one line with their size says what passed.
  const QString shown = LooksBinary(text) ? QString("<binary data, %1 bytes>\n").arg(text.size())
                                          : QString::fromStdString(text);
  cursor.insertText(shown, format);
  input_->verticalScrollBar()->setValue(input_->verticalScrollBar()->maximum());
}

void ChannelWindow::SetLook(const WindowLook& look) {
  look_ = look;
  input_->setFont(look.font);
  input_->document()->setDefaultFont(look.font);
  if (output_) output_->setFont(look.font);
  // Each run of text of one kind takes its new colour.
  QTextCursor cursor(input_->document());
  for (QTextBlock block = input_->document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid() || !fragment.charFormat().hasProperty(kKindProperty)) continue;
      const QColor colour = ColourOf(static_cast<TextKind>(fragment.charFormat().intProperty(kKindProperty)));
      if (!colour.isValid()) continue;
      cursor.setPosition(fragment.position());
      cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      QTextCharFormat change;
      change.setForeground(colour);
      change.setFont(look.font, QTextCharFormat::FontPropertiesSpecifiedOnly);
      cursor.mergeCharFormat(change);
    }
  }
}

void ChannelWindow::ClearText() { input_->clear(); }

void ChannelWindow::SetLabel(const std::string& label, const std::string& value) {
  const QString v = QString::fromStdString(value);
  if (!name_) return;
  if (label == "Name:") {
    nameValue_->setText(v);
  } else if (label == "Queue:") {
    queueValue_->setText(v);
  } else if (v.isEmpty()) {
    action_->clear();
  } else {
    action_->setText(QString::fromStdString(label) + " " + v);
  }
}

void ChannelWindow::SetVisible(bool visible) {
  if (!sub_) return;
  sub_->setVisible(visible);
  if (visible) KeepInArea();
}

void ChannelWindow::KeepInArea() {
  if (!sub_->mdiArea() || sub_->isMaximized() || sub_->isMinimized()) return;
  const QRect inside = InsideArea(sub_->geometry(), sub_->mdiArea()->viewport()->size());
  if (inside != sub_->geometry()) sub_->setGeometry(inside);
}

void ChannelWindow::ShowTransfer(const TransferProgress& p) {
  if (!transfer_) {
    // A window of its own, so that it stays in sight while the sysop works
    // in other channels; it goes when the transfer ends.
    transfer_ = new QDialog(this, Qt::Tool);
    transfer_->setObjectName("yappProgress");
    transfer_->setWindowTitle("YAPP");
    auto* form = new QFormLayout(transfer_);
    const char* const labels[] = {"File:", "Bytes:", "State:", "Station:"};
    for (int i = 0; i < 4; ++i) {
      transferLines_[i] = new QLabel(transfer_);
      transferLines_[i]->setMinimumWidth(260);
      form->addRow(labels[i], transferLines_[i]);
    }
    transferBar_ = new QProgressBar(transfer_);
    transferBar_->setObjectName("yappBar");
    transferBar_->setRange(0, 0);  // busy until the size is known
    form->addRow(transferBar_);
    transferClock_.start();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, transfer_);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
      if (controls_) controls_->CancelTransfer();
    });
    // Closing the window is a Cancel too; it goes when the transfer does.
    connect(transfer_, &QDialog::rejected, this, [this] {
      if (controls_) controls_->CancelTransfer();
    });
    transfer_->show();
  }
  transfer_->setWindowTitle(QString("YAPP %1 - PC(%2-%3)").arg(QString::fromStdString(p.call)).arg(p.port).arg(p.channel));
  transferLines_[0]->setText(QString::fromStdString(p.header));
  // Bytes, share and rate as a file manager shows a copy.
  QString bytes = QLocale().toString(p.bytes);
  if (p.total >= 0) {
    const int percent = p.total > 0 ? static_cast<int>(std::min<long long>(100, p.bytes * 100 / p.total)) : 100;
    bytes += QString(" of %1 (%2 %)").arg(QLocale().toString(p.total)).arg(percent);
    transferBar_->setRange(0, 100);
    transferBar_->setValue(percent);
  }
  const qint64 ms = transferClock_.elapsed();
  if (ms >= 1000 && p.bytes > 0) bytes += QString(", %1 B/s").arg(QLocale().toString(p.bytes * 1000 / ms));
  transferLines_[1]->setText(bytes);
  transferLines_[2]->setText(QString::fromStdString(p.state));
  transferLines_[3]->setText(QString("%1 on port %2, channel %3").arg(QString::fromStdString(p.call)).arg(p.port).arg(p.channel));
}

void ChannelWindow::CloseTransfer() {
  if (!transfer_) return;
  QDialog* gone = transfer_;
  transfer_ = nullptr;
  gone->disconnect(this);
  gone->hide();
  gone->deleteLater();
}

}  // namespace orn
