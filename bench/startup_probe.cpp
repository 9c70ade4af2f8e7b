// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The application's start-up as the benchmark times it: the same entry as
// zk7-programmer, with the splash closed at once, ending as soon as the main
// window is on the screen.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QWindow>

#include "bench/auto_seam.h"
#include "gui/seam.h"
#include "shell/frmMain.h"
#include "shell/startup.h"
#include "shell/version.h"

int main(int argc, char** argv) {
  const FontWarmUp fonts;
  QApplication app(argc, argv);
  QApplication::setApplicationName(VersionRecord::Title);
  AutoSeam seam;
  Seam::set(&seam);
  frmMain* w = StartApplication();
  QElapsedTimer t;
  t.start();
  while (!(w->windowHandle() && w->windowHandle()->isExposed()) && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  return 0;
}
