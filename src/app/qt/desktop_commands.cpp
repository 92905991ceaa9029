#include "app/qt/desktop_commands.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QUrl>
#include <QVBoxLayout>
#include <vector>

#include "desktop/properties_dialog.h"
#include "store/store.h"

namespace orn {

DesktopCommands::DesktopCommands(MainWindow& window, ORNBBS& bbs, const Clock& clock)
    : window_(window), bbs_(bbs), clock_(clock) {
  // The database windows, made when first asked for; hidden, not closed.
  window_.addMenuCommand("&System", "&Users Data Base", [this] {
    if (!bbs_.store()) return;
    if (!users_) users_ = new UsersWindow(bbs_.store()->OpenDbase(), bbs_.cfg().bbspath, bbs_.client().codePages());
    window_.ShowInArea(users_);
  });
  window_.addMenuCommand("&System", "&Messages Data Base", [this] {
    if (!bbs_.store()) return;
    if (!msgs_) {
      MsgAdminContext ctx;
      ctx.store = bbs_.store();
      ctx.clock = &clock_;
      ctx.ownCall = bbs_.cfg().MyCallOut;
      ctx.autobid = bbs_.cfg().autobid;
      ctx.stationCodePage = bbs_.cfg().OEMANSI ? &bbs_.client().codePages() : nullptr;
      ctx.RemFwd = [this](long n) {
        if (bbs_.partners()) bbs_.partners()->RemFwd(n);
      };
      ctx.routingHeader = [this] {
        TChannel* monitor = bbs_.client().channel(0);
        return monitor ? monitor->Expand(bbs_.cfg().FWDMSGHEADER) : std::string();
      };
      msgs_ = new MsgWindow(std::move(ctx), bbs_.store()->OpenDbase(), bbs_.client().codePages());
    }
    window_.ShowInArea(msgs_);
  });
  window_.onUsersChanged = [this](long) {
    if (users_ && users_->isVisible()) users_->ShowAllU();
  };
  window_.onMsgsChanged = [this](long) {
    if (msgs_ && msgs_->isVisible()) msgs_->ShowAllM();
  };
  window_.addMenuCommand("&File", "&EditText", [this] {
    const QString file = QFileDialog::getOpenFileName(&window_, "EditText", QString::fromStdString(bbs_.cfg().bbspath),
                                                      "All Files (*);;Text Files (*.txt)");
    if (!file.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(file));
  });
  window_.addMenuCommand("&System", "Start FWD immediately", [this] {
    if (bbs_.partners()) bbs_.partners()->CMFwd();
  });
  window_.addMenuCommand("&System", "&Properties", [this] {
    PropertiesDialog sheet(bbs_.cfg(), bbs_.ini(), bbs_.log(), &window_);
    sheet.exec();
  });
  window_.addMenuCommand("&System", "&Add New Port",
                         [this] { PropertiesDialog::AddPort(bbs_.cfg(), bbs_.ini(), bbs_.log(), &window_); });
  window_.addMenuCommand("&System", "&BBS Services Paths", [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(bbs_.cfg().bbspath)));
  });
  window_.addMenuCommand("&System", "M&onitor Cnf", [this] {
    // Which kinds of monitored frames the monitor window shows.
    QDialog dialog(&window_);
    dialog.setWindowTitle("Monitor");
    auto* layout = new QVBoxLayout(&dialog);
    const std::pair<int, const char*> kinds[] = {
        {4, "Information frames"}, {8, "Unnumbered information"}, {16, "Supervisory frames"}, {32, "Own transmissions"}};
    std::vector<std::pair<int, QCheckBox*>> boxes;
    for (const auto& [bit, label] : kinds) {
      auto* box = new QCheckBox(label, &dialog);
      box->setChecked(bbs_.cfg().Monitor & bit);
      layout->addWidget(box);
      boxes.emplace_back(bit, box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    int monitor = 0;
    for (const auto& [bit, box] : boxes)
      if (box->isChecked()) monitor |= bit;
    bbs_.cfg().Monitor = monitor;
    SetMonConfig(bbs_.ini(), bbs_.cfg());
  });
  window_.addMenuCommand(
      "&View", "Ch&annels",
      [this] {
        channelsShown_ = !channelsShown_;
        for (int i = 1; i < bbs_.client().numberchildren; ++i) bbs_.client().channel(i)->view().SetVisible(channelsShown_);
      },
      [this] { return channelsShown_; });
  window_.addMenuCommand(
      "&View", "M&onitor",
      [this] {
        monitorShown_ = !monitorShown_;
        if (TChannel* monitor = bbs_.client().channel(0)) monitor->view().SetVisible(monitorShown_);
      },
      [this] { return monitorShown_; });
  window_.addMenuCommand("&Help", "About", [this] {
    QMessageBox::about(&window_, "About ORNBBS",
                       "ORNBBS v7.10\nMultiuser, multiport, multilingual packet-radio MailBox for Linux.");
  });
  window_.addMenuCommand(
      "&System", "&Optimizing DB",
      [this] {
        if (bbs_.optimizer()) bbs_.optimizer()->StartOptimize(true);
      },
      [this] { return bbs_.optimizer() && bbs_.optimizer()->repcheck; });
  window_.addMenuCommand(
      "&System", "OemToChar", [this] { ToggleOemAnsi(bbs_.ini(), bbs_.cfg()); }, [this] { return bbs_.cfg().OEMANSI; });
  window_.addMenuCommand(
      "&System", "CharToOem", [this] { ToggleAnsiOem(bbs_.ini(), bbs_.cfg()); }, [this] { return bbs_.cfg().ANSIOEM; });
}

DesktopCommands::~DesktopCommands() {
  // The BBS may still refresh the lists while it shuts down.
  window_.onUsersChanged = nullptr;
  window_.onMsgsChanged = nullptr;
}

}  // namespace orn
