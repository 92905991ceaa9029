// The whole desktop on a BBS with an in-memory engine: the main window's
// parts, fonts and colours, a YAPP transfer's window, the repair gauge.
// With ORN_SCREENSHOT_DIR set (tests/e2e/desktop_screenshot.sh does, under
// a virtual X server) every window is also saved there as a PNG.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontDialog>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>
#include <QProgressBar>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QPlainTextEdit>
#include <QPainter>
#include <QProgressDialog>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <cstdlib>
#include <memory>

#include "admin/user_admin.h"
#include "admin/user_fields.h"
#include "admin/msg_admin.h"
#include "app/ornbbs.h"
#include "fwd/fwd_partners.h"
#include "app/qt/desktop_commands.h"
#include "desktop/channel_window.h"
#include "desktop/desktop_layout.h"
#include "desktop/icons.h"
#include "desktop/main_window.h"
#include "desktop/page_notice.h"
#include "desktop/properties_dialog.h"
#include "desktop/text_file_editor.h"
#include "desktop/user_editor.h"
#include "desktop/users_window.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/store.h"
#include "store/store_generator.h"
#include "support/fake_engine.h"
#include "support/recording_view.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::FakeEngine;
using test::ManualTimers;
using test::ScopedChdir;
using test::TestDir;

// Two ports, three channels: two on the first port, one on the second.
const char* const kTwoPorts =
    "[RADIO]\nPORTS=2\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\n[PORT1]\nCHANNELS=1\nPORTNUM=1\nBBSONLY=0\nLIMITED=0\n"
    "[PERSONAL]\nMYCALL=XX9ORN-1\nMYHIER=GRC.EU\n";

class DesktopTest : public ::testing::Test {
 protected:
  DesktopTest() : cd_(dir_.path()) {
    ::setenv("XDG_DATA_HOME", (dir_ / "xdg").c_str(), 1);
    clock_.SetLocal(2026, 12, 10, 12, 0);
    engine_.portList = "2;Port1 vhf;Port2 uhf;";
    // A box nobody expected must not hang the test: it is answered.
    guard_.setInterval(200);
    QObject::connect(&guard_, &QTimer::timeout, [] {
      QWidget* modal = QApplication::activeModalWidget();
      // The repair's gauge is meant to hold the windows while it runs.
      if (modal && !qobject_cast<QProgressDialog*>(modal)) {
        ADD_FAILURE() << "unexpected modal window: " << modal->windowTitle().toStdString();
        modal->close();
      }
    });
    guard_.start();
  }
  ~DesktopTest() override {
    Stop();
    ::unsetenv("XDG_DATA_HOME");
  }

  void Stop() {
    commands_.reset();
    if (bbs_) bbs_->Shutdown();
    bbs_.reset();
    window_.reset();
  }

  void Start(long messages = 0) {
    dir_.Write("ORN.INI", kTwoPorts);
    if (messages) {
      // The store of a BBS that has been on the air a while.
      StoreSite site{dir_.path(), dir_ / "MAIL", "XX9ORN", "GRC.EU"};
      GenerateOptions o;
      o.messages = messages;
      o.users = 60;
      o.texts = true;
      std::string error;
      ASSERT_TRUE(GenerateStore(site, o, clock_, &error)) << error;
    }
    window_ = std::make_unique<MainWindow>();
    bbs_ = std::make_unique<ORNBBS>(clock_, *window_, timers_, engine_);
    ASSERT_TRUE(bbs_->Start());
    engine_.Pump();
    commands_ = std::make_unique<DesktopCommands>(*window_, *bbs_, clock_);
    // Drawn for the screenshots, the window fills the screen it is drawn
    // on (1600x1000, 1024x768, or twice the pixels at scale factor 2).
    if (std::getenv("ORN_SCREENSHOT_DIR") && window_->screen()) {
      window_->setGeometry(window_->screen()->availableGeometry());
    } else {
      window_->resize(1100, 760);
    }
    window_->show();
    QApplication::processEvents();
  }

  // A station of type R with a name, so that every command is open to it.
  void Register(const std::string& call) {
    auto db = bbs_->store()->OpenDbase();
    const long pos = db->AppendUser(call);
    ASSERT_NE(pos, 0);
    UserDB u{};
    UserDBidx i{};
    ASSERT_TRUE(db->ReadFromFile(pos, u, i));
    CopyField(u.Type, "R");
    CopyField(u.Name, "Joe");
    ASSERT_TRUE(UpdateUser(*db, pos, u));
  }

  void Say(int port, const std::string& call, const std::string& line) { engine_.Data(port, call, line); }

  std::string SentToStations() {
    clock_.Advance(3);
    for (int i = 1; i < bbs_->client().numberchildren; ++i)
      if (bbs_->client().channel(i)->transparent) bbs_->client().link().TxTrans(*bbs_->client().channel(i));
    std::string all;
    for (const ApiFrame& f : engine_.Take("D")) all += f.data;
    return all;
  }

  ChannelWindow* Channel(int tableIndex) { return window_->channelWindows().value(tableIndex); }

