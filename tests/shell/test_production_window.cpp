// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The production window on an emulated socket: one Enter per chip, serial
// ranges, refusals without a click, and ending a chip when the window closes.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <cstdio>

#include "child_process.h"
#include "gui_support/controls.h"
#include "production/log.h"
#include "shell/frmProduction.h"
#include "support/temp_dir.h"
#include "tests/shell/shell_fixture.h"

namespace {

class ProductionWindowTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    // A socket: the chip file is read as each chip starts.
    zk7::EmulatorOptions options;
    options.chipFile = path("socket.txt");
    emulator = UseEmulatedChip(App().port, options);
    SetSettleClock([this] { return nowMs; });
  }
  void TearDown() override {
    window.reset();
    SetSettleClock(nullptr);
    ShellTest::TearDown();
  }
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  frmProduction* station(const QString& serial) {
    window = std::make_unique<frmProduction>(
        frmProduction::Mode::Station, StationSettings{"", "", serial, dir.filePath("log.csv")});
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get());
    return window.get();
  }
  // Enter where the focus happens to be: the details area.
  void enter(frmProduction* w = nullptr) {
    QTest::keyClick((w ? w : window.get())->txtDetails, Qt::Key_Return);
  }
  void newChip() { std::remove(path("socket.txt").c_str()); }
  void settle() { nowMs += frmProduction::kSettleMs; }
  zk7::LogContents log() const {
    std::string error;
    zk7::LogContents contents;
    EXPECT_TRUE(zk7::ParseLog(ReadText(path("log.csv")), contents, error)) << error;
    return contents;
  }
  QColor panel(frmProduction* w = nullptr) const {
    return (w ? w : window.get())->fraResult->palette().color(QPalette::Window);
  }

  std::unique_ptr<frmProduction> window;
  qint64 nowMs = 0;  // the settle's clock
};

TEST_F(ProductionWindowTest, EnterProgramsSuccessiveValuesUntilTheRangeEndsWithNothingBurnt) {
  // The pictures in docs/ show the time a chip really takes.
  if (!qEnvironmentVariableIsEmpty("ZK7_SCREENSHOT_DIR")) SetGuiWait(nullptr);
  frmProduction* w = station("TXID0=std:100..std:102");
  EXPECT_TRUE(w->inProduction());
  EXPECT_TRUE(w->windowTitle().contains("Production"));
  EXPECT_EQ(w->lblSerialInfo->text(), "next TXID0=100 \u00B7 3 left of std:100..std:102");
  EXPECT_TRUE(w->txtSerial->isReadOnly());
  Screenshot(w, "production_idle");

  enter();
  EXPECT_EQ(w->lblResult->text(), "PASSED");
  EXPECT_EQ(panel(), QColor(0, 255, 0));
  EXPECT_TRUE(w->lblResultInfo->text().startsWith("TXID0=100 \u00B7 "))
      << w->lblResultInfo->text().toStdString();
  Screenshot(w, "production_passed");
  // A bounce within the settling time burns nothing.
  nowMs += frmProduction::kSettleMs - 1;
  enter();
  EXPECT_EQ(log().total(zk7::ChipResult::Reserved), 1);

  // The same chip again: refused without a click or a message box, its value kept for the next.
  settle();
  enter();
  EXPECT_EQ(w->lblResult->text(), "REFUSED");
  EXPECT_EQ(panel(), QColor(255, 191, 0));
  EXPECT_TRUE(w->txtDetails->toPlainText().contains("would need bits to rise"));
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_EQ(w->alertCount(), 1);
  EXPECT_TRUE(w->cmdProgramNext->isEnabled());
  Screenshot(w, "production_refused");

  for (const char* value : {"101", "102"}) {
    newChip();
    settle();
    enter();
    EXPECT_EQ(w->lblResult->text() + " " + w->lblResultInfo->text().left(9),
              QString("PASSED TXID0=") + value);
  }
  EXPECT_EQ(w->lblSessionCounts->text(), "This session: 3 passed, 0 failed, 1 refused");
  EXPECT_EQ(w->lblLogTotals->text(), "Log: 3 passed, 0 failed, 1 refused");
  EXPECT_EQ(w->grdRecent->item(0, 1)->text() + w->grdRecent->item(0, 2)->text(), "102PASSED");

  // The range is used up: said at once, the button is off, and Enter burns nothing.
  const QString usedUp = "the serial range TXID0 std:100..std:102 is used up (3 values)";
  EXPECT_EQ(w->lblState->text(), usedUp);
  EXPECT_FALSE(w->cmdProgramNext->isEnabled());
  newChip();
  emulator->resetCounters();
  settle();
  enter();
  EXPECT_EQ(emulator->programmingModeEntries(), 0);
  EXPECT_EQ(log().total(zk7::ChipResult::Reserved), 3);
  EXPECT_EQ(w->lblState->text(), usedUp);
}

