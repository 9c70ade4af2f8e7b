// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The File menu's "Import HEX..." and "Check Chip Before Programming".
#include <QAbstractButton>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <fstream>
#include <functional>

#include "child_process.h"
#include "files/intelhex.h"
#include "gui_support/controls.h"
#include "model/format.h"
#include "programmer/check.h"
#include "shell/version.h"
#include "sim/emulator.h"
#include "tests/shell/shell_fixture.h"

TEST_F(ShellTest, ImportHexTakesTheFileOverWholeOrNotAtAll) {
  createMain(false);
  const QString file = dir.filePath("in.hex");
  zk7::RegisterSet rs = regs();
  rs.set(zk7::CNF1, 0x23);
  zk7::MemoryImage image;
  zk7::BuildMemoryImage(rs, image);
  std::string error;
  ASSERT_TRUE(zk7::WriteIntelHexFile(file.toStdString(), image.ProgramImage, 1, error));
  App().Fosc = 12345000;
  testSeam().fileAnswers.push_back(file);
  main->mnuImportHEX->trigger();
  EXPECT_EQ(testSeam().fileDialogTitles.back(), "Import HEX File...");
  EXPECT_EQ(testSeam().fileDialogFilters.back(), "HEX File (*.hex)");
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_EQ(regs()[zk7::CNF1], 0x23);
  EXPECT_EQ(regs().ConfigWord(), 1);
  EXPECT_EQ(App().image.MemMap[zk7::CNF1], 0x23);
  EXPECT_TRUE(main->optXTAL[1]->isChecked()) << "the windows are refreshed";
  EXPECT_EQ(App().Fosc, 12345000.0);
  EXPECT_EQ(main->statusPath->text(), QDir::toNativeSeparators(file));

  // A damaged file changes nothing.
  std::ofstream(file.toStdString(), std::ios::app) << ":00000001FF\r\n";
  const zk7::RegisterSet before = regs();
  testSeam().fileAnswers.push_back(file);
  main->mnuImportHEX->trigger();
  expectMessage("Error Importing HEX File", "Line 13: ", Seam::Icon::Critical, true);
  EXPECT_TRUE(regs() == before);

  // A checksum word that disagrees with the words before it is recomputed, and named.
  auto words = image.ProgramImage;
  const int burnt = words[zk7::kChecksumEntry];
  words[zk7::kChecksumEntry] = static_cast<std::int16_t>(burnt ^ 0x0F);
  std::ofstream(file.toStdString(), std::ios::trunc) << zk7::WriteIntelHex(words, 1);
  testSeam().clear();
  testSeam().fileAnswers.push_back(file);
  main->mnuImportHEX->trigger();
  const auto word = [](int w) { return "34" + zk7::Hex2(static_cast<unsigned>(w) & 0xFF); };
  expectMessage(
      VersionRecord::Title,
      QString::fromStdString("The file's checksum word " + word(burnt ^ 0x0F) +
                             " does not match its contents; " + word(burnt) + " will be burnt."),
      Seam::Icon::None);
  EXPECT_EQ(App().image.ProgramImage[zk7::kChecksumEntry], burnt);
}

TEST_F(ShellTest, CheckingBeforeProgrammingIsOnAtStartAndRefusesAnUnfitChipWithoutAPulse) {
  createMain();
  EXPECT_TRUE(main->mnuCheckChip->isCheckable());
  EXPECT_TRUE(main->mnuCheckChip->isChecked());
  regs().set(zk7::GPLAT, 0x5A);
  emulator->setImageWord(zk7::GPLAT, 0x3400);  // burnt before: its bits cannot rise
  emulator->resetCounters();
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  ASSERT_EQ(testSeam().messages.size(), 1u);
  const auto& m = testSeam().messages[0];
  EXPECT_EQ(m.title, zk7::UnfitTitle());
  EXPECT_EQ(m.icon, Seam::Icon::Critical);
  // Two lines say what happened; the words go into the details, one per line.
  EXPECT_EQ(m.text, "1 word of the chip would need bits to rise from 0 to 1.\r\n" +
                        QString(zk7::NothingBurntText()));
  EXPECT_TRUE(m.details.endsWith("\n  02      GPLAT       3400  345A")) << m.details.toStdString();
  EXPECT_EQ(emulator->totalPulses(), 0);
  EXPECT_EQ(main->lblTestStatus->text(), "REFUSED");
  EXPECT_TRUE(main->cmdProgram->isEnabled());

  // An empty socket reads all 0000 or all 3FFF: no chip, not words that cannot be taken.
  for (const auto& [fault, said] : {std::pair{zk7::EmulatorOptions::NoChipLow, "0000"},
                                    {zk7::EmulatorOptions::NoChipHigh, "3FFF"}}) {
    testSeam().clear();
    emulator->setFault(fault);
    QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
    ASSERT_EQ(testSeam().messages.size(), 1u);
    const auto& none = testSeam().messages[0];
    EXPECT_EQ(none.title, "No Chip") << none.text.toStdString();
    EXPECT_TRUE(none.text.contains(zk7::NoChipText())) << none.text.toStdString();
    EXPECT_TRUE(none.text.startsWith(QString("Every word read ") + said))
        << none.text.toStdString();
    EXPECT_TRUE(none.details.isEmpty()) << none.text.toStdString();
    EXPECT_EQ(emulator->totalPulses(), 0);
  }
  emulator->setFault(zk7::EmulatorOptions::None);

  // Unchecked for the session, Program Device is the flow it always was: it burns and fails.
  testSeam().clear();
  main->mnuCheckChip->setChecked(false);
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  expectMessage("Failed to Program Address 2", "Failed to Program Register: 2",
                Seam::Icon::Critical, true);
  EXPECT_GT(emulator->totalPulses(), 0);
}