  // The next message box is answered with the button of that text; what it
  // said lands in *said.
  void AnswerBox(const QString& button, QString* said) {
    // The guard would take the expected box for a stray one: it rests
    // until this one is answered.
    guard_.stop();
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [this, poll, button, said] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      *said = box->text();
      for (QAbstractButton* b : box->buttons())
        if (b->text().remove('&') == button) b->click();
      poll->deleteLater();
      guard_.start();
    });
    poll->start();
  }

  static void Shot(QWidget* w, const QString& name) {
    const char* dir = std::getenv("ORN_SCREENSHOT_DIR");
    if (!dir || !w) return;
    QApplication::processEvents();
    QDir().mkpath(dir);
    EXPECT_TRUE(w->grab().save(QString(dir) + "/" + name + ".png")) << name.toStdString();
  }

  TestDir dir_;
  ScopedChdir cd_;
  FakeClock clock_;
  ManualTimers timers_;
  FakeEngine engine_;
  QTimer guard_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<ORNBBS> bbs_;
  std::unique_ptr<DesktopCommands> commands_;
};

QStringList MenuTitles(QMainWindow& w) {
  QStringList titles;
  for (QAction* a : w.menuBar()->actions())
    if (a->menu()) titles << a->text();
  return titles;
}

TEST_F(DesktopTest, TheMainWindowHasItsPartsAndTheChannelsWaitHidden) {
  Start(2000);
  EXPECT_EQ(MenuTitles(*window_), QStringList({"&File", "F&onts", "&System", "&View", "&Window", "&Help"}));
  // No two menus share an Alt key; the manual is on F1.
  QSet<QChar> keys;
  for (const QString& t : MenuTitles(*window_)) keys.insert(t.at(t.indexOf('&') + 1).toLower());
  EXPECT_EQ(keys.size(), 6);
  EXPECT_EQ(window_->action("&Contents")->shortcut(), QKeySequence(QKeySequence::HelpContents));
  EXPECT_EQ(window_->action("&Users Data Base")->shortcut(), QKeySequence("Ctrl+U"));
  EXPECT_TRUE(window_->windowTitle().startsWith("XX9ORN-1")) << window_->windowTitle().toStdString();

  QStringList buttons;
  for (QAction* a : window_->toolBar()->actions()) buttons << (a->isSeparator() ? QString() : a->text());
  EXPECT_EQ(buttons, QStringList({"&EditText", "&Properties", "&Fonts", "OemToChar", "CharToOem", "", "M&onitor",
                                  "Ch&annels", "&FWD", "", "&Users Data Base", "&Messages Data Base",
                                  "&BBS Services Paths", "Database &repair", "", "E&xit"}));
  for (QAction* a : window_->toolBar()->actions())
    if (!a->isSeparator()) {
      EXPECT_FALSE(a->statusTip().isEmpty()) << a->text().toStdString();
    }

  // The hint of a button goes to the status bar.
  QAction* fwd = window_->action("&FWD");
  ASSERT_NE(fwd, nullptr);
  fwd->showStatusText(window_->toolBar());
  EXPECT_EQ(window_->statusBar()->currentMessage(), fwd->statusTip());
  window_->statusBar()->clearMessage();

  EXPECT_EQ(window_->infoBar()->windowTitle(), "Infos");
  EXPECT_EQ(window_->infoField(0)->text().left(2), "L:");
  EXPECT_EQ(window_->infoField(3)->text().left(2), "H:");
  // The info tick fills the counters.
  timers_.FireAll();
  EXPECT_NE(window_->infoField(1)->text(), "A:000000");

  // The monitor shows from the start; the channels when asked.
  ASSERT_EQ(window_->channelWindows().size(), 4);
  auto shown = [&](int i) { return window_->IsShownInArea(Channel(i)); };
  EXPECT_TRUE(shown(0));
  for (int i = 1; i <= 3; ++i) EXPECT_FALSE(shown(i)) << i;
  window_->action("Ch&annels")->trigger();
  for (int i = 0; i <= 3; ++i) EXPECT_TRUE(shown(i)) << i;

  // Three stations on the air, as the sysop sees them.
  Register("XX1ABC");
  Register("XX2DEF");
  Register("XX3GHI");
  engine_.Event(0, "*** CONNECTED To Station XX1ABC\r");
  engine_.Event(0, "*** CONNECTED To Station XX2DEF\r");
  engine_.Event(1, "*** CONNECTED To Station XX3GHI\r");
  Say(0, "XX1ABC", "L\r");
  Say(1, "XX3GHI", "I\r");
  for (int i = 0; i < 4; ++i) {
    clock_.Advance(3);
    timers_.FireAll();
  }
  window_->TileVertically();
  window_->Cascade();
  Shot(window_.get(), "main_window");

  // The bars come and go with their View items.
  QAction* toolBarItem = window_->action("ToolBar");
  ASSERT_NE(toolBarItem, nullptr);
  toolBarItem->trigger();
  EXPECT_TRUE(window_->toolBar()->isHidden());
  toolBarItem->trigger();
  EXPECT_FALSE(window_->toolBar()->isHidden());
  window_->action("InfoBar")->trigger();
  EXPECT_TRUE(window_->infoBar()->isHidden());
  window_->action("InfoBar")->trigger();

  // Hiding the channels leaves the monitor.
  window_->action("Ch&annels")->trigger();
  EXPECT_TRUE(shown(0));
  EXPECT_FALSE(shown(1));

  window_->MinimizeAll();
  EXPECT_TRUE(window_->mdiArea()->subWindowList().first()->isMinimized());
  window_->RestoreAll();
  EXPECT_FALSE(window_->mdiArea()->subWindowList().first()->isMinimized());

  // The tray icon's three states (the virtual X server has no tray to show them in).
  QPixmap tray(3 * 40 + 20, 48);
  tray.fill(Qt::white);
  {
    QPainter p(&tray);
    int x = 5;
    for (Leds l : {Leds::All, Leds::One, Leds::Two}) {
      p.drawPixmap(x, 5, LedIcon(l).pixmap(38, 38));
      x += 45;
    }
  }
  if (const char* dir = std::getenv("ORN_SCREENSHOT_DIR")) tray.save(QString(dir) + "/tray_icon.png");
}

