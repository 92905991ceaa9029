#include "desktop/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QFile>
#include <QHBoxLayout>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/channel_window.h"
#include "desktop/icons.h"
#include "desktop/page_notice.h"
#include "desktop/system_sound.h"
#include "desktop/tile_layout.h"

// The manual is compiled into the static library, whose resources the
// linker would otherwise leave out of the program.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace orn {
namespace {

const char* const kProgram = "ORNBBS v7.10";
// Items that stay at the end of their menu whatever is added later.
const char* const kTail = "ornTail";

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
  void ShowTerminal(bool on) override { w_->ShowTerminal(on); }
  void ShowTransfer(const TransferProgress& p) override { w_->ShowTransfer(p); }
  void CloseTransfer() override { w_->CloseTransfer(); }

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

QAction* Tail(QAction* a) {
  a->setProperty(kTail, true);
  return a;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(kProgram);
  setWindowIcon(AppIcon());
  resize(1000, 700);
  mdi_ = new QMdiArea(this);
  setCentralWidget(mdi_);

  // The menus in their fixed order; the commands of the BBS come later.
  // Each menu its own Alt key: Fonts takes O, File keeps F.
  for (const char* m : {"&File", "F&onts", "&System", "&View", "&Window", "&Help"}) Menu(m);
  QAction* exit = Tail(Menu("&File")->addAction("E&xit", this, &QWidget::close));
  exit->setShortcut(QKeySequence::Quit);
  exit->setStatusTip("Quit the BBS server");
  exit->setIcon(ThemedIcon("application-exit", "\u2715", QColor(0x8e, 0x24, 0x24)));

  toolBar_ = addToolBar("ToolBar");
  toolBar_->setObjectName("ToolBar");
  toolBar_->setIconSize(QSize(24, 24));

  infoBar_ = new QDockWidget("Infos", this);
  infoBar_->setObjectName("Infos");
  auto* infos = new QWidget(infoBar_);
  auto* row = new QHBoxLayout(infos);
  row->setContentsMargins(6, 2, 6, 2);
  const char* const initial[] = {"L:000000", "A:000000", "T:000000", "H:000000"};
  const char* const tips[] = {"Last message number", "Active messages", "Messages for this BBS",
                              "Held messages"};
  for (int i = 0; i < 4; ++i) {
    fields_[i] = new QLabel(initial[i], infos);
    fields_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    fields_[i]->setToolTip(tips[i]);
    fields_[i]->setMinimumWidth(fields_[i]->fontMetrics().horizontalAdvance("H:0000000") + 8);
    row->addWidget(fields_[i]);
  }
  row->addStretch(1);
  infoBar_->setWidget(infos);
  infoBar_->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
  addDockWidget(Qt::TopDockWidgetArea, infoBar_);

  QMenu* view = Menu("&View");
  QAction* tb = Tail(toolBar_->toggleViewAction());
  tb->setText("ToolBar");
  tb->setStatusTip("Show or hide the tool bar");
  view->addAction(tb);
  QAction* ib = Tail(infoBar_->toggleViewAction());
  ib->setText("InfoBar");
  ib->setStatusTip("Show or hide the message counters");
  view->addAction(ib);

  QMenu* window = Menu("&Window");
  window->addAction("C&ascade", this, [this] { Cascade(); })->setStatusTip("Arrange the windows overlapping");
  window->addAction("&Tile horiz", this, [this] { TileHorizontally(); })
      ->setStatusTip("Arrange the windows one above the other");
  window->addAction("Tile &vert", this, [this] { TileVertically(); })
      ->setStatusTip("Arrange the windows side by side");
  window->addAction("A&rrange", this, [this] { ArrangeIcons(); })
      ->setStatusTip("Line up the minimized windows");
  window->addAction("Minimi&ze all", this, [this] { MinimizeAll(); })->setStatusTip("Minimize every window");
  window->addAction("Restore a&ll", this, [this] { RestoreAll(); })->setStatusTip("Restore every window");

  QMenu* help = Menu("&Help");
  QAction* contents = Tail(help->addAction("&Contents", this, [this] { ShowManual(); }));
  contents->setStatusTip("The sysop's manual");
  contents->setShortcut(QKeySequence::HelpContents);
  if (QIcon::hasThemeIcon("help-contents")) contents->setIcon(QIcon::fromTheme("help-contents"));
  about_ = Tail(help->addAction("About", this, [this] { ShowAbout(); }));
  if (QIcon::hasThemeIcon("help-about")) about_->setIcon(QIcon::fromTheme("help-about"));
  about_->setStatusTip("Program information");
  aboutTimer_ = new QTimer(this);
  aboutTimer_->setSingleShot(true);
  connect(aboutTimer_, &QTimer::timeout, this, [this] { about_->setEnabled(true); });

  status_ = new QLabel("BBS Server started->Idle Mode", this);
  statusBar()->addWidget(status_, 1);
  for (QLabel** l : {&tx_, &rx_}) {
    *l = new QLabel(l == &tx_ ? "TX" : "RX", this);
    (*l)->setEnabled(false);
    (*l)->setToolTip(l == &tx_ ? "A frame went to the packet engine" : "A frame came from the packet engine");
    statusBar()->addPermanentWidget(*l);
  }
  mail_ = new QLabel(this);
  mail_->setToolTip("Mail for the sysop");
  mail_->setMinimumWidth(mail_->fontMetrics().horizontalAdvance("\u2709") + 4);
  statusBar()->addPermanentWidget(mail_);
  connection_ = new QLabel("\u25CB", this);
  connection_->setToolTip("Connection");
  statusBar()->addPermanentWidget(connection_);
  // Turns while the server is up.
  animation_ = new QLabel(" ", this);
  animation_->setToolTip("Server");
  statusBar()->addPermanentWidget(animation_);

  trayFlash_ = new QTimer(this);
  trayFlash_->setInterval(120);
  connect(trayFlash_, &QTimer::timeout, this, [this] {
    if (!tray_) return;
    if (trayFlashesLeft_ <= 0) {
      trayFlash_->stop();
      tray_->setIcon(LedIcon(Leds::All));
      return;
    }
    const bool first = trayFlashesLeft_ % 2 == 0;
    // Receiving starts on the receive LED, sending on the send LED.
    tray_->setIcon(LedIcon(first != trayTransmit_ ? Leds::One : Leds::Two));
    --trayFlashesLeft_;
  });
  pages_ = new PageNotices(this);
  // While a page waits unseen, the tray blinks, slower than the traffic
  // LEDs, until the sysop sees the notice.
  pageFlash_ = new QTimer(this);
  pageFlash_->setInterval(500);
  connect(pageFlash_, &QTimer::timeout, this, [this] {
    pageFlashOn_ = !pageFlashOn_;
    if (tray_ && !trayFlash_->isActive()) tray_->setIcon(pageFlashOn_ ? AppIcon() : LedIcon(Leds::All));
  });
  pages_->onSeenChanged = [this] {
    if (pages_->unseen()) {
      if (!pageFlash_->isActive()) pageFlash_->start();
      return;
    }
    pageFlash_->stop();
    if (tray_ && !trayFlash_->isActive()) tray_->setIcon(LedIcon(Leds::All));
  };
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new QSystemTrayIcon(LedIcon(Leds::All), this);
    tray_->setToolTip(kProgram);
    auto* menu = new QMenu(this);
    menu->addAction("Show ORNBBS", this, [this] {
      showNormal();
      raise();
      activateWindow();
    });
    menu->addAction("Hide ORNBBS", this, &QWidget::hide);
    menu->addSeparator();
    menu->addAction("E&xit", this, [this] {
      show();
      close();
    });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
      if (why != QSystemTrayIcon::Trigger) return;
      if (isVisible() && !isMinimized()) {
        hide();
      } else {
        showNormal();
        raise();
        activateWindow();
      }
    });
    tray_->show();
  }
}

