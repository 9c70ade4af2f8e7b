// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The process entry's work: defaults, image, the splash (modal), then the
// main window shown, and the file given on the command line (if any) loaded.
#pragma once

#include <QString>
#include <functional>
#include <thread>

class QIcon;
class QWidget;
class frmMain;

// What a test program adds to the window program; zk7-programmer adds nothing.
struct WindowProgramHooks {
  // Just before the first window is made (station: the production window's).
  std::function<void(bool station)> beforeFirstWindow;
  // Once the first window is made, before the event loop runs.
  std::function<void(QWidget* first)> firstWindow;
};
// The whole of zk7-programmer: the command line, the QApplication, the first
// window, the event loop; returns the exit status.
int RunWindowProgram(int argc, char** argv, const WindowProgramHooks& hooks = {});

// The program's icon, which every window carries (the desktop's is the
// installed theme icon of the same pictures).
QIcon ApplicationIcon();

frmMain* StartApplication(const QString& file = QString());

// Reads the system's font configuration on a thread of its own while the
// process connects to the display: the first window needs it, and reading it
// (tens of files) takes about as long as the rest of that window. Made before
// the QApplication; the thread is joined when the object goes.
class FontWarmUp {
 public:
  FontWarmUp();
  ~FontWarmUp();
  FontWarmUp(const FontWarmUp&) = delete;
  FontWarmUp& operator=(const FontWarmUp&) = delete;

 private:
  std::thread thread_;
};

class frmProduction;
struct StationSettings;

// zk7-programmer --production: no splash and no main window, only the
// production window, started with these settings (the command line has
// checked them).
frmProduction* StartStation(const StationSettings& settings);
