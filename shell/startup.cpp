#include "shell/startup.h"

#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QIcon>

#include "gui/app.h"
#include "gui/seam.h"
#include "gui/windows.h"
#include "model/image.h"
#include "model/registers.h"
#include "shell/frmMain.h"
#include "shell/frmProduction.h"
#include "shell/frmSplash.h"

QIcon ApplicationIcon() {
  // The 48-pixel picture: enough for a title bar and a task switcher, and
  // quick to decode at start-up (the desktop's own icon is the theme's).
  return QIcon(QStringLiteral(":/icons/zk7-programmer-48.png"));
}

FontWarmUp::FontWarmUp() : thread_([] { FcInit(); }) {}

FontWarmUp::~FontWarmUp() {
  thread_.join();
}

frmMain* StartApplication(const QString& file) {
  QApplication::setWindowIcon(ApplicationIcon());
  RegisterAllWindows();
  zk7::SetDefaultRegisters(App().regs);
  zk7::BuildMemoryImage(App().regs, App().image);
  {
    // Start-up goes on only when the splash has been closed.
    frmSplash splash;
    Seam::instance().execModal(&splash);
  }
  auto* w = new frmMain;
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
  if (!file.isEmpty()) w->openFile(file);
  return w;
}

frmProduction* StartStation(const StationSettings& settings) {
  QApplication::setWindowIcon(ApplicationIcon());
  auto* w = new frmProduction(frmProduction::Mode::Station, settings);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
  return w;
}
