#pragma once

// What the window tests share: a folder with the demo archives and filter file, dialogs
// answered from a script, and the main window started on them.
#include "app/MainWindow.h"
#include "fixtures/Demo.h"
#include "fixtures/TempDir.h"
#include "platform/Dialogs.h"
#include "tests/gui/ScriptedDialogs.h"

#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <memory>

namespace palkor::testing {

// The child of parent named name: a window's widgets are its own, and tests find them by
// their object names.
template <typename T>
T* Child(const QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (!child) qFatal("no %s named %s", T::staticMetaObject.className(), name);
  return child;
}

class TWindowTestBase {
protected:
  fixtures::TTempDir* Dir = nullptr;
  TScriptedDialogs* Script = nullptr;

  // For each test function's init and cleanup.
  void BeginTest() {
    Dir = new fixtures::TTempDir();
    Script = new TScriptedDialogs();
    SetDialogs(Script);
    fixtures::WriteDemoFiles(Dir->Path());
  }
  void EndTest() {
    SetDialogs(nullptr);
    delete Script;
    delete Dir;
  }

  // Settings, filter file and cache in the test's folder.
  TPalkorPaths Paths() const {
    TPalkorPaths paths;
    paths.Settings = Dir->File("quenmark.ini");
    paths.Filter = Dir->File("palkor.filter");
    paths.Cache = Dir->File("palkor.cache");
    return paths;
  }
  std::unique_ptr<TMainWindow> Start() {
    auto main = std::make_unique<TMainWindow>(Paths());
    main->show();
    if (!QTest::qWaitForWindowExposed(main.get())) qWarning("the main window was not exposed");
    return main;
  }
  // The status panel's whole text: its tip when the panel shows it cut.
  static QString StatusOf(const QWidget& main) {
    const QLabel* status = Child<QLabel>(&main, "pStatus");
    return status->toolTip().isEmpty() ? status->text() : status->toolTip();
  }
  // The model and animation chosen in the lists, as a user would.
  static void Show(TMainWindow& main, const char* model, const char* anim) {
    Child<QComboBox>(&main, "cmbModels")
        ->setCurrentIndex(Child<QComboBox>(&main, "cmbModels")->findText(model));
    if (anim)
      Child<QComboBox>(&main, "cmbAnims")
          ->setCurrentIndex(Child<QComboBox>(&main, "cmbAnims")->findText(anim));
  }
};

} // namespace palkor::testing

using palkor::testing::Child;
