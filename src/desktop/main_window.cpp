#include "desktop/main_window.h"

#include <QCloseEvent>
#include <algorithm>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#include "desktop/system_sound.h"
#include "desktop/channel_window.h"

namespace orn {
namespace {

// A channel view owned by the core whose widget lives in the MDI area; the
// widget goes when the core lets go of the view.
class OwnedChannelView : public ChannelView {
 public:
  OwnedChannelView(ChannelWindow* w, QMdiSubWindow* sub) : w_(w), sub_(sub) {}
  ~OwnedChannelView() override { sub_->deleteLater(); }
  void SetCaption(const std::string& c) override { w_->SetCaption(c); }
  void AppendText(const std::string& t, TextKind k) override { w_->AppendText(t, k); }
  void ClearText() override { w_->ClearText(); }
  void SetLabel(const std::string& l, const std::string& v) override { w_->SetLabel(l, v); }
  void SetVisible(bool v) override { w_->SetVisible(v); }
  void SetControls(ChannelControls* c) override { w_->SetControls(c); }

 private:
  ChannelWindow* w_;
  QMdiSubWindow* sub_;
};

// Channel windows live as long as the program: closing one only hides it.
class HideOnClose : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close) return false;
    event->ignore();
    static_cast<QWidget*>(watched)->hide();
    return true;
  }
};

QMessageBox::Icon ToQt(Icon icon) {
  switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Stop: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("ORNBBS v7.10");
  resize(1000, 700);
  mdi_ = new QMdiArea(this);
  setCentralWidget(mdi_);

  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("E&xit", this, &QWidget::close);
  QMenu* window = menuBar()->addMenu("&Window");
  window->addAction("&Cascade", this, [this] { Cascade(); });
  window->addAction("&Tile", mdi_, &QMdiArea::tileSubWindows);

  status_ = new QLabel("BBS Server started->Idle Mode", this);
  statusBar()->addWidget(status_, 1);
  for (QLabel*& f : fields_) {
    f = new QLabel(this);
    statusBar()->addPermanentWidget(f);
  }
  for (QLabel** l : {&tx_, &rx_}) {
    *l = new QLabel(l == &tx_ ? "TX" : "RX", this);
    (*l)->setEnabled(false);
    statusBar()->addPermanentWidget(*l);
  }
  mail_ = new QLabel(this);
  mail_->setToolTip("Mail for the sysop");
  statusBar()->addPermanentWidget(mail_);
  connection_ = new QLabel("\u25CB", this);
  connection_->setToolTip("Connection");
  statusBar()->addPermanentWidget(connection_);
  // Turns while the server is up.
  animation_ = new QLabel(" ", this);
  animation_->setToolTip("Server");
  statusBar()->addPermanentWidget(animation_);
}

void MainWindow::MessageBox(const std::string& caption, const std::string& text, Icon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                  this);
  box.exec();
}

bool MainWindow::Question(const std::string& caption, const std::string& text, bool def) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(def ? QMessageBox::Yes : QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void MainWindow::Notice(const std::string& caption, const std::string& text) {
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(caption),
                              QString::fromStdString(text), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void MainWindow::SetStatusText(const std::string& text) { status_->setText(QString::fromStdString(text)); }

void MainWindow::SetStatusField(int field, const std::string& text) {
  if (field >= 0 && field < 4) fields_[field]->setText(QString::fromStdString(text));
}

void MainWindow::addMenuCommand(const QString& menu, const QString& item, std::function<void()> run,
                                std::function<bool()> checked) {
  QMenu* target = nullptr;
  QAction* before = nullptr;
  for (QAction* a : menuBar()->actions()) {
    if (a->menu() && a->text() == menu) target = a->menu();
    if (a->menu() && a->text() == "&Window" && !before) before = a;
  }
  if (!target) {
    target = new QMenu(menu, this);
    menuBar()->insertMenu(before, target);
  }
  QAction* action = target->addAction(item, this, [run = std::move(run)] { run(); });
  if (checked) {
    action->setCheckable(true);
    connect(target, &QMenu::aboutToShow, action, [action, checked] { action->setChecked(checked()); });
  }
}

void MainWindow::ShowInArea(QWidget* w) {
  for (QMdiSubWindow* sub : mdi_->subWindowList()) {
    if (sub->widget() == w) {
      sub->show();
      mdi_->setActiveSubWindow(sub);
      return;
    }
  }
  QMdiSubWindow* sub = mdi_->addSubWindow(w);
  sub->installEventFilter(new HideOnClose(sub));
  sub->resize(760, 420);
  sub->show();
  mdi_->setActiveSubWindow(sub);
}

void MainWindow::PlaySound(const std::string& file) { PlayWithSystemPlayer(file); }

void MainWindow::Flash(QLabel* indicator) {
  indicator->setEnabled(true);
  QTimer::singleShot(150, indicator, [indicator] { indicator->setEnabled(false); });
}

void MainWindow::SetAnimationFrame(int frame) {
  // Three dots of a braille cell turning round.
  static const char16_t kFrames[] = u"\u280B\u2819\u2838\u2834\u2826\u2807";
  animation_->setText(QString(QChar(kFrames[((frame % 6) + 6) % 6])));
}

void MainWindow::SetMailIndicator(bool mail) { mail_->setText(mail ? "\u2709" : ""); }

void MainWindow::SetConnectionIndicator(bool on) { connection_->setText(on ? "\u25CF" : "\u25CB"); }

std::unique_ptr<ChannelView> MainWindow::CreateChannelView(int tableIndex) {
  auto* w = new ChannelWindow(tableIndex == 0);
  QMdiSubWindow* sub = mdi_->addSubWindow(w);
  w->setSubWindow(sub);
  sub->installEventFilter(new HideOnClose(sub));
  sub->resize(520, 320);
  sub->show();
  return std::make_unique<OwnedChannelView>(w, sub);
}

// Qt's own cascade shrinks the windows to their smallest; a sysop wants to
// read them, so each keeps a good share of the area, one title bar down and
// to the right of the one before.
void MainWindow::Cascade() {
  const QList<QMdiSubWindow*> subs = mdi_->subWindowList(QMdiArea::CreationOrder);
  const QSize area = mdi_->viewport()->size();
  const int step = 26;
  const int w = std::max(520, area.width() * 3 / 5);
  const int h = std::max(340, area.height() * 3 / 5);
  const int room = std::max(1, std::min(area.width() - w, area.height() - h) / step + 1);
  for (int i = 0; i < subs.size(); ++i) {
    const int k = i % room;
    subs[i]->setGeometry(k * step, k * step, w, h);
    subs[i]->raise();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (ask_ && !ask_()) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}

}  // namespace orn
