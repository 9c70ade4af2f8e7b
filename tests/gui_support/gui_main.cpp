// Main of the GUI test programs: a QApplication on the offscreen platform,
// the test seam installed, and the emulated chip chosen explicitly.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "gui_support/test_seam.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("ZK7_PORT", "emulator", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  Seam::set(&testSeam());
  return RUN_ALL_TESTS();
}