TEST_F(DesktopTest, TheDatabaseWindowsToggleWithTheirCheckMarks) {
  Start(2000);
  QAction* msgs = window_->action("&Messages Data Base");
  msgs->trigger();
  ASSERT_NE(commands_->msgs(), nullptr);
  EXPECT_TRUE(window_->IsShownInArea(commands_->msgs()));
  EXPECT_TRUE(msgs->isChecked());
  EXPECT_EQ(window_->mdiArea()->activeSubWindow()->widget(), commands_->msgs());
  MsgWindow& m = *commands_->msgs();
  ASSERT_GT(m.list()->rowCount(), 1000);
  // No column cuts its text.
  for (int c = 0; c + 1 < m.list()->columnCount(); ++c) {
    const QString text = m.list()->item(0, c)->text();
    EXPECT_GE(m.list()->columnWidth(c), m.list()->fontMetrics().horizontalAdvance(text)) << c;
  }
  m.list()->setCurrentCell(2, 0);
  EXPECT_FALSE(m.textPane()->toPlainText().isEmpty());
  Shot(window_.get(), "messages_window");
  m.list()->selectRow(2);
  Shot(&m, "message_text_pane");

  window_->action("&Users Data Base")->trigger();
  EXPECT_TRUE(window_->IsShownInArea(commands_->users()));
  Shot(commands_->users(), "users_window");
  window_->action("&Users Data Base")->trigger();
  EXPECT_FALSE(window_->IsShownInArea(commands_->users()));
  msgs->trigger();
  EXPECT_FALSE(window_->IsShownInArea(commands_->msgs()));
  EXPECT_FALSE(msgs->isChecked());
}

TEST_F(DesktopTest, TheUserEditorSetsUpAPartnerAndTheRoutingFollowsAtOnce) {
  Start();
  Register("XX8ORN");
  window_->action("&Users Data Base")->trigger();
  UsersWindow& users = *commands_->users();
  users.ShowAllU();
  int row = -1;
  for (int r = 0; r < users.list()->rowCount(); ++r)
    if (users.list()->item(r, 1)->text() == "XX8ORN") row = r;
  ASSERT_GE(row, 0);
  std::unique_ptr<UserEditor> editor(users.EditorFor(row));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->pages()->count(), 3);
  // A new user has no rules and no connect entry; the examples are only
  // shown, never stored.
  EXPECT_EQ(editor->Value("FwdDest"), "");
  EXPECT_EQ(editor->Value("Hcon[0].hours"), "");
  EXPECT_EQ(editor->Value("Hcon[0].send"), "");
  auto* rules = editor->findChild<QPlainTextEdit*>("FwdDest");
  ASSERT_NE(rules, nullptr);
  EXPECT_TRUE(rules->placeholderText().contains("@WW"));
  // A value the checks refuse is named, and nothing is written.
  editor->SetValue("Hcon[1].hours", "2500");
  UserDB u{};
  UserChanges changes;
  EXPECT_EQ(editor->Collect(&u, &changes).rfind("Hcon[1].hours: ", 0), 0u);
  const std::vector<std::pair<const char*, const char*>> values = {
      {"Type", "B"},          {"isFwdStation", "Y"},   {"FwdQueue", "1"},        {"FwdKind", "C"},
      {"OkWithBids", "Y"},    {"FwdDest", "@WW\n>XX5NEW"}, {"Hcon[1].hours", "0623"}, {"Hcon[1].mlength", "<50"},
      {"Hcon[1].daysago", "30"}, {"Hcon[1].port", "2"}, {"Hcon[1].send", "XX8ORN;"}, {"Hcon[1].rcv", "CONNECTED"},
      {"Hcon[1].fwdkind", "F"},  {"Hcon[1].flag", "C"}};
  for (const auto& [field, value] : values) editor->SetValue(field, value);
  editor->show();
  editor->pages()->setCurrentIndex(1);
  Shot(editor.get(), "user_editor_forwarding");
  editor->pages()->setCurrentIndex(2);
  Shot(editor.get(), "user_editor_entries");
  QPushButton* update = nullptr;
  for (QPushButton* b : editor->findChildren<QPushButton*>())
    if (b->text() == "Update") update = b;
  ASSERT_NE(update, nullptr);
  update->click();
  EXPECT_EQ(editor->result(), QDialog::Accepted);

  // The record, the index and the routing table, with no restart.
  auto db = bbs_->store()->OpenDbase();
  const long pos = db->FindUser("XX8ORN");
  ASSERT_NE(pos, 0);
  for (const auto& [field, value] : values) {
    const std::string stored = GetUserField(db->userdb, field);
    EXPECT_EQ(stored, std::string(field) == "FwdDest" ? "@WW\r\n>XX5NEW\r\n" : value) << field;
  }
  EXPECT_EQ(FieldText(db->userdb.Name), "Joe");  // untouched
  EXPECT_EQ(db->useridx.FwdQueue, 1);
  bool routed = false;
  for (const auto& entry : bbs_->partners()->UserFwdDest)
    routed |= std::string(entry.Call) == "XX8ORN" && std::string(entry.fwddest) == "@WW\r\n>XX5NEW\r\n";
  EXPECT_TRUE(routed);
}

