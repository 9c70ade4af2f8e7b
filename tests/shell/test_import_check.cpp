// The File menu's "Import HEX..." and "Check Chip Before Programming".
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <fstream>

#include "files/intelhex.h"
#include "model/format.h"
#include "programmer/check.h"
#include "shell/version.h"
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
  EXPECT_TRUE(regs()[zk7::CNF1] == 0x23 && regs().ConfigWord() == 1);
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

TEST_F(ShellTest, CheckingBeforeProgrammingRefusesAnUnfitChipWithoutAPulse) {
  createMain();
  EXPECT_TRUE(main->mnuCheckChip->isCheckable() && !main->mnuCheckChip->isChecked());
  regs().set(zk7::GPLAT, 0x5A);
  emulator->setImageWord(zk7::GPLAT, 0x3400);  // burnt before: its bits cannot rise
  emulator->resetCounters();
  main->mnuCheckChip->setChecked(true);
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  ASSERT_EQ(testSeam().messages.size(), 1u);
  const auto& m = testSeam().messages[0];
  EXPECT_TRUE(m.title == zk7::UnfitTitle() && m.icon == Seam::Icon::Critical);
  EXPECT_TRUE(m.text.contains("  02      GPLAT       3400  345A")) << m.text.toStdString();
  EXPECT_EQ(emulator->totalPulses(), 0);
  EXPECT_TRUE(main->lblTestStatus->text().isEmpty() && main->cmdProgram->isEnabled());

  // Unchecked, Program Device is the flow it always was: it burns and fails at the word.
  testSeam().clear();
  main->mnuCheckChip->setChecked(false);
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  expectMessage("Failed to Program Address 2", "Failed to Program Register: 2",
                Seam::Icon::Critical, true);
  EXPECT_GT(emulator->totalPulses(), 0);
}
