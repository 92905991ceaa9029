#include "desktop/page_notice.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <iterator>

#include "desktop/channel_window.h"

namespace orn {

void PageNotices::Open(int index, const QString& text, ChannelWindow* window) {
  Close(index);
  auto* box = new QDialog(owner_);
  box->setObjectName("chatRequest");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle("Chat Request..");
  box->setProperty("unseen", true);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(new QLabel(text, box));
  auto* row = new QHBoxLayout;
  auto* answer = new QPushButton("&Answer", box);
  auto* decline = new QPushButton("&Decline", box);
  row->addStretch(1);
  row->addWidget(answer);
  row->addWidget(decline);
  layout->addLayout(row);
  QPointer<ChannelWindow> w(window);
  // The channel's answer ends the page, which closes this notice.
  connect(answer, &QPushButton::clicked, box, [box, w] {
    if (w) w->AnswerPage();
    box->close();
  });
  connect(decline, &QPushButton::clicked, box, [box, w] {
    if (w) w->DeclinePage();
    box->close();
  });
  connect(box, &QObject::destroyed, this, [this](QObject* gone) {
    for (auto it = notices_.begin(); it != notices_.end();)
      it = it->second.data() == gone ? notices_.erase(it) : std::next(it);
    if (onSeenChanged) onSeenChanged();
  });
  box->installEventFilter(this);
  // A modal dialog blocks every window but a modal one shown after it: the
  // notice would wait unseen behind the sysop's dialog.
  if (QApplication::activeModalWidget()) box->setWindowModality(Qt::ApplicationModal);
  notices_[index] = box;
  box->show();
  box->raise();
  box->activateWindow();
  if (onSeenChanged) onSeenChanged();
}

void PageNotices::Close(int index) {
  auto it = notices_.find(index);
  if (it == notices_.end()) return;
  QPointer<QWidget> box = qobject_cast<QWidget*>(it->second.data());
  notices_.erase(it);
  if (box) box->close();
}

QDialog* PageNotices::notice(int index) const {
  auto it = notices_.find(index);
  return it == notices_.end() ? nullptr : qobject_cast<QDialog*>(it->second.data());
}

bool PageNotices::unseen() const {
  for (const auto& [index, box] : notices_)
    if (box && box->property("unseen").toBool()) return true;
  return false;
}

bool PageNotices::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WindowActivate && watched->property("unseen").toBool()) {
    watched->setProperty("unseen", false);
    if (onSeenChanged) onSeenChanged();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace orn