TEST_F(DesktopTest, FontsAndColoursReachTheWindowsAtOnce) {
  Start();
  commands_->ShowChannels(true);
  Channel(0)->AppendText("fm XX1ABC to XX9ORN ctl I00\r", TextKind::MonitorHeader);
  Channel(1)->AppendText("Hello\r", TextKind::ChannelInput);
  commands_->msgs();

  const QString family = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
  Config& cfg = bbs_->cfg();
  cfg.fonts.name = family.toStdString();
  cfg.fonts.height = 15;
  cfg.colors.monitorHeader = 0x0000FF;  // red, as Windows stores it
  cfg.colors.channelInput = 0x008000;
  cfg.colors.msgText = 0xFF0000;
  commands_->ApplyLook();

  for (ChannelWindow* w : window_->channelWindows()) {
    EXPECT_EQ(w->receivePane()->font().pointSize(), 15);
    EXPECT_EQ(w->receivePane()->font().family(), family);
  }
  auto colourOfFirstChar = [](ChannelWindow* w) {
    QTextCursor c(w->receivePane()->document());
    c.setPosition(1);
    return c.charFormat().foreground().color();
  };
  // What was shown before takes the new colour, and so does what comes after.
  EXPECT_EQ(colourOfFirstChar(Channel(0)), QColor(255, 0, 0));
  EXPECT_EQ(colourOfFirstChar(Channel(1)), QColor(0, 128, 0));
  Channel(2)->AppendText("Later\r", TextKind::ChannelInput);
  EXPECT_EQ(colourOfFirstChar(Channel(2)), QColor(0, 128, 0));
  EXPECT_EQ(commands_->msgs()->textPane()->palette().color(QPalette::Text), QColor(0, 0, 255));

  // The Properties' colours page applies at once; the font dialog saves what it chose.
  PropertiesDialog sheet(cfg, bbs_->ini(), bbs_->log(), window_.get());
  sheet.notify = [](const QString&, const QString&) {};
  sheet.onColoursApplied = [&] { commands_->ApplyLook(); };
  cfg.colors.channelInput = 0x00FFFF;  // yellow
  ASSERT_TRUE(sheet.Apply());
  EXPECT_EQ(colourOfFirstChar(Channel(1)), QColor(255, 255, 0));
  EXPECT_EQ(IniFile(dir_ / "ORN.INI").GetInt("COLORS", "CHANNELINPUT", 0), 0x00FFFF);
  EXPECT_EQ(LookOf(cfg).font.pointSize(), 15);

  QFontDialog fonts(window_->look().font, window_.get());
  fonts.setOption(QFontDialog::DontUseNativeDialog);
  fonts.show();
  Shot(&fonts, "fonts_dialog");
  // Italic and underline chosen there come back at the next start.
  QFont chosen = window_->look().font;
  chosen.setItalic(true);
  chosen.setUnderline(true);
  fonts.setCurrentFont(chosen);
  StoreFont(fonts.currentFont(), &cfg.fonts);
  ASSERT_TRUE(SaveFonts(bbs_->ini(), cfg));
  Config next;
  LoadFonts(IniFile(dir_ / "ORN.INI"), next);
  EXPECT_TRUE(LookOf(next).font.italic());
  EXPECT_TRUE(LookOf(next).font.underline());
  EXPECT_EQ(LookOf(next).font.pointSize(), 15);
}

