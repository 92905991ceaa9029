#include "app/qt/desktop_commands.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QObject>
#include <QProgressDialog>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>
#include <vector>

#include "app/user_follows.h"
#include "desktop/desktop_layout.h"
#include "desktop/icons.h"
#include "desktop/properties_dialog.h"
#include "desktop/text_file_editor.h"
#include "fwd/fwd_partners.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/store.h"

namespace orn {

DesktopCommands::DesktopCommands(MainWindow& window, ORNBBS& bbs, const Clock& clock)
    : window_(window), bbs_(bbs), clock_(clock) {
  window_.SetOwnCall(QString::fromStdString(bbs_.cfg().MyCall));

  window_.addMenuCommand("&File", "&EditText", [this] {
    const QString file = QFileDialog::getOpenFileName(&window_, "EditText", QString::fromStdString(bbs_.cfg().bbspath),
                                                      "All Files (*);;Text Files (*.txt)");
    if (file.isEmpty() || openUrl(QUrl::fromLocalFile(file))) return;
    // No program opens text files on this desktop: the BBS's own editor does.
    TextFileEditor editor(file, bbs_.client().codePages(), &window_);
    editor.exec();
  }, nullptr, "Open a text file in the text editor")->setIcon(ThemedIcon("accessories-text-editor", "\u270E", QColor(0x45, 0x5a, 0x64)));
  window_.addMenuCommand("F&onts", "&Fonts", [this] { ChooseFont(); }, nullptr,
                         "Choose the font of the monitor and channel windows")
      ->setIcon(ThemedIcon("preferences-desktop-font", "A", QColor(0x5d, 0x40, 0x37)));

  window_.addMenuCommand("&System", "&Properties", [this] {
    PropertiesDialog sheet(bbs_.cfg(), bbs_.ini(), bbs_.log(), &window_);
    sheet.onColoursApplied = [this] { ApplyLook(); };
    sheet.exec();
  }, nullptr, "Edit the configuration (ORN.INI)")->setIcon(ThemedIcon("preferences-system", "\u2699", QColor(0x37, 0x47, 0x4f)));
  window_.addMenuCommand("&System", "&Users Data Base", [this] { ToggleUsers(); },
                         [this] { return users_ && window_.IsShownInArea(users_); }, "Show or hide the user list")
      ->setIcon(ThemedIcon("system-users", "U", QColor(0x00, 0x69, 0x5c)));
  window_.action("&Users Data Base")->setShortcut(QKeySequence("Ctrl+U"));
  window_.addMenuCommand("&System", "&Messages Data Base", [this] { ToggleMsgs(); },
                         [this] { return msgs_ && window_.IsShownInArea(msgs_); }, "Show or hide the message list")
      ->setIcon(ThemedIcon("internet-mail", "\u2709", QColor(0x15, 0x65, 0xc0)));
  window_.action("&Messages Data Base")->setShortcut(QKeySequence("Ctrl+M"));
  window_.addMenuCommand("&System", "&BBS Services Paths", [this] {
    const QString dir = QString::fromStdString(bbs_.cfg().bbspath);
    if (openUrl(QUrl::fromLocalFile(dir))) return;
    QMessageBox box(QMessageBox::Information, "BBS Services Paths",
                    "No file manager opens folders on this desktop (xdg-open found none).\n"
                    "The BBS directory is:\n" + dir,
                    QMessageBox::Ok, &window_);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
  }, nullptr, "Open the BBS directory in the file manager")->setIcon(ThemedIcon("folder", "\u2302", QColor(0x6a, 0x1b, 0x9a)));
  window_.addMenuCommand(
      "&System", "Database &repair",
      [this] {
        if (!bbs_.optimizer()) return;
        int stations = 0;
        for (int i = 1; i < bbs_.client().numberchildren; ++i)
          if (std::strcmp(bbs_.client().channel(i)->UserCall, "NULL") != 0) ++stations;
        const QString who = stations == 0   ? QString("No station is connected.")
                            : stations == 1 ? QString("The station on the air is disconnected.")
                                            : QString("The %1 stations on the air are disconnected.").arg(stations);
        if (QMessageBox::question(&window_, "Database repair",
                                  "The repair closes the ports to new connections until it is done. " + who +
                                      "\nRepair the database now?",
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
          return;
        bbs_.optimizer()->StartOptimize(true);
        WatchRepair();
      },
      [this] { return bbs_.optimizer() && bbs_.optimizer()->repcheck; },
      "Repair the database now (drops what the repair options say)")
      ->setIcon(ToolIcon("R", QColor(0xad, 0x14, 0x57)));
  window_.addMenuCommand("&System", "&FWD", [this] {
    FwdPartners* partners = bbs_.partners();
    if (!partners) return;
    if (!bbs_.cfg().FwdOk) {
      QMessageBox::information(&window_, "FWD",
                               "Forwarding is off: tick \"Forwarding\" on the General page of System > "
                               "Properties (FWDOK=1 in ORN.INI), then start the cycle again.");
      return;
    }
    if (partners->started()) {
      QMessageBox::information(&window_, "FWD", "A forwarding cycle is already running.");
      return;
    }
    partners->CMFwd();
  }, nullptr, "Start a forwarding cycle now")->setIcon(ThemedIcon("mail-send-receive", "\u21C4", QColor(0x2e, 0x7d, 0x32)));
  window_.addMenuCommand("&System", "&Add New Port",
                         [this] { PropertiesDialog::AddPort(bbs_.cfg(), bbs_.ini(), bbs_.log(), &window_); }, nullptr,
                         "Add a radio port (takes effect at the next start)");
  window_.addMenuCommand("&System", "M&onitor Cnf", [this] { MonitorConfig(); }, nullptr,
                         "Choose the frames the monitor shows");
  window_.addMenuCommand(
      "&System", "OemToChar", [this] { ToggleOemAnsi(bbs_.ini(), bbs_.cfg()); }, [this] { return bbs_.cfg().OEMANSI; },
      "Convert the stations' text to the stored code page")
      ->setIcon(ToolIcon("\u2193", QColor(0x45, 0x27, 0xa0)));
  window_.addMenuCommand(
      "&System", "CharToOem", [this] { ToggleAnsiOem(bbs_.ini(), bbs_.cfg()); }, [this] { return bbs_.cfg().ANSIOEM; },
      "Convert the text sent to the stations to their code page")
      ->setIcon(ToolIcon("\u2191", QColor(0x45, 0x27, 0xa0)));

  window_.addMenuCommand(
      "&View", "M&onitor",
      [this] {
        monitorShown_ = !monitorShown_;
        TChannel* monitor = bbs_.client().channel(0);
        if (!monitor) return;
        monitor->view().SetVisible(monitorShown_);
        if (monitorShown_) window_.Cascade();
      },
      [this] { return monitorShown_; }, "Show or hide the monitor window")
      ->setIcon(ToolIcon("M", QColor(0x0d, 0x47, 0xa1)));
  window_.addMenuCommand(
      "&View", "Ch&annels", [this] { ShowChannels(!channelsShown_); }, [this] { return channelsShown_; },
      "Show or hide the channel windows")
      ->setIcon(ToolIcon("C", QColor(0x0d, 0x47, 0xa1)));

  window_.SetToolBar({"&EditText", "&Properties", "&Fonts", "OemToChar", "CharToOem", "", "M&onitor", "Ch&annels",
                      "&FWD", "", "&Users Data Base", "&Messages Data Base", "&BBS Services Paths",
                      "Database &repair", "", "E&xit"});

  window_.onUsersChanged = [this](long) {
    if (users_ && users_->isVisible()) users_->ShowAllU();
  };
  // Whoever changed a message (a station's K or R, ornctl, a partner), the
  // list and the mail indicator follow.
  window_.onMsgsChanged = [this](long position) {
    if (msgs_ && msgs_->isVisible()) msgs_->ShowAllM();
    ScanMailForSysop(position);
  };
  ApplyLook();
  // The monthly repair starts from the info tick: its gauge shows all the same.
  scheduled_ = new QTimer(&window_);
  scheduled_->setInterval(1000);
  QObject::connect(scheduled_, &QTimer::timeout, &window_, [this] {
    if (bbs_.optimizer() && bbs_.optimizer()->iact && (!gauge_ || !gauge_->isVisible())) WatchRepair();
  });
  scheduled_->start();
}

DesktopCommands::~DesktopCommands() {
  // What calls back into this object goes with it.
  delete scheduled_;
  delete gauge_;
  delete monitorConfig_.data();
  // A database window made but never shown in the frame belongs to nobody.
  for (QWidget* w : {static_cast<QWidget*>(users_), static_cast<QWidget*>(msgs_)})
    if (w && !w->parent()) delete w;
  // The BBS may still refresh the lists while it shuts down.
  window_.onUsersChanged = nullptr;
  window_.onMsgsChanged = nullptr;
}

UsersWindow* DesktopCommands::users() {
  if (!users_ && bbs_.store()) {
    users_ = new UsersWindow(bbs_.store()->OpenDbase(), bbs_.cfg().bbspath, bbs_.client().codePages());
    users_->setObjectName("users");
    users_->SetLook(window_.look());
    // The stations on the air, the routing table and the list follow at once.
    users_->onUserWritten = [this](long position, const std::string& call, const UserChanges& changes) {
      UserRecordFollows(bbs_.client(), bbs_.partners(), position, call, changes);
    };
  }
  return users_;
}

MsgWindow* DesktopCommands::msgs() {
  if (!msgs_ && bbs_.store()) {
    MsgAdminContext ctx;
    ctx.store = bbs_.store();
    ctx.clock = &clock_;
    ctx.ownCall = bbs_.cfg().MyCallOut;
    ctx.stationCodePage = bbs_.cfg().OEMANSI ? &bbs_.client().codePages() : nullptr;
    ctx.RemFwd = [this](long n) {
      if (bbs_.partners()) bbs_.partners()->RemFwd(n);
    };
    ctx.Route = [this](const MsgDB& m) {
      if (bbs_.client().routeStoredMsg) bbs_.client().routeStoredMsg(MsgOrigin{}, m);
    };
    ctx.routingHeader = [this] {
      TChannel* monitor = bbs_.client().channel(0);
      return monitor ? monitor->Expand(bbs_.cfg().FWDMSGHEADER) : std::string();
    };
    msgs_ = new MsgWindow(std::move(ctx), bbs_.store()->OpenDbase(), bbs_.client().codePages());
    msgs_->setObjectName("messages");
    msgs_->SetLook(window_.look());
    msgs_->onMailChanged = [this] { ScanMailForSysop(); };
    msgs_->filesBusy = [this] { return bbs_.optimizer() && bbs_.optimizer()->iact; };
  }
  return msgs_;
}

void DesktopCommands::ToggleUsers() {
  if (!users()) return;
  if (!window_.HideInArea(users_)) window_.ShowInArea(users_);
}

void DesktopCommands::ToggleMsgs() {
  if (!msgs()) return;
  if (!window_.HideInArea(msgs_)) window_.ShowInArea(msgs_);
}

void DesktopCommands::ShowChannels(bool shown) {
  channelsShown_ = shown;
  for (int i = 1; i < bbs_.client().numberchildren; ++i) bbs_.client().channel(i)->view().SetVisible(shown);
  if (shown) window_.Cascade();
}

void DesktopCommands::SaveLayout(QSettings& s) {
  SaveMainPlace(s, window_);
  SaveWindowPlaces(s, window_);
}

bool DesktopCommands::RestoreLayout(QSettings& s) {
  const bool main = RestoreMainPlace(s, window_);
  const bool windows = RestoreWindowPlaces(s, window_, [this](const QString& name, bool shown) {
    if (name == "monitor") {
      monitorShown_ = shown;
      if (TChannel* monitor = bbs_.client().channel(0)) monitor->view().SetVisible(shown);
    } else if (name.startsWith("channel")) {
      const int i = name.mid(7).toInt();
      if (i < 1 || i >= bbs_.client().numberchildren) return;
      channelsShown_ = channelsShown_ || shown;
      bbs_.client().channel(i)->view().SetVisible(shown);
    } else if (name == "users" || name == "messages") {
      QWidget* w = name == "users" ? static_cast<QWidget*>(users()) : static_cast<QWidget*>(msgs());
      if (!w) return;
      if (shown) {
        window_.ShowInArea(w);
      } else {
        window_.HideInArea(w);
      }
    }
  });
  return main || windows;
}

void DesktopCommands::ScanMailForSysop(long position) {
  Store* store = bbs_.store();
  if (!store || (bbs_.optimizer() && bbs_.optimizer()->iact)) return;
  auto db = store->OpenDbase();
  // A change to a message for someone else changes nothing here.
  if (position > 0) {
    MsgDB m{};
    MsgDBidx i{};
    if (db->ReadFromFile(position, m, i) && CallKey(FieldText(m.ToStation)) != bbs_.cfg().MyCallOut) return;
  }
  window_.SetMailIndicator(MailForSysop(*db, bbs_.cfg().MyCallOut));
}

void DesktopCommands::ApplyLook() {
  const WindowLook look = LookOf(bbs_.cfg());
  window_.SetLook(look);
  if (users_) users_->SetLook(look);
  if (msgs_) msgs_->SetLook(look);
}

void DesktopCommands::ChooseFont() {
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, window_.look().font, &window_, "Fonts");
  if (!ok) return;
  StoreFont(font, &bbs_.cfg().fonts);
  if (!SaveFonts(bbs_.ini(), bbs_.cfg())) QMessageBox::warning(&window_, "Error..", "ORN.INI could not be written.");
  ApplyLook();
}

void DesktopCommands::MonitorConfig() {
  // Which kinds of monitored frames the monitor window shows. The sysop may
  // watch the monitor change while the dialog is open: it does not block.
  if (monitorConfig_) return;
  QAction* command = window_.action("M&onitor Cnf");
  auto* dialog = new QDialog(&window_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("Monitor");
  auto* layout = new QVBoxLayout(dialog);
  const std::pair<int, const char*> kinds[] = {
      {4, "Information frames"}, {8, "Unnumbered information"}, {16, "Supervisory frames"}, {32, "Own transmissions"}};
  auto boxes = std::make_shared<std::vector<std::pair<int, QCheckBox*>>>();
  for (const auto& [bit, label] : kinds) {
    auto* box = new QCheckBox(label, dialog);
    box->setChecked(bbs_.cfg().Monitor & bit);
    layout->addWidget(box);
    boxes->emplace_back(bit, box);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, boxes] {
    int monitor = 0;
    for (const auto& [bit, box] : *boxes)
      if (box->isChecked()) monitor |= bit;
    bbs_.cfg().Monitor = monitor;
    SetMonConfig(bbs_.ini(), bbs_.cfg());
    dialog->accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  if (command) {
    command->setEnabled(false);
    QObject::connect(dialog, &QObject::destroyed, command, [command] { command->setEnabled(true); });
  }
  monitorConfig_ = dialog;
  dialog->show();
}

void DesktopCommands::WatchRepair() {
  OptimizeRun* run = bbs_.optimizer();
  if (!run || !run->iact) return;
  if (!gauge_) {
    gauge_ = new QProgressDialog(&window_);
    gauge_->setWindowTitle("Database repair");
    gauge_->setCancelButton(nullptr);
    gauge_->setRange(0, 3);
    gauge_->setMinimumDuration(0);
    gauge_->setAutoClose(false);
    gauge_->setAutoReset(false);
    // The lists must not be used while their files are rewritten.
    gauge_->setWindowModality(Qt::WindowModal);
    repairWatch_ = new QTimer(gauge_);
    repairWatch_->setInterval(100);
    QObject::connect(repairWatch_, &QTimer::timeout, gauge_, [this] {
      OptimizeRun* r = bbs_.optimizer();
      if (!r || !r->iact) {
        repairWatch_->stop();
        gauge_->hide();
        return;
      }
      const int stage = r->stage;
      static const char* const kStages[] = {"Starting the database repair...", "Repairing the messages...",
                                            "Repairing the users...", "Taking up the files again..."};
      gauge_->setLabelText(kStages[std::clamp(stage, 0, 3)]);
      gauge_->setValue(stage);
      // The worker's end is taken up by the info tick; do not wait for it.
      if (stage == 3) r->StartOptimize(false);
    });
  }
  gauge_->setValue(0);
  gauge_->setLabelText("Starting the database repair...");
  gauge_->show();
  repairWatch_->start();
}

}  // namespace orn
