#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <memory>
#include <vector>

#include "desktop/properties_dialog.h"
#include "platform/clock.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::ScopedChdir;
using test::TestDir;

// A sheet on ORN.INI in a directory of its own, with the notices it gives.
struct Sheet {
  explicit Sheet(const std::string& ini) : cd(dir.path()) {
    dir.Write("ORN.INI", ini);
    file = std::make_unique<IniFile>(dir / "ORN.INI");
    VarInit(cfg);
    ReadPersonalSection(*file, cfg);
    ReadRadioSection(*file, cfg);
    ReadPathSection(*file, cfg);
    ReadPortTable(*file, cfg);
    cfg.bbspath = dir.path();
    sheet = std::make_unique<PropertiesDialog>(cfg, *file, log);
    sheet->notify = [this](const QString& caption, const QString& text) {
      notices.push_back(caption + ": " + text);
    };
  }
  IniFile Written() const { return IniFile(dir / "ORN.INI"); }
  QWidget* Page(const QString& title) const {
    for (int i = 0; i < sheet->tabs()->count(); ++i)
      if (sheet->tabs()->tabText(i) == title) return sheet->tabs()->widget(i);
    return nullptr;
  }

  TestDir dir;
  ScopedChdir cd;
  std::unique_ptr<IniFile> file;
  Config cfg;
  FakeClock clock;
  ActivityLog log{clock};
  std::unique_ptr<PropertiesDialog> sheet;
  std::vector<QString> notices;
};

const char* const kRestart = "Info: You have to restart BBS Server\n for changes to take effect.";

TEST(PropertiesDialogTest, ApplyWritesTheIniAndAsksForARestartOnlyWhenOneIsNeeded) {
  Sheet s("[PERSONAL]\r\nMYCALL=XX9ORN-1\r\n; kept\r\n[RADIO]\r\nPORTS=1\r\n");
  ASSERT_EQ(s.sheet->tabs()->tabText(0), "Port 1");
  ASSERT_EQ(s.sheet->tabs()->tabText(1), "General");
  // Nothing changed: written, and nothing waits for a restart.
  EXPECT_TRUE(s.sheet->Apply());
  EXPECT_TRUE(s.notices.empty());
  // Settings read as they are needed take effect at once.
  s.Page("General")->findChild<QLineEdit*>("MSGBEACON")->setText("Mail for: $q");
  EXPECT_TRUE(s.sheet->Apply());
  EXPECT_TRUE(s.notices.empty());
  // The first line edit of the general page is the callsign: the engine
  // knows the BBS by it from the start.
  QLineEdit* call = s.Page("General")->findChild<QLineEdit*>();
  call->setText("xx8new-2");
  EXPECT_TRUE(s.sheet->Apply());
  EXPECT_EQ(s.cfg.MyCall, "XX8NEW-2");
  EXPECT_EQ(s.Written().GetString("PERSONAL", "MYCALL", ""), "XX8NEW-2");
  EXPECT_NE(s.dir.Read("ORN.INI").find("; kept"), std::string::npos);
  ASSERT_EQ(s.notices.size(), 1u);
  EXPECT_EQ(s.notices[0], kRestart);
  // So do a port's channels.
  s.notices.clear();
  s.Page("Port 1")->findChildren<QSpinBox*>()[0]->setValue(3);
  EXPECT_TRUE(s.sheet->Apply());
  EXPECT_EQ(s.notices, std::vector<QString>{kRestart});
}

TEST(PropertiesDialogTest, ThePortPageKeepsTheEnginesPortNumberAndTheMailBeaconTextIsOneForAll) {
  // BBS port 0 is Direwolf's channel 1.
  Sheet s("[RADIO]\r\nPORTS=2\r\nMSGBEACON=Mail:\r\n[PORT0]\r\nPORTNUM=1\r\nCHANNELS=2\r\n[PORT1]\r\nPORTNUM=2\r\n");
  auto* portnum = s.Page("Port 1")->findChild<QSpinBox*>("PORTNUM");
  ASSERT_NE(portnum, nullptr);
  EXPECT_EQ(portnum->value(), 1);
  // The mail beacon's text is one key: no port page edits it.
  EXPECT_EQ(s.Page("Port 1")->findChild<QLineEdit*>("MSGBEACON"), nullptr);
  EXPECT_EQ(s.Page("Port 2")->findChild<QLineEdit*>("MSGBEACON"), nullptr);
  auto* msgbeacon = s.Page("General")->findChild<QLineEdit*>("MSGBEACON");
  ASSERT_NE(msgbeacon, nullptr);
  EXPECT_EQ(msgbeacon->text(), "Mail:");

  ASSERT_TRUE(s.sheet->Apply());
  EXPECT_EQ(s.Written().GetInt("PORT0", "PORTNUM", -1), 1);
  EXPECT_EQ(s.Written().GetString("RADIO", "MSGBEACON", ""), "Mail:");
  portnum->setValue(3);
  msgbeacon->setText("Mail for: $q");
  ASSERT_TRUE(s.sheet->Apply());
  EXPECT_EQ(s.Written().GetInt("PORT0", "PORTNUM", -1), 3);
  EXPECT_EQ(s.Written().GetString("RADIO", "MSGBEACON", ""), "Mail for: $q");
  EXPECT_EQ(s.cfg.Ports[0].msgbeacon, "Mail for: $q");
  EXPECT_EQ(s.cfg.Ports[1].msgbeacon, "Mail for: $q");
}

TEST(PropertiesDialogTest, NewDirectoriesWaitForTheNextStart) {
  Sheet s("[PATH]\r\nMAILPATH=MAIL\r\nFILEPATH=FILES\r\n[RADIO]\r\nPORTS=1\r\n");
  QWidget* page = s.Page("Directories");
  ASSERT_NE(page, nullptr);
  // The second line edit is the file area.
  page->findChildren<QLineEdit*>()[1]->setText("AREA");
  EXPECT_TRUE(s.sheet->Apply());
  EXPECT_EQ(s.Written().GetString("PATH", "FILEPATH", ""), "AREA");
  // The running BBS keeps serving the one it started with.
  EXPECT_EQ(s.cfg.FilePath, "FILES");
  EXPECT_EQ(s.notices, std::vector<QString>{kRestart});
}

}  // namespace
}  // namespace orn
