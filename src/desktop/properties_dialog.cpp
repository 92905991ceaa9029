#include "desktop/properties_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "admin/config_files.h"
#include "desktop/window_look.h"
#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {
namespace {

const char* const kRestartNotice = "You have to restart BBS Server\n for changes to take effect.";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QLineEdit* e) { return e->text().toStdString(); }

QSpinBox* Number(QWidget* parent, long value, int max = 100000) {
  auto* box = new QSpinBox(parent);
  box->setRange(0, max);
  box->setValue(static_cast<int>(value));
  return box;
}

QCheckBox* Switch(QWidget* parent, const char* label, bool on) {
  auto* box = new QCheckBox(label, parent);
  box->setChecked(on);
  return box;
}

// Opens a text file for editing and saves it back in the same place.
void EditTextFile(QWidget* parent, const std::string& path) {
  std::string text;
  ReadWholeFile(path, &text);
  QDialog dialog(parent);
  dialog.setWindowTitle(Q(path));
  auto* layout = new QVBoxLayout(&dialog);
  auto* edit = new QPlainTextEdit(&dialog);
  edit->setPlainText(QString::fromLatin1(text.data(), static_cast<int>(text.size())));
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  dialog.resize(640, 480);
  if (dialog.exec() != QDialog::Accepted) return;
  const QByteArray bytes = edit->toPlainText().toLatin1();
  if (WriteFileReplacing(path, std::string(bytes.constData(), static_cast<size_t>(bytes.size())))) {
    QMessageBox::information(parent, "Info", "File saved...");
  } else {
    QMessageBox::warning(parent, "Error...", "Failure to update file..");
  }
}

}  // namespace

