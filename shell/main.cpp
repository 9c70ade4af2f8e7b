// zk7-programmer: the configuration editor and chip programmer.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "shell/frmMain.h"
#include "shell/guiflow.h"
#include "shell/startup.h"
#include "shell/version.h"
#include "shell/windows.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(VersionRecord::Title);
  QApplication::setApplicationVersion("1.1.0");
  WatchTerminationSignals(&app);
  // For tests that run the real program: ZK7_TEST_CLICK=NAME closes the
  // splash, then clicks the main window's button of that objectName.
  const char* testClick = std::getenv("ZK7_TEST_CLICK");
  if (testClick && *testClick)
    QTimer::singleShot(0, [] {
      if (QWidget* splash = QApplication::activeModalWidget()) splash->close();
    });
  frmMain* w = StartApplication();
  if (testClick && *testClick)
    QTimer::singleShot(0, w, [w, testClick] {
      if (auto* button = w->findChild<QPushButton*>(testClick)) button->click();
    });
  const int rc = app.exec();
  // Closing the main window ends the process; the hidden editors go with it.
  Windows::instance().destroyAll();
  return rc;
}