TEST_F(DesktopTest, TheChannelPaneDrawsEachSideInItsColourAndBinaryAsOneLine) {
  Start();
  Register("XX1ABC");
  Config& cfg = bbs_->cfg();
  cfg.colors.channelInput = 0x0000FF;   // red, as Windows stores it
  cfg.colors.channelOutput = 0xFF0000;  // blue
  cfg.colors.sysopTyping = 0x008000;    // green
  commands_->ApplyLook();
  commands_->ShowChannels(true);
  engine_.Event(0, "*** CONNECTED To Station XX1ABC\r");
  SentToStations();
  Say(0, "XX1ABC", "hello from the station\r");
  SentToStations();
  TChannel& ch = *bbs_->client().channel(1);
  ch.ToggleTerminal();
  ch.TypedLine("the sysop types");
  SentToStations();
  Say(0, "XX1ABC", std::string("\x01\x0fTEST.BIN\0" "600\0", 16));
  // The colour of the first character of `text` in the pane.
  auto colourOf = [&](const QString& text) {
    QTextDocument* doc = Channel(1)->receivePane()->document();
    const QTextCursor found = doc->find(text);
    if (found.isNull()) return QColor();
    QTextCursor c(doc);
    c.setPosition(found.selectionStart() + 1);
    return c.charFormat().foreground().color();
  };
  EXPECT_EQ(colourOf("hello from the station"), QColor(255, 0, 0));
  EXPECT_EQ(colourOf("the sysop types"), QColor(0, 128, 0));
  // The greeting is the BBS's own text.
  EXPECT_EQ(colourOf("ORN-7.10"), QColor(0, 0, 255));
  const QString pane = Channel(1)->receivePane()->toPlainText();
  EXPECT_TRUE(pane.contains("<binary data, 13 bytes>")) << pane.toStdString();  // the NULs are not shown
  EXPECT_FALSE(pane.contains(QChar(0x01)));
}

TEST_F(DesktopTest, AYappDownloadShowsItsProgressAndTheSysopsCancelAbortsIt) {
  Start();
  Register("XX1ABC");
  const std::string bin = JoinPath(bbs_->cfg().bbspath, bbs_->cfg().BinPath);
  ASSERT_TRUE(WriteFileReplacing(JoinPath(bin, "TEST.BIN"), std::string(600, 'x')));
  commands_->ShowChannels(true);
  engine_.Event(0, "*** CONNECTED To Station XX1ABC\r");
  TChannel& ch = *bbs_->client().channel(1);
  ASSERT_TRUE(ch.connected);
  SentToStations();
  Say(0, "XX1ABC", "YD TEST.BIN\r");
  ChannelWindow* w = Channel(1);
  ASSERT_NE(w->transferWindow(), nullptr) << "no progress window: " << SentToStations();
  EXPECT_TRUE(w->transferWindow()->isVisible());
  // The station is ready: the header goes out, then the data.
  Say(0, "XX1ABC", std::string("\x06\x01", 2));
  Say(0, "XX1ABC", std::string("\x06\x02", 2));
  for (int i = 0; i < 3; ++i) {
    clock_.Advance(2);
    timers_.FireAll();
  }
  ASSERT_NE(w->transferWindow(), nullptr);
  // A bar and the share of the file once its size is known.
  auto* bar = w->transferWindow()->findChild<QProgressBar*>("yappBar");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_GT(bar->value(), 0);
  bool shared = false;
  for (QLabel* l : w->transferWindow()->findChildren<QLabel*>()) shared |= l->text().contains(" of 600 (");
  EXPECT_TRUE(shared);
  Shot(w->transferWindow(), "yapp_progress");

  auto* buttons = w->transferWindow()->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  SentToStations();
  buttons->button(QDialogButtonBox::Cancel)->click();
  // A cancel (CN) goes to the station.
  const std::string sent = SentToStations();
  EXPECT_NE(sent.find('\x18'), std::string::npos) << sent;
  // The station acknowledges the cancel: the transfer and its window are gone.
  Say(0, "XX1ABC", std::string("\x06\x05", 2));
  EXPECT_EQ(w->transferWindow(), nullptr);
  EXPECT_EQ(ch.yapp, nullptr);
}

TEST_F(DesktopTest, TheRepairShowsAGaugeUntilTheFilesAreBack) {
  Start(2000);
  bbs_->cfg().optimize.Killkilled = 1;
  // It disconnects the stations: asked first, and No leaves all as it is.
  engine_.Event(0, "*** CONNECTED To Station XX1ABC\r");
  QString said;
  AnswerBox("No", &said);
  window_->action("Database &repair")->trigger();
  EXPECT_TRUE(said.contains("The station on the air is disconnected.")) << said.toStdString();
  EXPECT_FALSE(bbs_->optimizer()->iact);
  EXPECT_EQ(commands_->repairGauge(), nullptr);
  AnswerBox("Yes", &said);
  window_->action("Database &repair")->trigger();
  QProgressDialog* gauge = commands_->repairGauge();
  ASSERT_NE(gauge, nullptr);
  EXPECT_TRUE(gauge->isVisible());
  QApplication::processEvents();
  Shot(gauge, "repair_gauge");
  QElapsedTimer waited;
  waited.start();
  while (gauge->isVisible() && waited.elapsed() < 20000) QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_FALSE(gauge->isVisible());
  EXPECT_FALSE(bbs_->optimizer()->iact);
  EXPECT_EQ(bbs_->client().BbsStrStatus, "Database repair done");
}

TEST_F(DesktopTest, CommandsThatCannotDoTheirWorkSayWhy) {
  Start();
  QString said;
  // Forwarding off (the default): FWD says where to turn it on.
  AnswerBox("OK", &said);
  window_->action("&FWD")->trigger();
  EXPECT_TRUE(said.contains("Forwarding is off")) << said.toStdString();
  EXPECT_FALSE(bbs_->partners()->started());

  // A desktop without a program for folders: the path is shown instead.
  commands_->openUrl = [](const QUrl&) { return false; };
  said.clear();
  AnswerBox("OK", &said);
  window_->action("&BBS Services Paths")->trigger();
  EXPECT_TRUE(said.contains(QString::fromStdString(dir_.path()))) << said.toStdString();
}