// A held Enter or foot switch repeats, and the window system need not mark the repeated presses:
// a chip starts only on a press after a release of that key, and not in the settling time.
TEST_F(ProductionWindowTest, AHeldKeyStartsOneChipUntilItIsReleased) {
  frmProduction* w = station("TXID0=std:100..std:1FF");
  const auto key = [&](bool press) {
    press ? QTest::keyPress(w->txtDetails, Qt::Key_Return)
          : QTest::keyRelease(w->txtDetails, Qt::Key_Return);
  };
  const auto reserved = [&] { return log().total(zk7::ChipResult::Reserved); };
  key(true);
  EXPECT_EQ(w->lblResult->text(), "PASSED");
  newChip();
  settle();
  for (int repeat = 0; repeat < 3; ++repeat) key(true);
  EXPECT_EQ(reserved(), 1);
  EXPECT_EQ(w->lblResult->text(), "PASSED");
  key(false);
  key(true);
  EXPECT_EQ(reserved(), 2);
  EXPECT_TRUE(w->lblResultInfo->text().startsWith("TXID0=101 \u00B7 "));
  // Released and pressed again at once: the chip that just passed is left alone.
  key(false);
  key(true);
  EXPECT_EQ(reserved(), 2);
  EXPECT_EQ(w->lblResult->text(), "PASSED");
}

TEST_F(ProductionWindowTest, ClosingDuringAChipAbortsItUnpoweredThenClosesAndCtrlQClosesIdle) {
  frmProduction* w = station("USER0-1=0001");
  const auto before = App().programmer.pulseCount();
  bool closed = false;
  onWait = [&](int) {
    if (!closed && App().programmer.pulseCount() > before) {
      closed = true;
      w->close();
      EXPECT_TRUE(w->isVisible()) << "not before the chip has ended";
    }
  };
  enter();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(emulator->inProgrammingMode());
  EXPECT_EQ(App().programmer.lineShadow() & 0x98, 0x90) << "VPP, VDD and nPRG off";
  const auto records = log().recent;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].result, zk7::ChipResult::Reserved);
  EXPECT_EQ(records[1].result, zk7::ChipResult::Aborted);
  EXPECT_EQ(records[1].serial, 1u);

  onWait = nullptr;
  newChip();
  w = station("USER0-1=0001");
  EXPECT_EQ(w->lblSerialInfo->text().left(18), "next USER0-1=0002 ") << "the aborted value is used";
  QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(w->isVisible());
}

