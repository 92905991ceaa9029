#include <gtest/gtest.h>

#include <QLineEdit>
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

}  // namespace
}  // namespace orn
