// zk7-programmer: the configuration editor and chip programmer.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "gui/guiflow.h"
#include "gui/windows.h"
#include "shell/commandline.h"
#include "shell/frmMain.h"
#include "shell/frmProduction.h"
#include "shell/startup.h"
#include "shell/version.h"

int main(int argc, char** argv) {
  // --help and --version are answered before any window or display connection exists.
  if (const int status = AnswerWithoutDisplay(argc, argv); status >= 0) return status;
  const FontWarmUp fonts;
  QApplication app(argc, argv);
  QApplication::setApplicationName(VersionRecord::Title);
  QApplication::setApplicationVersion(ZK7_VERSION);
  QGuiApplication::setDesktopFileName(ZK7_APP_ID);
  // What is left once Qt has taken its own options.
  WindowCommandLine commandLine;
  QString error;
  if (!commandLine.parse(QApplication::arguments(), error)) {
    std::fprintf(stderr, "zk7-programmer: %s\nTry 'zk7-programmer --help'.\n", qPrintable(error));
    return 2;
  }
  WatchTerminationSignals(&app);
  // For tests that run the real program: ZK7_TEST_CLICK=NAME closes the
  // splash, then clicks the first window's button of that objectName.
  const char* testClick = std::getenv("ZK7_TEST_CLICK");
  QWidget* w = nullptr;
  if (commandLine.isSet("production")) {
    w = StartStation(commandLine.station());
  } else {
    if (testClick && *testClick)
      QTimer::singleShot(0, [] {
        if (QWidget* splash = QApplication::activeModalWidget()) splash->close();
      });
    w = StartApplication(commandLine.file());
  }
  if (testClick && *testClick)
    QTimer::singleShot(0, w, [w, testClick] {
      if (auto* button = w->findChild<QPushButton*>(testClick)) button->click();
    });
  const int rc = app.exec();
  // Closing the main window (or the station's) ends the process; the hidden editors go with it.
  Windows::instance().destroyAll();
  return rc;
}