TEST_F(ProductionWindowTest, FileProductionOpensAWindowThatSaysWhyItCannotStartAndStopsBackToIt) {
  createMain();
  main->mnuProduction->trigger();
  auto* w = main->findChild<frmProduction*>();
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->isVisible());
  ASSERT_EQ(w->windowModality(), Qt::ApplicationModal);
  EXPECT_EQ(w->txtPort->text(), "emulator") << "the port in use";
  EXPECT_FALSE(w->inProduction());
  EXPECT_FALSE(w->txtSerial->isReadOnly());
  EXPECT_FALSE(w->cmdProgramNext->isEnabled());
  const std::pair<QString, QString> cases[] = {
      {"TXID0=std:100..1FF",
       "Serial rule: TXID0: the range's end '1FF' is not written as its start (std:HEX)"},
      {"TXID0=std:100", "A serial rule needs a log: the log keeps the values given."},
  };
  for (const auto& [serial, why] : cases) {
    w->txtSerial->setText(serial);
    Click(w, "cmdStart");
    EXPECT_FALSE(w->inProduction()) << w->lblState->text().toStdString();
    EXPECT_EQ(w->lblState->text(), why) << w->lblState->text().toStdString();
  }
  EXPECT_TRUE(testSeam().messages.empty());

  // Started: the configuration in memory, taken now; the settings are fixed.
  regs().set(zk7::GPLAT, 0x5A);
  w->txtLog->setText(dir.filePath("menu.csv"));
  Click(w, "cmdStart");
  ASSERT_TRUE(w->inProduction());
  regs().set(zk7::GPLAT, 0x00);
  EXPECT_TRUE(w->txtSerial->isReadOnly());
  EXPECT_TRUE(w->txtLog->isReadOnly());
  // A word that cannot be burnt: FAILED in red, with an alert.
  emulator->setStuckBit(zk7::GPLAT, 0);
  enter(w);
  EXPECT_EQ(w->lblResult->text(), "FAILED");
  EXPECT_EQ(panel(w), QColor(255, 0, 0));
  EXPECT_TRUE(w->lblResultInfo->text().startsWith("TXID0=100 \u00B7 at 02"));
  EXPECT_EQ(w->alertCount(), 1);
  EXPECT_EQ(emulator->imageWord(zk7::GPLAT) & 0xFE, 0x5A) << "the snapshot was burnt";
  // A chip file that cannot be saved fails the chip at no word, and says what to check.
  zk7::EmulatorOptions unsaved;
  unsaved.chipFile = path("none/socket.txt");
  UseEmulatedChip(App().port, unsaved);
  settle();
  enter(w);
  EXPECT_EQ(w->lblResult->text(), "FAILED");
  EXPECT_EQ(w->lblResultInfo->text().split(" \u00B7 ").size(), 2) << "the value and the time";
  EXPECT_TRUE(w->txtDetails->toPlainText().startsWith("Check Emulated Chip\nemulator: "));

  // Stop: the log is given back and the settings can be changed again.
  Click(w, "cmdStop");
  EXPECT_FALSE(w->inProduction());
  EXPECT_FALSE(w->txtSerial->isReadOnly());
  EXPECT_EQ(w->cmdStop->text(), "Close");
  zk7::ProductionLog other;
  std::string error;
  EXPECT_TRUE(other.open(path("menu.csv"), {}, error)) << error;
}

// The station as its own program: a signal during a chip, and Stop.
TEST(ProductionStation, ASignalMidChipAbortsItUnpoweredAndStopEndsTheProgram) {
  const TempDir tmp("zk7_station");
  const std::string log = tmp.path("log.csv"), trace = tmp.path("trace");
  auto run = [&](const char* click, const std::string& when, int sig) {
    return RunUntilSignalled({ZK7_CLICKING_BIN, "--production", "--port", "emulator", "--serial",
                              "TXID0=std:100..std:1FF", "--log", log},
                             {"QT_QPA_PLATFORM=offscreen", std::string("ZK7_TEST_CLICK=") + click},
                             trace, when, sig);
  };
  // In the burn (the 10 ms wait after the configuration word's pulses): ABORTED, unpowered,
  // then the end.
  auto end = run("cmdProgramNext", "D 10", SIGTERM);
  EXPECT_TRUE(end.unpoweredAfter(SIGTERM)) << end.lastWrite << end.err;
  EXPECT_NE(end.err.find("zk7-programmer: SIGTERM received"), std::string::npos) << end.err;
  zk7::LogContents contents;
  std::string error;
  ASSERT_TRUE(zk7::ParseLog(ReadText(log), contents, error)) << error;
  ASSERT_EQ(contents.recent.size(), 2u) << ReadText(log) << end.err;
  EXPECT_EQ(contents.recent[1].result, zk7::ChipResult::Aborted);
  // Stop while idle ends the program with status 0.
  end = run("cmdStop", "never", SIGTERM);
  EXPECT_TRUE(WIFEXITED(end.status)) << end.status << end.err;
  EXPECT_EQ(WEXITSTATUS(end.status), 0) << end.status << end.err;
}

}  // namespace
