// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A fresh application state for each GUI test: default registers, 4000 kHz,
// no windows created yet, an empty recorder seam.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "gui/app.h"
#include "gui/windows.h"
#include "gui_support/test_seam.h"
#include "model/image.h"
#include "model/registers.h"

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
  // Exactly one message was shown, with this title, icon and text (or a longer one it begins).
  static void expectMessage(const QString& title, const QString& text, Seam::Icon icon,
                            bool prefix = false) {
    const auto& m = testSeam().messages;
    ASSERT_EQ(m.size(), 1u) << title.toStdString();
    EXPECT_EQ(m[0].title, title) << m[0].title.toStdString();
    EXPECT_EQ(m[0].icon, icon) << m[0].title.toStdString();
    if (!prefix) {
      EXPECT_EQ(m[0].text, text);
    } else {
      EXPECT_TRUE(m[0].text.startsWith(text)) << m[0].text.toStdString();
      EXPECT_GT(m[0].text.size(), text.size()) << m[0].text.toStdString();
    }
  }
  // The window shown afresh, as its opener shows it.
  template <class T>
  T* shown(WindowId id) {
    T* w = window<T>(id);
    w->hide();
    w->show();
    QApplication::processEvents();
    return w;
  }
};