PropertiesDialog::PropertiesDialog(Config& cfg, IniFile& ini, ActivityLog& log, QWidget* parent, int onlyPort)
    : QDialog(parent), cfg_(cfg), ini_(ini), log_(log) {
  setWindowTitle(onlyPort >= 0 ? "New Port" : "Properties");
  notify = [this](const QString& caption, const QString& text) { QMessageBox::information(this, caption, text); };
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  layout->addWidget(tabs_);
  if (onlyPort >= 0) {
    AddPortPage(onlyPort);
  } else {
    for (int p = 0; p < cfg_.maxport; ++p) AddPortPage(p);
    AddGeneralPage();
    AddDirectoriesPage();
    AddFilePage("Languages", false);
    AddFilePage("Help files", true);
    AddLogPage();
    AddColoursPage();
    AddServersPage();
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  // Wide enough that every tab shows without scroll arrows.
  tabs_->setUsesScrollButtons(false);
  setMinimumWidth(std::max(640, tabs_->tabBar()->sizeHint().width() + 40));
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { Apply(); });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool PropertiesDialog::Apply() {
  bool ok = true, restart = false;
  for (auto& apply : apply_) ok &= apply(&restart);
  if (!ok) notify("Error..", "ORN.INI could not be written.");
  if (restart) notify("Info", kRestartNotice);
  return ok;
}

void PropertiesDialog::AddPortPage(int port) {
  Auxes& a = cfg_.Ports[static_cast<size_t>(port)];
  auto* page = new QWidget(tabs_);
  auto* form = new QFormLayout(page);
  auto* channels = Number(page, a.maxchannels, kMaxChannels - 1);
  auto* portnum = Number(page, a.engineport, 255);
  portnum->setObjectName("PORTNUM");
  portnum->setToolTip("The engine's number of this port (Direwolf: the radio channel)");
  auto* paclen = Number(page, a.paclen, 256);
  auto* maxframe = Number(page, a.maxframe, 7);
  auto* timeout = Number(page, static_cast<long>(a.timeout));
  auto* unproto = new QLineEdit(Q(a.unprotoaddress), page);
  auto* btext = new QLineEdit(Q(a.btext), page);
  auto* browse = new QPushButton("Browse...", page);
  auto* btimeout = Number(page, a.beaconevery);
  auto* mailbeacon = Number(page, a.mailbeacon);
  auto* enabled = Switch(page, "Port enabled", a.enabled);
  auto* conok = Switch(page, "Connections accepted", a.conok);
  auto* bbsonly = Switch(page, "Only BBSes, sysops and experts", a.bbsonly == 1);
  auto* limited = Switch(page, "Restricted commands for the others", a.limitedaccess == 1);
  auto* beaconok = Switch(page, "Beacon", a.beaconeveryok != 0);
  auto* mailbeaconok = Switch(page, "Mail beacon", a.mailbeaconok != 0);
  auto* unprotofwd = Switch(page, "Unproto forwarding", a.unprotofwd != 0);
  form->addRow("Channels", channels);
  form->addRow("Engine port number (PORTNUM)", portnum);
  form->addRow("Packet length", paclen);
  form->addRow("Window (MAXFRAME)", maxframe);
  form->addRow("Time-out (minutes)", timeout);
  form->addRow("Unproto address", unproto);
  auto* beaconRow = new QHBoxLayout;
  beaconRow->addWidget(btext, 1);
  beaconRow->addWidget(browse);
  form->addRow("Beacon file", beaconRow);
  form->addRow("Beacon every (minutes)", btimeout);
  form->addRow("Mail beacon every (minutes)", mailbeacon);
  for (QCheckBox* box : {enabled, conok, bbsonly, limited, beaconok, mailbeaconok, unprotofwd}) form->addRow(box);
  connect(browse, &QPushButton::clicked, this, [this, btext] {
    const QString file = QFileDialog::getOpenFileName(this, "BeaconFile", Q(cfg_.bbspath), "All Files (*);;Text Files (*.txt)");
    if (!file.isEmpty()) btext->setText(file);
  });
  tabs_->addTab(page, QString("Port %1").arg(port + 1));
  apply_.push_back([=, this](bool* restart) {
    Auxes& x = cfg_.Ports[static_cast<size_t>(port)];
    // The channels and their links are made at start: these wait for it.
    // The rest is read as it is needed, and takes effect at once.
    *restart |= x.maxchannels != channels->value() || x.engineport != portnum->value() ||
                x.paclen != paclen->value() || x.maxframe != maxframe->value() || x.enabled != enabled->isChecked();
    x.maxchannels = channels->value();
    x.engineport = portnum->value();
    x.paclen = paclen->value();
    x.maxframe = maxframe->value();
    x.timeout = static_cast<unsigned long>(timeout->value());
    x.unprotoaddress = Cut(UpperAscii(S(unproto)), 10);
    x.btext = Cut(S(btext), 80);
    x.beaconevery = btimeout->value();
    x.mailbeacon = mailbeacon->value();
    x.enabled = enabled->isChecked();
    x.conok = conok->isChecked();
    x.bbsonly = bbsonly->isChecked();
    x.limitedaccess = limited->isChecked();
    x.beaconeveryok = beaconok->isChecked();
    x.mailbeaconok = mailbeaconok->isChecked();
    x.unprotofwd = unprotofwd->isChecked();
    return WriteSpecifiedPortInfoToIni(ini_, cfg_, port);
  });
}

void PropertiesDialog::AddGeneralPage() {
  auto* page = new QWidget(tabs_);
  auto* form = new QFormLayout(page);
  auto* call = new QLineEdit(Q(cfg_.MyCall), page);
  auto* name = new QLineEdit(Q(cfg_.MyName), page);
  auto* zip = new QLineEdit(Q(cfg_.MyZip), page);
  auto* hier = new QLineEdit(Q(cfg_.MyHier), page);
  auto* pass = new QLineEdit(Q(cfg_.MyPass), page);
  auto* header = new QLineEdit(Q(cfg_.FWDMSGHEADER), page);
  // One text for the mail beacons of every port (RADIO MSGBEACON).
  auto* msgbeacon = new QLineEdit(Q(cfg_.maxport > 0 ? cfg_.Ports[0].msgbeacon : std::string()), page);
  msgbeacon->setObjectName("MSGBEACON");
  msgbeacon->setToolTip("The mail beacon's text on every port; $q gives the calls that have mail");
  // The routing line is long: the field shows it whole.
  header->setMinimumWidth(header->fontMetrics().horizontalAdvance(header->text() + "MMMM"));
  header->setCursorPosition(0);
  auto* day = Number(page, cfg_.optd, 31);
  auto* hour = Number(page, cfg_.opth, 23);
  auto* minute = Number(page, cfg_.optm, 59);
  auto* fwdmin = Number(page, cfg_.FwdMin, 59);
  auto* optimize = Switch(page, "Monthly database repair", cfg_.optimizationok);
  auto* sysop = Switch(page, "Sysop present", cfg_.sysopisin);
  auto* autobid = Switch(page, "Make BIDs for messages without one", cfg_.autobid);
  auto* fwd = Switch(page, "Forwarding", cfg_.FwdOk);
  auto* check = Switch(page, "Turn away invalid callsigns", cfg_.callvaliditycheck);
  auto* swap = Switch(page, "Swap: messages without @ go to this BBS", cfg_.swapbbs);
  auto* details = new QPushButton("Details...", page);
  form->addRow("Callsign", call);
  form->addRow("Sysop's name", name);
  form->addRow("Postal code", zip);
  form->addRow("Hierarchical address", hier);
  form->addRow("Password", pass);
  form->addRow("Forwarding header", header);
  form->addRow("Mail beacon text (MSGBEACON)", msgbeacon);
  auto* when = new QHBoxLayout;
  for (QSpinBox* b : {day, hour, minute}) when->addWidget(b);
  when->addWidget(details);
  form->addRow("Repair on day, hour, minute", when);
  form->addRow("Forwarding at minute", fwdmin);
  for (QCheckBox* box : {optimize, sysop, autobid, fwd, check, swap}) form->addRow(box);
  connect(details, &QPushButton::clicked, this, [this] {
    QDialog dialog(this);
    dialog.setWindowTitle("Database repair options");
    auto* f = new QFormLayout(&dialog);
    OptimizeOptions& o = cfg_.optimize;
    auto* killed = Switch(&dialog, "Erase killed msgs", o.Killkilled);
    auto* old = Switch(&dialog, "Erase old msgs", o.Killold);
    auto* held = Switch(&dialog, "Erase held msgs", o.Killheld);
    auto* fwded = Switch(&dialog, "Erase forwarded msgs", o.Killfwded);
    auto* yes = Switch(&dialog, "Erase read msgs", o.Killyes);
    auto* log = Switch(&dialog, "Delete log file", o.Killlog == 1);
    auto* renumber = Switch(&dialog, "Renumber msgs(use with care)", o.Renumber);
    auto* days = Number(&dialog, static_cast<long>(o.Maxdaysold), 100000);
    for (QCheckBox* box : {killed, old, held, fwded, yes, log, renumber}) f->addRow(box);
    f->addRow("Days to mark msgs as old: ('0' to inactivate.)", days);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    f->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    o.Killkilled = killed->isChecked();
    o.Killold = old->isChecked();
    o.Killheld = held->isChecked();
    o.Killfwded = fwded->isChecked();
    o.Killyes = yes->isChecked();
    o.Killlog = log->isChecked();
    o.Renumber = renumber->isChecked();
    o.Maxdaysold = static_cast<unsigned>(days->value());
    SaveOptimizeParameters(ini_, cfg_);
  });
  tabs_->addTab(page, "General");
  apply_.push_back([=, this](bool* restart) {
    // The call is registered with the engine and the store knows its own
    // address from the start: these two wait for the next.
    const std::string newCall = Cut(UpperAscii(Trim(S(call))), 15), newHier = UpperAscii(Trim(S(hier)));
    *restart |= newCall != cfg_.MyCall || newHier != cfg_.MyHier;
    cfg_.MyCall = newCall;
    cfg_.MyName = S(name);
    cfg_.MyZip = S(zip);
    cfg_.MyHier = newHier;
    cfg_.MyPass = S(pass);
    cfg_.FWDMSGHEADER = S(header);
    cfg_.optd = day->value();
    cfg_.opth = hour->value();
    cfg_.optm = minute->value();
    cfg_.optimization = std::to_string(cfg_.optd) + "," + std::to_string(cfg_.opth) + "," + std::to_string(cfg_.optm);
    cfg_.FwdMin = fwdmin->value();
    cfg_.optimizationok = optimize->isChecked();
    cfg_.sysopisin = sysop->isChecked();
    cfg_.autobid = autobid->isChecked();
    cfg_.FwdOk = fwd->isChecked();
    cfg_.callvaliditycheck = check->isChecked();
    cfg_.swapbbs = swap->isChecked();
    const std::string beacon = Cut(S(msgbeacon), 80);
    for (int p = 0; p < cfg_.maxport && p < kMaxPorts; ++p) cfg_.Ports[static_cast<size_t>(p)].msgbeacon = beacon;
    const bool beaconWritten = cfg_.maxport <= 0 || ini_.WriteString("RADIO", "MSGBEACON", beacon);
    return WritePersonalSection(ini_, cfg_) && beaconWritten;
  });
}

void PropertiesDialog::AddDirectoriesPage() {
  auto* page = new QWidget(tabs_);
  auto* form = new QFormLayout(page);
  auto* bbs = new QLineEdit(Q(cfg_.bbspath), page);
  auto* files = new QLineEdit(Q(cfg_.FilePath), page);
  auto* mail = new QLineEdit(Q(cfg_.MailPath), page);
  auto* bin = new QLineEdit(Q(cfg_.BinPath), page);
  auto* help = new QLineEdit(Q(cfg_.HelpPath), page);
  form->addRow("BBS directory", bbs);
  form->addRow("File area", files);
  form->addRow("Messages", mail);
  form->addRow("Binary files", bin);
  form->addRow("Help files", help);
  tabs_->addTab(page, "Directories");
  // The running BBS keeps the directories it started with (its texts, files
  // and stations' work are there): new ones are written for the next start.
  apply_.push_back([=, this](bool* restart) {
    Config next = cfg_;
    next.bbspath = S(bbs);
    next.FilePath = S(files);
    next.MailPath = S(mail);
    next.BinPath = S(bin);
    next.HelpPath = S(help);
    const bool changed = next.bbspath != cfg_.bbspath || next.FilePath != cfg_.FilePath ||
                         next.MailPath != cfg_.MailPath || next.BinPath != cfg_.BinPath || next.HelpPath != cfg_.HelpPath;
    if (!changed) return true;
    *restart = true;
    return WritePathSection(ini_, next);
  });
}

void PropertiesDialog::AddFilePage(const QString& title, bool help) {
  auto* page = new QWidget(tabs_);
  auto* layout = new QHBoxLayout(page);
  auto* list = new QListWidget(page);
  layout->addWidget(list, 1);
  auto* buttons = new QVBoxLayout;
  auto* add = new QPushButton("New...", page);
  auto* del = new QPushButton("Delete", page);
  auto* edit = new QPushButton("Edit...", page);
  for (QPushButton* b : {add, del, edit}) buttons->addWidget(b);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  const std::string dir = help ? ResolveCase(JoinPath(cfg_.bbspath, cfg_.HelpPath)) : cfg_.bbspath;
  auto fill = [list, dir, help] {
    list->clear();
    if (help) {
      for (const std::string& f : ListDir(dir)) list->addItem(Q(f));
    } else {
      for (const std::string& l : Languages(dir)) list->addItem(Q(l));
    }
  };
  fill();
  connect(add, &QPushButton::clicked, this, [this, dir, help, fill] {
    bool ok = false;
    const QString name = QInputDialog::getText(this, help ? "New Language help files" : "New Language",
                                               "Enter name : (Up to 8 characters long.)", QLineEdit::Normal, {}, &ok);
    if (!ok || name.trimmed().isEmpty()) return;
    if (help) {
      if (!NewHelpLanguage(dir, name.toStdString())) QMessageBox::warning(this, "Error..!!!", "Operation failed..");
    } else {
      switch (NewLanguage(dir, name.toStdString())) {
        case NewLanguageResult::kExists:
          QMessageBox::warning(this, "Error..!!!", "This language is already in the system..");
          break;
        case NewLanguageResult::kNoDefault:
          QMessageBox::warning(this, "Error..!!!", "There is no def language..");
          break;
        case NewLanguageResult::kFailed:
          QMessageBox::warning(this, "Error..!!!", "Operation failed..");
          break;
        case NewLanguageResult::kMade: break;
      }
    }
    fill();
  });
  connect(del, &QPushButton::clicked, this, [this, list, dir, help, fill] {
    if (!list->currentItem()) return;
    const QString name = list->currentItem()->text();
    if (QMessageBox::question(this, "Warning!!!", "Are you sure you want to delete the language " + name) !=
        QMessageBox::Yes)
      return;
    if (help) {
      std::remove(JoinPath(dir, name.toStdString()).c_str());
    } else {
      DeleteLanguage(dir, name.toStdString());
    }
    fill();
  });
  connect(edit, &QPushButton::clicked, this, [this, list, dir, help] {
    if (!list->currentItem()) return;
    const std::string name = list->currentItem()->text().toStdString();
    EditTextFile(this, ResolveCase(JoinPath(dir, help ? name : name + ".lng")));
  });
  tabs_->addTab(page, title);
}

void PropertiesDialog::AddLogPage() {
  auto* page = new QWidget(tabs_);
  auto* form = new QFormLayout(page);
  const LogSwitches sw = log_.switches();
  auto* on = Switch(page, "Log on", sw.Logok);
  auto* con = Switch(page, "Connections", sw.Logcon);
  auto* talk = Switch(page, "Chat requests", sw.Logtalk);
  auto* upload = Switch(page, "Uploads", sw.Logupload);
  auto* read = Switch(page, "Reading", sw.Logread);
  auto* kill = Switch(page, "Kills", sw.Logkill);
  auto* console = Switch(page, "Messages sent", sw.Logconsole);
  auto* other = Switch(page, "Other", sw.Logother);
  auto* file = new QLineEdit(Q(sw.Logfile), page);
  auto* browse = new QPushButton("Browse...", page);
  for (QCheckBox* box : {on, con, talk, upload, read, kill, console, other}) form->addRow(box);
  auto* row = new QHBoxLayout;
  row->addWidget(file, 1);
  row->addWidget(browse);
  form->addRow("Log file", row);
  connect(browse, &QPushButton::clicked, this, [this, file] {
    const QString f = QFileDialog::getOpenFileName(this, "LogFile", Q(cfg_.bbspath), "All Files (*);;Text Files (*.txt)");
    if (!f.isEmpty()) file->setText(f);
  });
  tabs_->addTab(page, "Log");
  apply_.push_back([=, this](bool*) {
    LogSwitches s = log_.switches();
    s.Logok = on->isChecked();
    s.Logcon = con->isChecked();
    s.Logtalk = talk->isChecked();
    s.Logupload = upload->isChecked();
    s.Logread = read->isChecked();
    s.Logkill = kill->isChecked();
    s.Logconsole = console->isChecked();
    s.Logother = other->isChecked();
    s.Logfile = Cut(S(file), 100);
    // The log writes a line at a time: the new settings hold from the next event.
    if (s.Logok && !s.Logfile.empty()) CreateFileIfDontExist(s.Logfile);
    log_.set_switches(s);
    return log_.SaveLog(ini_);
  });
}

void PropertiesDialog::AddColoursPage() {
  auto* page = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(page);
  Colors& k = cfg_.colors;
  const std::pair<const char*, long*> colours[] = {
      {"Monitor headers", &k.monitorHeader}, {"Monitor data", &k.monitorInfo}, {"Channel input", &k.channelInput},
      {"BBS output", &k.channelOutput}, {"Sysop's typing", &k.sysopTyping},
      {"User list", &k.userList},            {"Message list", &k.msgList},     {"Message text", &k.msgText}};
  // Each button shows its colour as it stands.
  auto swatch = [](long value) {
    QPixmap p(20, 14);
    p.fill(ColourOf(value));
    return QIcon(p);
  };
  for (const auto& [label, value] : colours) {
    auto* button = new QPushButton(swatch(*value), label, page);
    button->setObjectName(QString("colour:") + label);
    layout->addWidget(button);
    long* v = value;
    connect(button, &QPushButton::clicked, this, [this, v, button, swatch] {
      // Stored as the Windows colour value: red in the low byte.
      const QColor c = QColorDialog::getColor(ColourOf(*v), this);
      if (!c.isValid()) return;
      *v = ColourValue(c);
      button->setIcon(swatch(*v));
    });
  }
  layout->addStretch(1);
  tabs_->addTab(page, "Colours");
  apply_.push_back([this](bool*) {
    const bool ok = SaveColors(ini_, cfg_);
    if (onColoursApplied) onColoursApplied();
    return ok;
  });
}

void PropertiesDialog::AddServersPage() {
  auto* page = new QWidget(tabs_);
  auto* layout = new QHBoxLayout(page);
  auto* list = new QListWidget(page);
  for (const std::string& s : ReadServers(cfg_.bbspath)) list->addItem(Q(s));
  layout->addWidget(list, 1);
  auto* buttons = new QVBoxLayout;
  auto* add = new QPushButton("Add...", page);
  auto* del = new QPushButton("Delete", page);
  buttons->addWidget(add);
  buttons->addWidget(del);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  connect(add, &QPushButton::clicked, this, [this, list] {
    bool ok = false;
    const QString name = QInputDialog::getText(this, "Add Server", "Enter Server Name: ", QLineEdit::Normal, {}, &ok);
    if (ok && !name.trimmed().isEmpty()) list->addItem(name.trimmed().toUpper());
  });
  connect(del, &QPushButton::clicked, this, [this, list] {
    if (!list->currentItem()) return;
    if (QMessageBox::question(this, "Warning!!!", "Are you Sure you want to delete\r the selected Server???") ==
        QMessageBox::Yes)
      delete list->takeItem(list->currentRow());
  });
  tabs_->addTab(page, "Mail servers");
  apply_.push_back([this, list](bool*) {
    std::vector<std::string> servers;
    for (int i = 0; i < list->count(); ++i) servers.push_back(list->item(i)->text().toStdString());
    return WriteServers(cfg_.bbspath, servers);
  });
}

void PropertiesDialog::AddPort(Config& cfg, IniFile& ini, ActivityLog& log, QWidget* parent) {
  if (cfg.maxsport >= kMaxPorts) return;
  const int port = cfg.maxsport;
  std::string section;
  ReadSpecifiedPortFromIni(ini, cfg, port, &section);
  PropertiesDialog sheet(cfg, ini, log, parent, port);
  if (sheet.exec() != QDialog::Accepted) return;
  ++cfg.maxsport;
  ini.WriteInt("RADIO", "PORTS", cfg.maxsport);
}

}  // namespace orn
