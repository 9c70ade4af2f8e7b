// A main window on a fresh application state, with the waits of flows and
// the result label's blinking replaced by a recorder so tests run at once.
#pragma once

#include <QLabel>
#include <QTest>
#include <memory>
#include <vector>

#include "gui_support/fixture.h"
#include "programmer/emulator.h"
#include "shell/frmMain.h"
#include "shell/guiflow.h"

class ShellTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    // A blank emulated chip for every test; time passes only through waits.
    auto emu = std::make_unique<zk7::EmulatorDriver>();
    emu->useWaitClock();
    emulator = emu.get();
    App().port.setDriver(std::move(emu));
    waits.clear();
    SetGuiWait([this](int ms) {
      waits.push_back(ms);
      if (onWait) onWait(ms);
    });
  }
  void TearDown() override {
    main.reset();
    SetGuiWait(nullptr);
    onWait = nullptr;
    GuiTest::TearDown();
  }
  frmMain* createMain(bool show = true) {
    main = std::make_unique<frmMain>();
    if (show) {
      main->show();
      main->activateWindow();
      (void)QTest::qWaitForWindowActive(main.get());
    }
    return main.get();
  }
  // Exactly one message was shown, with this title, icon and text (or text start).
  static void expectMessage(const QString& title, const QString& text, Seam::Icon icon,
                            bool textIsPrefix = false) {
    const auto& m = testSeam().messages;
    ASSERT_EQ(m.size(), 1u) << title.toStdString();
    EXPECT_EQ(m[0].title, title);
    if (textIsPrefix)
      EXPECT_TRUE(m[0].text.startsWith(text) && m[0].text.size() > text.size())
          << m[0].text.toStdString();
    else
      EXPECT_EQ(m[0].text, text);
    EXPECT_EQ(m[0].icon, icon);
  }

  std::unique_ptr<frmMain> main;
  zk7::EmulatorDriver* emulator = nullptr;
  std::vector<int> waits;
  std::function<void(int)> onWait;
};

// For one test, puts a plain stand-in window in place of an editor, or
// (with none = true) takes the editor away; the real one comes back after.
class StandInWindow {
 public:
  explicit StandInWindow(WindowId id, bool none = false)
      : id_(id), saved_(Windows::instance().factory(id)) {
    if (none)
      Windows::instance().unregisterFactory(id);
    else
      Windows::instance().registerFactory(id, [] { return new EditorWindow; });
  }
  ~StandInWindow() {
    if (saved_)
      Windows::instance().registerFactory(id_, saved_);
    else
      Windows::instance().unregisterFactory(id_);
  }

 private:
  WindowId id_;
  Windows::Factory saved_;
};
