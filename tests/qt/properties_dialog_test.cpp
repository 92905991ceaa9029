#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>

#include "desktop/properties_dialog.h"
#include "platform/clock.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::ScopedChdir;
using test::TestDir;

TEST(PropertiesDialogTest, ApplyWritesTheIniAndAsksForARestart) {
  TestDir dir;
  ScopedChdir cd(dir.path());
  dir.Write("ORN.INI", "[PERSONAL]\r\nMYCALL=XX9ORN-1\r\n; kept\r\n");
  IniFile ini(dir / "ORN.INI");
  Config cfg;
  VarInit(cfg);
  ReadPersonalSection(ini, cfg);
  cfg.bbspath = dir.path();
  cfg.maxport = 1;
  FakeClock clock;
  ActivityLog log(clock);
  PropertiesDialog sheet(cfg, ini, log);
  std::vector<QString> notices;
  sheet.notify = [&](const QString& caption, const QString& text) { notices.push_back(caption + ": " + text); };
  ASSERT_EQ(sheet.tabs()->tabText(0), "Port 1");
  ASSERT_EQ(sheet.tabs()->tabText(1), "General");

  // The first line edit of the general page is the callsign.
  QLineEdit* call = sheet.tabs()->widget(1)->findChild<QLineEdit*>();
  ASSERT_NE(call, nullptr);
  call->setText("xx8new-2");
  EXPECT_TRUE(sheet.Apply());
  EXPECT_EQ(cfg.MyCall, "XX8NEW-2");
  EXPECT_EQ(IniFile(dir / "ORN.INI").GetString("PERSONAL", "MYCALL", ""), "XX8NEW-2");
  EXPECT_NE(dir.Read("ORN.INI").find("; kept"), std::string::npos);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], "Info: You have to restart BBS Server\n for changes to take effect.");
}

TEST(PropertiesDialogTest, ThePortPageKeepsTheEnginesPortNumberAndWritesTheMailBeaconText) {
  TestDir dir;
  ScopedChdir cd(dir.path());
  // BBS port 0 is Direwolf's channel 1.
  dir.Write("ORN.INI", "[RADIO]\r\nPORTS=1\r\n[PORT0]\r\nPORTNUM=1\r\nCHANNELS=2\r\n");
  IniFile ini(dir / "ORN.INI");
  Config cfg;
  VarInit(cfg);
  ReadRadioSection(ini, cfg);
  std::string section;
  ReadSpecifiedPortFromIni(ini, cfg, 0, &section);
  cfg.bbspath = dir.path();
  FakeClock clock;
  ActivityLog log(clock);
  PropertiesDialog sheet(cfg, ini, log);
  sheet.notify = [](const QString&, const QString&) {};
  QWidget* page = sheet.tabs()->widget(0);
  auto* portnum = page->findChild<QSpinBox*>("PORTNUM");
  auto* msgbeacon = page->findChild<QLineEdit*>("MSGBEACON");
  ASSERT_NE(portnum, nullptr);
  ASSERT_NE(msgbeacon, nullptr);
  EXPECT_EQ(portnum->value(), 1);

  ASSERT_TRUE(sheet.Apply());
  EXPECT_EQ(IniFile(dir / "ORN.INI").GetInt("PORT0", "PORTNUM", -1), 1);
  portnum->setValue(3);
  msgbeacon->setText("Mail for: $q");
  ASSERT_TRUE(sheet.Apply());
  EXPECT_EQ(IniFile(dir / "ORN.INI").GetInt("PORT0", "PORTNUM", -1), 3);
  EXPECT_EQ(IniFile(dir / "ORN.INI").GetString("RADIO", "MSGBEACON", ""), "Mail for: $q");
}

}  // namespace
}  // namespace orn