TEST_F(DesktopTest, TheOwnEditorKeepsTheFilesLineEndsAndCodePage) {
  Start();
  // A language file as a Windows editor writes it: CR LF, code page 1252.
  dir_.Write("test.lng", "caf\xe9\r\nline two\r\n");
  TextFileEditor editor(QString::fromStdString(dir_ / "test.lng"), bbs_->client().codePages());
  EXPECT_EQ(editor.text()->toPlainText(), QString::fromUtf8("caf\xc3\xa9\nline two\n"));
  editor.text()->appendPlainText(QString::fromUtf8("na\xc3\xafve"));
  ASSERT_TRUE(editor.Save());
  EXPECT_EQ(dir_.Read("test.lng"), "caf\xe9\r\nline two\r\n\r\nna\xefve");
}

TEST_F(DesktopTest, TheMailIndicatorFollowsWhoeverChangesTheSysopsMail) {
  Start();
  Register("XX9ORN");
  auto send = [&](const char* type, const char* status) {
    MsgAdminContext ctx;
    ctx.store = bbs_->store();
    ctx.clock = &clock_;
    MsgDB m{};
    CopyField(m.Type, type);
    CopyField(m.Status, status);
    CopyField(m.ToStation, "XX9ORN");
    CopyField(m.FromStation, "XX1ABC");
    CopyField(m.MsgSubject, "for the sysop");
    auto db = bbs_->store()->OpenDbase();
    ASSERT_EQ(CreateMsg(ctx, *db, m, "text"), MsgEditResult::kStored);
  };
  // A held message waits for a decision, not for reading.
  send("P", "H");
  EXPECT_FALSE(window_->mailIndicatorOn());
  send("P", "N");
  send("P", "N");
  EXPECT_TRUE(window_->mailIndicatorOn());
  // A station that kills them (the sysop on the air under the BBS's call):
  // the light stays while one is left, and goes with the last.
  engine_.Event(0, "*** CONNECTED To Station XX9ORN\r");
  Say(0, "XX9ORN", "K 1002\r");
  SentToStations();
  EXPECT_TRUE(window_->mailIndicatorOn());
  Say(0, "XX9ORN", "K 1003\r");
  SentToStations();
  EXPECT_FALSE(window_->mailIndicatorOn());
}

TEST_F(DesktopTest, APageIsAnsweredOrDeclinedFromItsNoticeOrItsChannel) {
  Start();
  Register("XX1ABC");
  bbs_->cfg().sysopisin = true;
  engine_.Event(0, "*** CONNECTED To Station XX1ABC\r");
  TChannel& ch = *bbs_->client().channel(1);
  ASSERT_TRUE(ch.connected);
  SentToStations();
  auto button = [](QWidget* in, const QString& text) -> QPushButton* {
    for (QPushButton* b : in->findChildren<QPushButton*>())
      if (b->text().remove('&') == text) return b;
    return nullptr;
  };
  auto settle = [] {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };

  // Declined from the notice: the station hears so, notice and page go.
  Say(0, "XX1ABC", "T\r");
  SentToStations();
  QPointer<QDialog> notice = window_->pageNotices()->notice(1);
  ASSERT_TRUE(notice);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->windowTitle(), "Chat Request..");
  Shot(notice, "chat_request");
  ASSERT_TRUE(Channel(1)->pageBar()->isVisibleTo(Channel(1)));
  button(notice, "Decline")->click();
  settle();
  EXPECT_NE(SentToStations().find(ch.Expand(ch.lang.sysopnotanswer)), std::string::npos);
  EXPECT_FALSE(notice);
  EXPECT_FALSE(Channel(1)->pageBar()->isVisibleTo(Channel(1)));
  EXPECT_FALSE(ch.paged);
  EXPECT_FALSE(ch.terminal);

  // The notice closed without a choice: the page waits on the channel's
  // window, whose Answer brings it forward in terminal mode.
  Say(0, "XX1ABC", "T\r");
  SentToStations();
  notice = window_->pageNotices()->notice(1);
  ASSERT_TRUE(notice);
  notice->close();
  settle();
  EXPECT_FALSE(notice);
  EXPECT_TRUE(ch.paged);
  ASSERT_TRUE(Channel(1)->pageBar()->isVisibleTo(Channel(1)));
  // The hidden window was left half beyond the frame's right edge.
  QMdiSubWindow* sub = qobject_cast<QMdiSubWindow*>(Channel(1)->parentWidget());
  ASSERT_NE(sub, nullptr);
  const QSize area = sub->mdiArea()->viewport()->size();
  sub->setGeometry(area.width() - 200, 10, 520, 320);
  button(Channel(1)->pageBar(), "Answer")->click();
  settle();
  EXPECT_TRUE(ch.terminal);
  EXPECT_FALSE(ch.paged);
  EXPECT_NE(SentToStations().find(ch.Expand(ch.lang.sysopanswer)), std::string::npos);
  EXPECT_TRUE(sub->isVisible());
  EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(sub->geometry()));
  EXPECT_EQ(sub->mdiArea()->activeSubWindow(), sub);
  EXPECT_TRUE(button(Channel(1), "Terminal")->isChecked());
  // Given back from elsewhere (ornctl talk's end): the button follows.
  ch.ToggleTerminal();
  EXPECT_NE(SentToStations().find(ch.Expand(ch.lang.backinbbs)), std::string::npos);
  EXPECT_FALSE(button(Channel(1), "Terminal")->isChecked());

  // A page while the sysop is in a modal dialog: the notice is the window
  // that takes the input, and its Answer works there.
  bool answeredOverModal = false;
  // These modal windows are expected: the guard rests meanwhile.
  guard_.stop();
  auto* poll = new QTimer;
  poll->setInterval(5);
  int step = 0;
  QObject::connect(poll, &QTimer::timeout, [&, poll] {
    auto* modal = QApplication::activeModalWidget();
    if (step == 0 && qobject_cast<QMessageBox*>(modal)) {
      step = 1;
      Say(0, "XX1ABC", "T\r");
      return;
    }
    QDialog* n = window_->pageNotices()->notice(1);
    if (step == 1 && n && modal == n) {
      step = 2;
      answeredOverModal = n->isVisible();
      button(n, "Answer")->click();
      return;
    }
    if (step == 2 && qobject_cast<QMessageBox*>(modal)) {
      static_cast<QMessageBox*>(modal)->done(0);
      poll->deleteLater();
    }
  });
  poll->start();
  QMessageBox box(QMessageBox::Information, "Busy", "the sysop is editing", QMessageBox::Ok, window_.get());
  box.exec();
  guard_.start();
  settle();
  EXPECT_TRUE(answeredOverModal);
  EXPECT_TRUE(ch.terminal);
  EXPECT_FALSE(ch.paged);
  EXPECT_EQ(window_->pageNotices()->notice(1), nullptr);
  EXPECT_FALSE(window_->trayCallsForPage());
}