MainWindow::~MainWindow() {
  if (tray_) tray_->hide();
}

QMenu* MainWindow::Menu(const QString& title) {
  for (QAction* a : menuBar()->actions())
    if (a->menu() && a->text() == title) return a->menu();
  return menuBar()->addMenu(title);
}

void MainWindow::SetOwnCall(const QString& call) {
  ownCall_ = call;
  const QString title = call.isEmpty() ? QString(kProgram) : call + " - " + kProgram;
  setWindowTitle(title);
  if (tray_) tray_->setToolTip(title);
}

void MainWindow::ShowAbout() {
  // Not twice at once: the command waits for the About timer.
  about_->setEnabled(false);
  aboutTimer_->start(10000);
  auto* box = new QMessageBox(QMessageBox::Information, "About ORNBBS",
                              QString("%1\n\nMultiuser, multiport, multilingual packet-radio MailBox for Linux.%2")
                                  .arg(kProgram, ownCall_.isEmpty() ? QString() : "\n\nThis BBS: " + ownCall_),
                              QMessageBox::Ok, this);
  box->setIconPixmap(AppIcon().pixmap(64, 64));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void MainWindow::ShowManual() {
  if (manual_) {
    manual_->show();
    manual_->raise();
    manual_->activateWindow();
    return;
  }
  auto* dialog = new QDialog(this, Qt::Window);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("ORNBBS Help");
  auto* layout = new QVBoxLayout(dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* browser = new QTextBrowser(dialog);
  browser->setObjectName("manual");
  browser->setOpenExternalLinks(true);
  InitResources();
  QFile file(":/docs/manual.md");
  if (file.open(QIODevice::ReadOnly)) {
    browser->setMarkdown(QString::fromUtf8(file.readAll()));
  } else {
    browser->setPlainText("The manual is missing from this build.");
  }
  layout->addWidget(browser);
  dialog->resize(760, 640);
  manual_ = dialog;
  dialog->show();
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

void MainWindow::PageRequest(int tableIndex, const std::string& text, const std::string&) {
  ChannelWindow* w = tableIndex >= 0 && tableIndex < channels_.size() ? channels_[tableIndex].data() : nullptr;
  const QString shown = QString::fromStdString(text);
  if (w) w->ShowPage(shown);
  pages_->Open(tableIndex, shown, w);
}

bool MainWindow::trayCallsForPage() const { return pageFlash_->isActive(); }

void MainWindow::PageEnded(int tableIndex) {
  if (tableIndex >= 0 && tableIndex < channels_.size() && channels_[tableIndex]) channels_[tableIndex]->HidePage();
  pages_->Close(tableIndex);
}

void MainWindow::SetStatusText(const std::string& text) { status_->setText(QString::fromStdString(text)); }

void MainWindow::SetStatusField(int field, const std::string& text) {
  if (field >= 0 && field < 4) fields_[field]->setText(QString::fromStdString(text));
}

QAction* MainWindow::addMenuCommand(const QString& menu, const QString& item, std::function<void()> run,
                                    std::function<bool()> checked, const QString& hint) {
  QMenu* target = Menu(menu);
  QAction* before = nullptr;
  for (QAction* a : target->actions())
    if (a->property(kTail).toBool()) {
      before = a;
      break;
    }
  auto* action = new QAction(item, target);
  connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
  target->insertAction(before, action);
  if (!hint.isEmpty()) action->setStatusTip(hint);
  if (checked) {
    action->setCheckable(true);
    action->setChecked(checked());
    connect(target, &QMenu::aboutToShow, action, [action, checked] { action->setChecked(checked()); });
    // The tool bar shows the same check marks: they follow every command.
    connect(action, &QAction::triggered, action, [action, checked] { action->setChecked(checked()); });
  }
  return action;
}

QAction* MainWindow::action(const QString& item) const {
  for (QAction* m : menuBar()->actions()) {
    if (!m->menu()) continue;
    for (QAction* a : m->menu()->actions())
      if (a->text() == item) return a;
  }
  return nullptr;
}

void MainWindow::SetToolBar(const QStringList& items) {
  toolBar_->clear();
  for (const QString& item : items) {
    if (item.isEmpty()) {
      toolBar_->addSeparator();
    } else if (QAction* a = action(item)) {
      toolBar_->addAction(a);
    }
  }
}

QList<QMdiSubWindow*> MainWindow::VisibleWindows() const {
  QList<QMdiSubWindow*> shown;
  for (QMdiSubWindow* sub : mdi_->subWindowList(QMdiArea::CreationOrder))
    if (sub->isVisible()) shown << sub;
  return shown;
}

void MainWindow::ShowInArea(QWidget* w) {
  QMdiSubWindow* sub = nullptr;
  for (QMdiSubWindow* s : mdi_->subWindowList())
    if (s->widget() == w) sub = s;
  if (!sub) {
    sub = mdi_->addSubWindow(w);
    sub->setObjectName(w->objectName());
    sub->installEventFilter(new HideOnClose(sub));
  }
  if (!sub->isVisible()) {
    // One title bar down and to the right of the windows already shown,
    // inside the frame.
    const QSize area = mdi_->viewport()->size();
    const QSize size(std::min(820, std::max(400, area.width() - 40)), std::min(480, std::max(260, area.height() - 40)));
    const int step = 26;
    const int room = std::max(1, std::min(area.width() - size.width(), area.height() - size.height()) / step + 1);
    const int k = static_cast<int>(VisibleWindows().size()) % room;
    sub->setGeometry(k * step, k * step, size.width(), size.height());
    sub->showNormal();
  }
  sub->raise();
  mdi_->setActiveSubWindow(sub);
  w->setFocus();
}

bool MainWindow::HideInArea(QWidget* w) {
  for (QMdiSubWindow* s : mdi_->subWindowList())
    if (s->widget() == w && s->isVisible()) {
      s->hide();
      return true;
    }
  return false;
}

bool MainWindow::IsShownInArea(QWidget* w) const {
  for (QMdiSubWindow* s : mdi_->subWindowList())
    if (s->widget() == w) return s->isVisible();
  return false;
}

void MainWindow::PlaySound(const std::string& file) { PlayWithSystemPlayer(file); }

void MainWindow::FlashTx() { Flash(tx_, true); }
void MainWindow::FlashRx() { Flash(rx_, false); }

void MainWindow::Flash(QLabel* indicator, bool transmit) {
  indicator->setEnabled(true);
  QTimer::singleShot(150, indicator, [indicator] { indicator->setEnabled(false); });
  if (tray_ && !trayFlash_->isActive()) {
    trayTransmit_ = transmit;
    trayFlashesLeft_ = 10;  // five times each way
    trayFlash_->start();
  }
}

void MainWindow::SetAnimationFrame(int frame) {
  // Three dots of a braille cell turning round.
  static const char16_t kFrames[] = u"\u280B\u2819\u2838\u2834\u2826\u2807";
  animation_->setText(QString(QChar(kFrames[((frame % 6) + 6) % 6])));
}

void MainWindow::SetMailIndicator(bool mail) { mail_->setText(mail ? "\u2709" : ""); }
bool MainWindow::mailIndicatorOn() const { return !mail_->text().isEmpty(); }

void MainWindow::SetConnectionIndicator(bool on) { connection_->setText(on ? "\u25CF" : "\u25CB"); }

std::unique_ptr<ChannelView> MainWindow::CreateChannelView(int tableIndex) {
  auto* w = new ChannelWindow(tableIndex == 0);
  w->SetLook(look_);
  QMdiSubWindow* sub = mdi_->addSubWindow(w);
  // The name its place is kept under between starts.
  sub->setObjectName(tableIndex == 0 ? QString("monitor") : QString("channel%1").arg(tableIndex));
  w->setSubWindow(sub);
  sub->installEventFilter(new HideOnClose(sub));
  sub->resize(520, 320);
  // The monitor shows from the start; the channels when the sysop asks (View).
  sub->setVisible(tableIndex == 0);
  channels_ << w;
  return std::make_unique<OwnedChannelView>(w, sub);
}

QList<ChannelWindow*> MainWindow::channelWindows() const {
  QList<ChannelWindow*> list;
  for (const QPointer<ChannelWindow>& w : channels_)
    if (w) list << w.data();
  return list;
}

void MainWindow::SetLook(const WindowLook& look) {
  look_ = look;
  for (ChannelWindow* w : channelWindows()) w->SetLook(look);
}

// Qt's own cascade shrinks the windows to their smallest; a sysop wants to
// read them, so each keeps a good share of the area, one title bar down and
// to the right of the one before.
void MainWindow::Cascade() {
  const QList<QMdiSubWindow*> subs = VisibleWindows();
  const QSize area = mdi_->viewport()->size();
  const int step = 26;
  const int w = std::max(520, area.width() * 3 / 5);
  const int h = std::max(340, area.height() * 3 / 5);
  const int room = std::max(1, std::min(area.width() - w, area.height() - h) / step + 1);
  for (int i = 0; i < subs.size(); ++i) {
    const int k = i % room;
    subs[i]->showNormal();
    subs[i]->setGeometry(k * step, k * step, w, h);
    subs[i]->raise();
  }
}

void MainWindow::TileHorizontally() { Tile(false); }
void MainWindow::TileVertically() { Tile(true); }

void MainWindow::Tile(bool sideBySide) {
  QList<QMdiSubWindow*> subs;
  for (QMdiSubWindow* s : VisibleWindows())
    if (!s->isMinimized()) subs << s;
  std::vector<QSize> least;
  for (QMdiSubWindow* s : subs) least.push_back(s->minimumSizeHint());
  const std::vector<QRect> rects = TileRects(least, mdi_->viewport()->size(), sideBySide);
  for (size_t i = 0; i < rects.size(); ++i) {
    subs[static_cast<int>(i)]->showNormal();
    subs[static_cast<int>(i)]->setGeometry(rects[i]);
  }
}

void MainWindow::ArrangeIcons() {
  // Minimised windows line up along the bottom, left to right.
  const QSize area = mdi_->viewport()->size();
  int x = 0, y = area.height();
  for (QMdiSubWindow* s : VisibleWindows()) {
    if (!s->isMinimized()) continue;
    const QSize size = s->size();
    if (x + size.width() > area.width() && x > 0) {
      x = 0;
      y -= size.height();
    }
    s->move(x, y - size.height());
    x += size.width();
  }
}

void MainWindow::MinimizeAll() {
  for (QMdiSubWindow* s : VisibleWindows()) s->showMinimized();
  ArrangeIcons();
}

void MainWindow::RestoreAll() {
  for (QMdiSubWindow* s : VisibleWindows()) s->showNormal();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (ask_ && !ask_()) {
    event->ignore();
    return;
  }
  event->accept();
  if (tray_) tray_->hide();
  emit closed();
}

}  // namespace orn
