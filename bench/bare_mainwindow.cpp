// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The comparison for the start-up benchmark: a plain QMainWindow with a menu
// bar, a label and a status bar, shown; the process ends as soon as the window
// is on the screen.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow w;
  w.menuBar()->addMenu("&File")->addAction("E&xit");
  w.menuBar()->addMenu("&Help")->addAction("&About");
  w.setCentralWidget(new QLabel("ZK7 Programmer"));
  w.statusBar()->showMessage("Ready");
  w.resize(795, 624);
  w.show();
  QElapsedTimer t;
  t.start();
  while (!(w.windowHandle() && w.windowHandle()->isExposed()) && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  return 0;
}
