#include "desktop/desktop_layout.h"

#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>

#include "desktop/main_window.h"
#include "desktop/tile_layout.h"

namespace orn {
namespace {

const char* const kWindows = "windows";

}  // namespace

QString DesktopLayoutFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/ornbbs/desktop.ini";
}

QString DesktopLayoutGroup(const QString& bbsDir) {
  // A group name may not hold "/": the path is written as a URL would.
  return QString::fromLatin1(QUrl::toPercentEncoding(QDir(bbsDir).absolutePath()));
}

void SaveMainPlace(QSettings& s, const MainWindow& w) {
  s.setValue("main/geometry", w.saveGeometry());
  s.setValue("main/state", w.saveState());
}

bool RestoreMainPlace(QSettings& s, MainWindow& w) {
  if (!s.contains("main/geometry")) return false;
  w.restoreGeometry(s.value("main/geometry").toByteArray());
  w.restoreState(s.value("main/state").toByteArray());
  return true;
}

void SaveWindowPlaces(QSettings& s, MainWindow& w) {
  s.remove(kWindows);
  s.beginGroup(kWindows);
  QMdiSubWindow* active = w.mdiArea()->activeSubWindow();
  int order = 0;
  for (QMdiSubWindow* sub : w.mdiArea()->subWindowList(QMdiArea::StackingOrder)) {
    const QString name = sub->objectName();
    if (name.isEmpty()) continue;
    s.beginGroup(name);
    s.setValue("order", order++);
    s.setValue("shown", sub->isVisible());
    s.setValue("geometry", sub->geometry());
    s.setValue("minimized", sub->isMinimized());
    s.setValue("maximized", sub->isMaximized());
    s.setValue("active", sub == active);
    s.endGroup();
  }
  s.endGroup();
}

bool RestoreWindowPlaces(QSettings& s, MainWindow& w, const std::function<void(const QString&, bool)>& show) {
  s.beginGroup(kWindows);
  const QStringList names = s.childGroups();
  for (const QString& name : names) show(name, s.value(name + "/shown").toBool());
  QList<QMdiSubWindow*> subs;
  for (QMdiSubWindow* sub : w.mdiArea()->subWindowList())
    if (names.contains(sub->objectName()) && sub->isVisible()) subs << sub;
  // In their saved stacking order, the lowest first, each raised in turn.
  auto order = [&](QMdiSubWindow* sub) { return s.value(sub->objectName() + "/order").toInt(); };
  std::stable_sort(subs.begin(), subs.end(), [&](QMdiSubWindow* a, QMdiSubWindow* b) { return order(a) < order(b); });
  QMdiSubWindow* active = nullptr;
  const QSize area = w.mdiArea()->viewport()->size();
  for (QMdiSubWindow* sub : subs) {
    sub->raise();
    s.beginGroup(sub->objectName());
    if (s.value("maximized").toBool()) {
      sub->showMaximized();
    } else {
      sub->showNormal();
      sub->setGeometry(InsideArea(s.value("geometry").toRect(), area));
      if (s.value("minimized").toBool()) sub->showMinimized();
    }
    if (s.value("active").toBool()) active = sub;
    s.endGroup();
  }
  s.endGroup();
  if (active) w.mdiArea()->setActiveSubWindow(active);
  return !names.isEmpty();
}

}  // namespace orn