// On a 1024x768 screen the four channel windows and both lists, tiled either
// way, each keep their whole button row in sight, and no tile hides another.
TEST_F(DesktopTest, TiledWindowsKeepTheirButtonsReadableAt1024x768) {
  Start(200);
  window_->setGeometry(0, 0, 1024, 768);
  window_->action("Ch&annels")->trigger();
  window_->action("&Users Data Base")->trigger();
  window_->action("&Messages Data Base")->trigger();
  QApplication::processEvents();
  const QRect area = window_->mdiArea()->viewport()->rect();
  for (const char* how : {"vert", "horiz"}) {
    SCOPED_TRACE(how);
    if (std::string(how) == "vert") {
      window_->TileVertically();
    } else {
      window_->TileHorizontally();
    }
    QApplication::processEvents();
    QList<QMdiSubWindow*> shown;
    for (QMdiSubWindow* s : window_->mdiArea()->subWindowList())
      if (s->isVisible()) shown << s;
    ASSERT_EQ(shown.size(), 6);
    for (QMdiSubWindow* s : shown) {
      const std::string name = s->windowTitle().toStdString();
      EXPECT_TRUE(area.contains(s->geometry())) << name;
      for (QMdiSubWindow* other : shown) {
        if (other != s) {
          EXPECT_FALSE(s->geometry().intersects(other->geometry())) << name;
        }
      }
      for (QPushButton* b : s->widget()->findChildren<QPushButton*>()) {
        if (!b->isVisibleTo(s)) continue;
        EXPECT_GE(b->width(), b->sizeHint().width()) << name << ": " << b->text().toStdString();
        EXPECT_GE(b->height(), b->sizeHint().height()) << name << ": " << b->text().toStdString();
        const QRect inSub(b->mapTo(s, QPoint(0, 0)), b->size());
        EXPECT_TRUE(s->rect().contains(inSub)) << name << ": " << b->text().toStdString();
      }
    }
    Shot(window_.get(), QString("tiled_") + how + "_1024x768");
  }
}

// Buttons take the desktop theme's icon where it has one of the name, and
// keep the drawn tile where it has none.
TEST_F(DesktopTest, TheButtonsTakeTheDesktopsThemeIconsWhereItHasThem) {
  const QString themes = QString::fromStdString(dir_ / "icons");
  QDir().mkpath(themes + "/orntest/32x32/actions");
  {
    QFile index(themes + "/orntest/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=orntest\nDirectories=32x32/actions\n\n[32x32/actions]\nSize=32\nType=Fixed\n");
  }
  QPixmap pm(32, 32);
  pm.fill(Qt::darkGreen);
  ASSERT_TRUE(pm.save(themes + "/orntest/32x32/actions/mail-send-receive.png"));
  const QStringList paths = QIcon::themeSearchPaths();
  const QString theme = QIcon::themeName();
  QIcon::setThemeSearchPaths({themes});
  QIcon::setThemeName("orntest");
  Start();
  EXPECT_EQ(window_->action("&FWD")->icon().name(), "mail-send-receive");
  EXPECT_TRUE(window_->action("&Users Data Base")->icon().name().isEmpty());
  EXPECT_FALSE(window_->action("&Users Data Base")->icon().isNull());
  QIcon::setThemeName(theme);
  QIcon::setThemeSearchPaths(paths);
}

