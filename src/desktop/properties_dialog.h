// The "Properties" sheet: one page per radio port, then the general,
// directories, languages, help files, log, colours and mail-servers pages.
// Apply writes ORN.INI (or the files a page edits); ports, identity and
// paths take effect at the next start, the log at once.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "context/activity_log.h"
#include "context/config.h"
#include "platform/ini_file.h"

class QTabWidget;

namespace orn {

class PropertiesDialog : public QDialog {
  Q_OBJECT
 public:
  // With `onlyPort`, the sheet holds that port's page alone.
  PropertiesDialog(Config& cfg, IniFile& ini, ActivityLog& log, QWidget* parent = nullptr, int onlyPort = -1);
  // Writes every page; true when everything was written.
  bool Apply();
  // Where the sheet's notices go (a message box unless replaced).
  std::function<void(const QString& caption, const QString& text)> notify;
  QTabWidget* tabs() { return tabs_; }
  // The colours were applied: the windows take them at once.
  std::function<void()> onColoursApplied;

  // The "New Port" sheet: the page of port `maxsport`; on OK RADIO/PORTS
  // grows by one. Nothing when ten ports exist.
  static void AddPort(Config& cfg, IniFile& ini, ActivityLog& log, QWidget* parent);

 private:
  void AddPortPage(int port);
  void AddGeneralPage();
  void AddDirectoriesPage();
  void AddFilePage(const QString& title, bool help);
  void AddLogPage();
  void AddColoursPage();
  void AddServersPage();

  Config& cfg_;
  IniFile& ini_;
  ActivityLog& log_;
  QTabWidget* tabs_;
  // Each page's Apply; true for pages whose change waits for a restart.
  std::vector<std::function<bool(bool* restart)>> apply_;
};

}  // namespace orn