// The check adds its reads in front of the run and changes nothing else at the port.
TEST_F(ShellTest, ACheckedRunOnABlankChipGainsOnlyTheChecksReads) {
  createMain();
  const auto traceOf = [&](const char* name, const std::function<void()>& run) {
    const std::string path = dir.filePath(name).toStdString();
    std::string error;
    EXPECT_TRUE(App().port.setTraceFile(path, error)) << error;
    run();
    App().port.setTraceFile("", error);
    emulator = UseEmulatedChip(App().port);
    return ReadText(path);
  };
  const std::string reads = traceOf("check.txt", [&] {
    EXPECT_TRUE(zk7::CheckChip(App().programmer, regs(), App().image, GuiFlowCallbacks()).fit());
  });
  main->mnuCheckChip->setChecked(false);
  const std::string unchecked =
      traceOf("off.txt", [&] { QTest::mouseClick(main->cmdProgram, Qt::LeftButton); });
  main->mnuCheckChip->setChecked(true);
  const std::string checked =
      traceOf("on.txt", [&] { QTest::mouseClick(main->cmdProgram, Qt::LeftButton); });
  EXPECT_GT(reads.size(), 1000u);
  EXPECT_TRUE(checked == reads + unchecked);
  EXPECT_EQ(main->lblTestStatus->text(), "PASSED");
  EXPECT_TRUE(testSeam().messages.empty());
  Screenshot(main.get(), "main");
}

// The real message box: two lines of text, the words in its details in a fixed-width font, and
// with the details shown it still fits the screen (the test screen is 600 pixels high).
TEST_F(ShellTest, TheRefusalMessageFitsTheScreenWithItsWordsInTheDetails) {
  createMain();
  // A chip holding another configuration, every word burnt to 00: most cannot be taken.
  for (int i = 0; i < zk7::kImageSize; ++i) emulator->setImageWord(i, 0x3400);
  QTimer poll;
  QString text;
  bool fixedPitch = false;
  int height = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll.stop();
    text = box->text();
    for (QAbstractButton* b : box->buttons())
      if (box->buttonRole(b) == QMessageBox::ActionRole) b->click();  // "Show Details..."
    QTest::qWait(200);  // the box lays itself out again
    // The system's fixed font, in which every character of a line takes one column (a
    // monospaced font need not call itself fixed-pitch).
    auto* details = box->findChild<QTextEdit*>();
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixedPitch = details && details->isVisible() && details->font().family() == fixed.family();
    const QFontMetricsF metrics(details ? details->font() : fixed);
    for (const QString& line : details ? details->toPlainText().split('\n') : QStringList())
      fixedPitch = fixedPitch && qAbs(metrics.horizontalAdvance(line) -
                                      line.size() * metrics.horizontalAdvance('0')) < 0.5;
    height = box->frameGeometry().height();
    Screenshot(box, "refusal");
    box->accept();
  });
  poll.start(5);
  Seam::set(nullptr);
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  Seam::set(&testSeam());
  EXPECT_EQ(text.count('\n'), 1) << text.toStdString();
  EXPECT_TRUE(fixedPitch);
  EXPECT_GT(height, 0);
  EXPECT_LE(height, main->screen()->availableGeometry().height());
}
