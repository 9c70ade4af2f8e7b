// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A main window on a fresh application state, with the waits of flows and
// the result label's blinking replaced by a recorder so tests run at once.
#pragma once

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "gui/guiflow.h"
#include "gui_support/fixture.h"
#include "shell/frmMain.h"
#include "support/emulated_chip.h"

class ShellTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    emulator = UseEmulatedChip(App().port);
    waits.clear();
    SetGuiWait([this](int ms) {
      waits.push_back(ms);
      if (onWait) onWait(ms);
    });
  }
  void TearDown() override {
    main.reset();
    App().port.setSystem(zk7::PortSystem());
    std::string ignored;
    App().port.setTraceFile("", ignored);
    SetGuiWait(nullptr);
    onWait = nullptr;
    GuiTest::TearDown();
  }
  void createMain(bool show = true) {
    main = std::make_unique<frmMain>();
    if (show) {
      main->show();
      main->activateWindow();
      (void)QTest::qWaitForWindowActive(main.get());
    }
  }
  // A machine whose kernel lists parallel ports at 0x378 and 0xD010 (a PCIe
  // card); the port layer and the Port menu look there. Returns its /dev.
  std::string useMachineWithCard() {
    const std::string root = dir.path().toStdString();
    for (const auto& [name, base] : {std::pair{"parport0", "888"}, {"parport1", "53264"}}) {
      std::filesystem::create_directories(root + "/proc/" + name);
      std::ofstream(root + "/proc/" + name + "/base-addr") << base;
    }
    App().port.setSystem(zk7::PortSystem{root + "/proc", root + "/dev"});
    return root + "/dev";
  }

  QTemporaryDir dir;
  std::unique_ptr<frmMain> main;
  zk7::EmulatorDriver* emulator = nullptr;
  std::vector<int> waits;
  std::function<void(int)> onWait;
};

// For one test, a plain stand-in replaces an editor (none: no editor at all).
class StandInWindow {
 public:
  explicit StandInWindow(WindowId id, bool none = false)
      : id_(id), saved_(Windows::instance().factory(id)) {
    none ? Windows::instance().unregisterFactory(id)
         : Windows::instance().registerFactory(id, [] { return new EditorWindow; });
  }
  ~StandInWindow() {
    saved_ ? Windows::instance().registerFactory(id_, saved_)
           : Windows::instance().unregisterFactory(id_);
  }

 private:
  WindowId id_;
  Windows::Factory saved_;
};
