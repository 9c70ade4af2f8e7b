// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Memory map window against the emulated chip: what a read shows, the
// configuration-word decode, taking the contents over, and reads that must
// not start.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <memory>
#include <tuple>

#include "editors/frmMemoryMap.h"
#include "gui/guiflow.h"
#include "gui_support/controls.h"
#include "gui_support/fixture.h"
#include "support/emulated_chip.h"

namespace {

class MemoryMapTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    chip = UseEmulatedChip(App().port);
    w = window<frmMemoryMap>(WindowId::MemoryMap);
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override {
    GuiTest::TearDown();
    App().port.setDriver(nullptr);
  }
  // Burns image bytes and a configuration word into the emulated chip.
  template <class Bytes>
  void presetChip(const Bytes& bytes, std::uint16_t config) {
    for (int i = 0; i < zk7::kImageSize; ++i)
      chip->setImageWord(i, static_cast<std::uint16_t>(0x3400 + bytes[i]));
    chip->setConfigWord(config);
  }
  // Shows the window as "Read Device" does and lets its read run.
  void open() {
    shown<frmMemoryMap>(WindowId::MemoryMap);
    ASSERT_FALSE(w->reading());
  }
  QLineEdit* box(int k) { return w->findChild<QLineEdit*>(QString("txtUserMemReg_%1").arg(k)); }
  QString label(const char* name) { return w->findChild<QLabel*>(name)->text(); }
  QPushButton* loadButton() { return w->findChild<QPushButton*>("cmdSetDefaults"); }
  QColor colour(int k) { return box(k)->palette().color(QPalette::Base); }

  zk7::EmulatorDriver* chip = nullptr;
  frmMemoryMap* w = nullptr;
};

TEST_F(MemoryMapTest, DefaultChipShowsItsBytesInYellowAndKeepsItsWholeConfigurationWord) {
  const auto bytes = App().image.MemMap;  // the fixture built the default image
  presetChip(bytes, 0x3FFF);
  App().image = {};
  const zk7::RegisterSet before = regs();
  open();

  const char* firstFive[] = {"00", "00", "00", "FF", "F0"};
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(box(k)->text(), firstFive[k - 1]);
  EXPECT_EQ(box(70)->text(), "FC");
  EXPECT_EQ(App().image.MemMap, bytes);
  for (int k = 1; k <= zk7::kImageSize; ++k) EXPECT_EQ(colour(k), QColor(255, 255, 0));
  EXPECT_EQ(label("lblAddr_70"), "45");
  EXPECT_EQ(App().ChipConfigWord, 0x3FFF);
  EXPECT_EQ(regs(), before);  // nothing is taken over before "Load to Memory"
  EXPECT_TRUE(testSeam().messages.empty());
  Screenshot(w, "memorymap");
}

TEST_F(MemoryMapTest, ConfigurationWordDecode) {
  const std::tuple<std::uint16_t, const char*, const char*, const char*> cases[] = {
      {0x0005, "OSC Setting = XT", "GP7 = RESET Pin", "Config Word = 0x05"},
      {0x3FFA, "OSC Setting = INVALID", "GP7 = Digital Input", "Config Word = 0x02"},
      {0x000F, "OSC Setting = HS", "GP7 = RESET Pin", "Config Word = 0x07"},
  };
  for (const auto& [word, osc, gp7, config] : cases) {
    chip->setConfigWord(word);
    open();
    EXPECT_EQ(label("lblOSCConfig"), osc) << word;
    EXPECT_EQ(label("lblGP7"), gp7) << word;
    EXPECT_EQ(label("lblConfigWord"), config) << word;
  }
  // Without a chip the line reading low gives zeros, decoded like any word.
  chip->setFault(zk7::EmulatorOptions::NoChipLow);
  open();
  EXPECT_EQ(box(70)->text(), "00");
  EXPECT_EQ(label("lblOSCConfig"), "OSC Setting = LP");
  EXPECT_EQ(label("lblGP7"), "GP7 = Digital Input");
}

TEST_F(MemoryMapTest, LoadToMemoryTakesEveryByteAndTheWholeWord) {
  std::array<std::uint8_t, zk7::kImageSize> bytes{};
  for (int i = 0; i < zk7::kImageSize; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  presetChip(bytes, 0x3FFF);
  open();
  ASSERT_TRUE(loadButton()->isEnabled());
  QTest::mouseClick(loadButton(), Qt::LeftButton);

  for (int r = 0; r < zk7::kRegisterCount; ++r) EXPECT_EQ(regs().reg(r), bytes[r]) << r;
  for (int k = 0; k < zk7::kUserMemorySize; ++k) EXPECT_EQ(regs().user(k), bytes[53 + k]);
  EXPECT_EQ(regs().ImageChecksum(), bytes[69]);
  EXPECT_EQ(regs().ConfigWord(), 0x3FFF);  // all bits, not only the three decoded
  for (int k = 1; k <= zk7::kImageSize; ++k) EXPECT_EQ(colour(k), QColor(0, 255, 0));
  // The summary refresh ran: it creates the editors it shows.
  if (Windows::instance().has(WindowId::GPIO)) {
    EXPECT_NE(Windows::instance().existing(WindowId::GPIO), nullptr);
  }

  // The next showing reads again and the boxes turn yellow again.
  chip->setImageWord(0, 0x34A5);
  open();
  EXPECT_EQ(box(1)->text(), "A5");
  EXPECT_EQ(colour(1), QColor(255, 255, 0));
  EXPECT_EQ(regs().reg(0), bytes[0]);
}

TEST_F(MemoryMapTest, ShowingAgainDuringTheReadDoesNotStartASecondRead) {
  chip->resetCounters();
  // Re-show the window while the read is under way, as an activation would.
  bool reshown = false;
  QObject::connect(box(10), &QLineEdit::textChanged, w, [&] {
    if (reshown) return;
    reshown = true;
    w->hide();
    w->show();
  });
  open();
  QApplication::processEvents();
  EXPECT_TRUE(reshown);
  // One image read and one configuration-word read.
  EXPECT_EQ(chip->programmingModeEntries(), 2);
  EXPECT_TRUE(testSeam().messages.empty());
}

TEST_F(MemoryMapTest, ReadIsRefusedWhileAnotherFlowDrivesThePort) {
  zk7::FlowCallbacks cb = GuiFlowCallbacks();
  bool triedRead = false;
  int entriesDuringRead = -1;
  // "Read Device" pressed while a programming run waits.
  cb.wait = [&](int ms) {
    if (!triedRead) {
      triedRead = true;
      const int entries = chip->programmingModeEntries();
      w->show();
      QApplication::processEvents();
      entriesDuringRead = chip->programmingModeEntries() - entries;
      App().programmer.requestAbort();
    }
    GuiDelayMs(ms);
  };
  App().programmer.ProgramDevice(App().regs, App().image, cb);
  ASSERT_TRUE(triedRead);
  EXPECT_EQ(entriesDuringRead, 0);
  ASSERT_EQ(testSeam().messages.size(), 1u);
  EXPECT_EQ(testSeam().messages[0].icon, Seam::Icon::Critical);
  EXPECT_FALSE(loadButton()->isEnabled());
  EXPECT_EQ(box(1)->text(), "--");
}

}  // namespace
