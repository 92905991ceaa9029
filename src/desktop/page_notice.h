// The "Chat Request.." notice: one window per paged channel, with Answer and
// Decline. Closing it makes no choice: the page stays on the channel's
// window. It comes to the front over whatever the sysop is doing, a modal
// dialog included.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>

class QLabel;

namespace orn {

class ChannelWindow;

class PageNotices : public QObject {
  Q_OBJECT
 public:
  explicit PageNotices(QWidget* owner) : QObject(owner), owner_(owner) {}

  void Open(int index, const QString& text, ChannelWindow* window);
  // The page ended (answered, declined, the station left): its notice goes.
  void Close(int index);
  // The open notice of a channel, else null.
  QDialog* notice(int index) const;
  // A notice the sysop has not seen yet (never active): the tray flashes.
  bool unseen() const;
  // Called when unseen() may have changed.
  std::function<void()> onSeenChanged;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* owner_;
  // Held as QObjects: a notice being destroyed is no QDialog any more, and
  // is taken off the map before anyone looks at the rest.
  std::map<int, QPointer<QObject>> notices_;
};

}  // namespace orn
