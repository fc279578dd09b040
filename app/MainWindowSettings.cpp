// What the main window keeps between runs: "quenmark.ini" (section "Palkor": Left, Top,
// Width, Height, WS, Filter, BackColour; one section per toolbar for its place), where the
// catalogue cache and the filter file are.
#include "app/MainWindow.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace palkor {

namespace {

// Everything up to the extension of the program's path, for its ".filter" and ".cache".
std::string ProgramPathWithExtension(const std::string& extension) {
  std::string path = ProgramPath();
  size_t slash = path.rfind('/'), dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
  return path + extension;
}

const char* AreaName(Qt::ToolBarArea area) {
  switch (area) {
  case Qt::TopToolBarArea:
    return "Top";
  case Qt::BottomToolBarArea:
    return "Bottom";
  case Qt::LeftToolBarArea:
    return "Left";
  case Qt::RightToolBarArea:
    return "Right";
  default:
    return "";
  }
}

Qt::ToolBarArea AreaOf(const QString& name, Qt::ToolBarArea fallback) {
  if (name == "Top") return Qt::TopToolBarArea;
  if (name == "Bottom") return Qt::BottomToolBarArea;
  if (name == "Left") return Qt::LeftToolBarArea;
  if (name == "Right") return Qt::RightToolBarArea;
  return fallback;
}

} // namespace

TPalkorPaths TPalkorPaths::Default() {
  auto folder = [](QStandardPaths::StandardLocation location) {
    QString path = QStandardPaths::writableLocation(location);
    QDir().mkpath(path);
    return path;
  };
  const QString config = folder(QStandardPaths::GenericConfigLocation);
  TPalkorPaths paths;
  paths.Settings = QFile::encodeName(config + "/quenmark.ini").toStdString();
  paths.Cache =
      QFile::encodeName(folder(QStandardPaths::CacheLocation) + "/palkor.cache").toStdString();
  // A filter file of the user's own comes first; the one installed with the program else.
  const QString own = config + "/palkor.filter";
  paths.Filter = QFileInfo::exists(own) ? QFile::encodeName(own).toStdString()
                                        : ProgramPathWithExtension(".filter");
  return paths;
}

void TMainWindow::LoadToolbarLayout(QToolBar* toolbar, Qt::ToolBarArea defaultArea,
                                    int defaultRow) {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.beginGroup(toolbar->objectName());
  // The design's keys place each toolbar by its area and row; the toolkit's own record
  // (RestoreToolbarState), written beside them, then puts back order, positions and a
  // floating toolbar as it was. "Model details" starts docked at the top rather than
  // floating: the toolkit cannot float a toolbar that was never floated.
  QString docked = ini.value("DockedTo").toString();
  Qt::ToolBarArea area =
      AreaOf(docked.isEmpty() ? ini.value("LastDock").toString() : docked, defaultArea);
  if (ini.value("DockRow", defaultRow).toInt() > 0) addToolBarBreak(area);
  addToolBar(area, toolbar);
  toolbar->setVisible(ini.value("Visible", 1).toInt() != 0);
  ini.endGroup();
}

void TMainWindow::SaveToolbarLayout(QToolBar* toolbar) {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.beginGroup(toolbar->objectName());
  Qt::ToolBarArea area = toolBarArea(toolbar);
  bool floating = toolbar->isFloating();
  ini.setValue("Rev", 1);
  ini.setValue("Visible", toolbar->isVisibleTo(this) ? 1 : 0);
  ini.setValue("DockedTo", floating ? QString() : QString(AreaName(area)));
  ini.setValue("LastDock", AreaName(area));
  ini.setValue("DockRow", toolBarBreak(toolbar) ? 1 : 0);
  bool vertical = area == Qt::LeftToolBarArea || area == Qt::RightToolBarArea;
  ini.setValue("DockPos", vertical ? toolbar->y() : toolbar->x());
  ini.setValue("FloatLeft", toolbar->x());
  ini.setValue("FloatTop", toolbar->y());
  ini.endGroup();
}

// Beside the design's keys, which stay written, the toolkit's own record of the toolbars:
// rows, order, floating state and positions.
void TMainWindow::RestoreToolbarState() {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  const QByteArray state = ini.value("Palkor/ToolbarState").toByteArray();
  if (!state.isEmpty()) restoreState(state);
}

QStringList TMainWindow::RecentArchives() const {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  return ini.value("Palkor/Recent").toStringList();
}

std::string TMainWindow::KeptFolder(const char* key) const {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  return QFile::encodeName(ini.value(QString("Palkor/") + key).toString()).toStdString();
}

void TMainWindow::KeepFolder(const char* key, const std::string& folder) {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.setValue(QString("Palkor/") + key, QFile::decodeName(folder.c_str()));
}

void TMainWindow::AddRecentArchive(const std::string& path) {
  QString entry = QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath();
  if (path.size() > 1 && path.back() == '/' && !entry.endsWith('/')) entry += '/';
  QStringList recent = RecentArchives();
  recent.removeAll(entry);
  recent.prepend(entry);
  while (recent.size() > 8) recent.removeLast();
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.setValue("Palkor/Recent", recent);
}

void TMainWindow::ForgetRecentArchive(const std::string& path) {
  QStringList recent = RecentArchives();
  recent.removeAll(QFile::decodeName(path.c_str()));
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.setValue("Palkor/Recent", recent);
}

void TMainWindow::LoadSettings() {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.beginGroup("Palkor");
  // Left and Top are the window's frame, as move() places it.
  FCentre = !ini.contains("Left") || !ini.contains("Top");
  move(ini.value("Left", x()).toInt(), ini.value("Top", y()).toInt());
  resize(ini.value("Width", width()).toInt(), ini.value("Height", height()).toInt());
  switch (ini.value("WS", 0).toInt()) {
  case 1:
    setWindowState(Qt::WindowMinimized);
    break;
  case 2:
    setWindowState(Qt::WindowMaximized);
    break;
  default:
    break;
  }
  chkFilter->setChecked(ini.value("Filter", 0).toInt() != 0);
  frmViewer->Session().Options.BackColour = uint32_t(ini.value("BackColour", 3375104).toLongLong());
  ini.endGroup();
}

void TMainWindow::SaveSettings() {
  QSettings ini(QFile::decodeName(FPaths.Settings.c_str()), QSettings::IniFormat);
  ini.beginGroup("Palkor");
  QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  // The frame's place, which move() takes back at the next start: the client area's
  // place would put the window lower by its title bar at every start.
  const QPoint frame = normal.topLeft() - (geometry().topLeft() - pos());
  ini.setValue("Left", frame.x());
  ini.setValue("Top", frame.y());
  ini.setValue("Width", normal.width());
  ini.setValue("Height", normal.height());
  ini.setValue("WS", isMinimized() ? 1 : isMaximized() ? 2 : 0);
  ini.setValue("Filter", chkFilter->isChecked() ? 1 : 0);
  ini.setValue("BackColour", qlonglong(BackColour()));
  ini.setValue("ToolbarState", saveState());
  ini.endGroup();
}

} // namespace palkor
