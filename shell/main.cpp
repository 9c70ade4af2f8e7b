// zk7-programmer: the configuration editor and chip programmer.
#include <QApplication>
#include <cstdio>
#include <cstring>

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
  StartApplication();
  const int rc = app.exec();
  // Closing the main window ends the process; the hidden editors go with it.
  Windows::instance().destroyAll();
  return rc;
}
