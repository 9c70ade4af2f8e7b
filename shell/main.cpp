// zk7-programmer: the configuration editor and chip programmer.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/frmMain.h"
#include "shell/guiflow.h"
#include "shell/startup.h"
#include "shell/version.h"
#include "shell/windows.h"

int main(int argc, char** argv) {
  // Answered before any window or display connection exists.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("zk7-programmer %s\n", ZK7_VERSION);
      return 0;
    }
  QApplication app(argc, argv);
  QApplication::setApplicationName(VersionRecord::Title);
  QApplication::setApplicationVersion(ZK7_VERSION);
  QGuiApplication::setDesktopFileName(ZK7_APP_ID);
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
