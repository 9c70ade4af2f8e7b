// zk7-programmer: the configuration editor and chip programmer.
#include <QApplication>

#include "shell/startup.h"
#include "shell/version.h"
#include "shell/windows.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(VersionRecord::Title);
  QApplication::setApplicationVersion("1.1.0");
  StartApplication();
  const int rc = app.exec();
  // Closing the main window ends the process; the hidden editors go with it.
  Windows::instance().destroyAll();
  return rc;
}
