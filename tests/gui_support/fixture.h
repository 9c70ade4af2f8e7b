// A fresh application state for each GUI test: default registers, 4000 kHz,
// no windows created yet, an empty recorder seam.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "gui_support/test_seam.h"
#include "model/image.h"
#include "model/registers.h"
#include "shell/app.h"
#include "shell/windows.h"

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAllWindows();
    Windows::instance().destroyAll();
    zk7::SetDefaultRegisters(App().regs);
    zk7::BuildMemoryImage(App().regs, App().image);
    App().Fosc = 4000000.0;
    App().ChipConfigWord = 0;
    testSeam().clear();
  }
  void TearDown() override {
    Windows::instance().destroyAll();
    testSeam().clear();
    QApplication::processEvents();
  }
  zk7::RegisterSet& regs() { return App().regs; }
};