// What the sysop arranged comes back at the next start: the main window's
// size and bars, which windows are open, where, and which is maximised.
TEST_F(DesktopTest, TheWindowsComeBackWhereTheSysopLeftThem) {
  const QString file = QString::fromStdString(dir_ / "desktop.ini");
  const QString group = DesktopLayoutGroup(QString::fromStdString(dir_.path()));
  Start(50);
  {
    QSettings s(file, QSettings::IniFormat);
    s.beginGroup(group);
    EXPECT_FALSE(commands_->RestoreLayout(s)) << "nothing kept yet";
  }
  window_->setGeometry(10, 20, 1000, 720);
  window_->action("ToolBar")->trigger();
  window_->action("Ch&annels")->trigger();
  window_->action("&Users Data Base")->trigger();
  QMdiSubWindow* users = window_->mdiArea()->currentSubWindow();
  ASSERT_EQ(users->widget(), commands_->users());
  users->setGeometry(40, 30, 600, 300);
  window_->action("&Messages Data Base")->trigger();
  window_->mdiArea()->currentSubWindow()->showMaximized();
  Channel(2)->SetVisible(false);
  Channel(1)->parentWidget()->setGeometry(5, 6, 500, 250);
  ASSERT_TRUE(qobject_cast<QMdiSubWindow*>(Channel(1)->parentWidget()));
  QApplication::processEvents();
  {
    QSettings s(file, QSettings::IniFormat);
    s.beginGroup(group);
    commands_->SaveLayout(s);
  }
  Stop();

  Start(50);
  QSettings s(file, QSettings::IniFormat);
  s.beginGroup(group);
  ASSERT_TRUE(commands_->RestoreLayout(s));
  QApplication::processEvents();
  EXPECT_EQ(window_->size(), QSize(1000, 720));
  EXPECT_TRUE(window_->toolBar()->isHidden());
  EXPECT_TRUE(window_->IsShownInArea(Channel(0)));
  EXPECT_TRUE(window_->IsShownInArea(Channel(1)));
  EXPECT_FALSE(window_->IsShownInArea(Channel(2)));
  EXPECT_TRUE(window_->IsShownInArea(Channel(3)));
  EXPECT_EQ(Channel(1)->parentWidget()->geometry(), QRect(5, 6, 500, 250));
  ASSERT_NE(commands_->users(), nullptr);
  EXPECT_TRUE(window_->IsShownInArea(commands_->users()));
  EXPECT_EQ(commands_->users()->parentWidget()->geometry(), QRect(40, 30, 600, 300));
  ASSERT_NE(commands_->msgs(), nullptr);
  EXPECT_TRUE(commands_->msgs()->parentWidget()->isMaximized());
  EXPECT_EQ(window_->mdiArea()->activeSubWindow()->widget(), commands_->msgs());

  // A place kept on a larger screen is brought inside the frame.
  s.setValue("windows/channel1/geometry", QRect(3000, 2000, 500, 250));
  Stop();
  Start(50);
  ASSERT_TRUE(commands_->RestoreLayout(s));
  QApplication::processEvents();
  const QRect area = window_->mdiArea()->viewport()->rect();
  EXPECT_TRUE(area.contains(Channel(1)->parentWidget()->geometry())) << area.width() << "x" << area.height();
}

TEST_F(DesktopTest, TheOtherWindowsOfTheSysop) {
  Start(200);
  // Monitor Cnf does not block, and its command waits while it is open.
  QAction* monitor = window_->action("M&onitor Cnf");
  monitor->trigger();
  EXPECT_FALSE(monitor->isEnabled());
  QWidget* dialog = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top->windowTitle() == "Monitor") dialog = top;
  ASSERT_NE(dialog, nullptr);
  Shot(dialog, "monitor_config");
  dialog->close();
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(monitor->isEnabled());

  // About waits for its timer before it can be asked again.
  QAction* about = window_->action("About");
  about->trigger();
  EXPECT_FALSE(about->isEnabled());
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top->windowTitle() == "About ORNBBS") {
      Shot(top, "about");
      top->close();
    }

  window_->action("&Contents")->trigger();
  QWidget* help = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top->windowTitle() == "ORNBBS Help") help = top;
  ASSERT_NE(help, nullptr);
  auto* manual = help->findChild<QTextBrowser*>("manual");
  ASSERT_NE(manual, nullptr);
  EXPECT_TRUE(manual->toPlainText().startsWith("ORNBBS: the sysop's manual")) << manual->toPlainText().left(80).toStdString();
  Shot(help, "help_contents");
  help->close();

  PropertiesDialog sheet(bbs_->cfg(), bbs_->ini(), bbs_->log(), window_.get());
  sheet.show();
  for (int i = 0; i < sheet.tabs()->count(); ++i) {
    sheet.tabs()->setCurrentIndex(i);
    Shot(&sheet, "properties_" + sheet.tabs()->tabText(i).toLower().replace(' ', '_'));
  }
  sheet.close();

  auto& m = *commands_->msgs();
  window_->ShowInArea(&m);
  QTimer::singleShot(0, [&] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->windowTitle() == "Message Edit") {
        Shot(top, "message_editor");
        top->close();
      }
  });
  guard_.stop();
  m.OpenEditor(0);
}

}  // namespace
}  // namespace orn
