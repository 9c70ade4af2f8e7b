// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/startup.h"

#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QIcon>
#include <cstdio>

#include "gui/app.h"
#include "gui/guiflow.h"
#include "gui/seam.h"
#include "gui/windows.h"
#include "model/image.h"
#include "model/registers.h"
#include "shell/commandline.h"
#include "shell/frmMain.h"
#include "shell/frmProduction.h"
#include "shell/frmSplash.h"
#include "shell/version.h"

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

int RunWindowProgram(int argc, char** argv, const WindowProgramHooks& hooks) {
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
  const bool station = commandLine.isSet("production");
  if (hooks.beforeFirstWindow) hooks.beforeFirstWindow(station);
  QWidget* first = station ? static_cast<QWidget*>(StartStation(commandLine.station()))
                           : StartApplication(commandLine.file());
  if (hooks.firstWindow) hooks.firstWindow(first);
  const int rc = app.exec();
  // Closing the main window (or the station's) ends the process; the hidden editors go with it.
  Windows::instance().destroyAll();
  return rc;
}
