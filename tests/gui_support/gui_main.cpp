// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Main of the GUI test programs: a QApplication on the offscreen platform (or the
// one asked for in QT_QPA_PLATFORM) with a small screen, the test seam installed,
// and the emulated chip chosen explicitly.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gui_support/test_seam.h"
#include "support/temp_dir.h"

int main(int argc, char** argv) {
  // One screen of a small laptop, 1024 x 600: lower than the main window and
  // narrower than the CAN window, as the windows must cope with.
  const TempDir tmp("zk7_gui");
  const std::string screens = tmp.path("screen.json");
  std::ofstream(screens) << R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1024,
      "height": 600, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
  // A run asked for on another platform (tools/test.sh runs them once more in
  // a headless weston) keeps it; otherwise the offscreen laptop screen.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform).rfind("offscreen", 0) == 0)
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).c_str(), 1);
  setenv("ZK7_PORT", "emulator", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  Seam::set(&testSeam());
  const int result = RUN_ALL_TESTS();
  return result;
}
