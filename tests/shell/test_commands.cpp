// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's file, export and programming commands.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <random>
#include <tuple>

#include "child_process.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "gui/refresh.h"
#include "gui_support/controls.h"
#include "model/format.h"
#include "open_fifo.h"
#include "port/signals.h"
#include "shell/blockdiagram.h"
#include "support/temp_dir.h"
#include "tests/shell/shell_fixture.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(data), data.size());
}

QByteArray DeviceFileOf(const zk7::RegisterSet& rs, const std::string& fosc) {
  zk7::MemoryImage img;
  for (int i = 0; i < zk7::kImageSize; ++i) img.MemMap[i] = rs.entry(i);
  return QByteArray::fromStdString(zk7::FormatDeviceFile(img, rs.ConfigWord(), fosc));
}

QList<QByteArray> Lines(const QByteArray& file) {
  QList<QByteArray> l = file.split('\n');
  if (!l.isEmpty() && l.last().isEmpty()) l.removeLast();
  return l;
}

}  // namespace

class CommandTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    QLocale::setDefault(QLocale::c());
  }
  void TearDown() override {
    QLocale::setDefault(QLocale::system());
    ShellTest::TearDown();
  }
  QString path(const char* name) { return dir.filePath(name); }
  // After a run: every port command back, progress hidden at 0, chip out of programming mode.
  void expectIdle() {
    EXPECT_TRUE(main->cmdProgram->isEnabled());
    EXPECT_TRUE(main->cmdReadDevice->isEnabled());
    EXPECT_TRUE(main->p278->isEnabled());
    EXPECT_TRUE(main->mnuLoad->isEnabled());
    EXPECT_FALSE(main->Progress->isVisible());
    EXPECT_EQ(main->Progress->value(), 0);
    EXPECT_FALSE(emulator->inProgrammingMode());
  }
};

TEST_F(CommandTest, SaveWritesTheImageWordAndFrequencyTextLoadsBackAndExports) {
  createMain(false);
  const QString file = path("default.dvs");
  testSeam().fileAnswers.push_back(file);
  main->txtFosc->setText("4000.0");  // the box's text, as typed
  main->mnuSave->trigger();
  EXPECT_EQ(testSeam().fileDialogTitles, std::vector<QString>{"Save File as..."});
  EXPECT_EQ(testSeam().fileDialogFilters[0], "Device File (*.dvs)");
  EXPECT_EQ(testSeam().fileDialogSuffixes[0], "dvs");
  zk7::MemoryImage img;
  zk7::BuildMemoryImage(regs(), img);
  EXPECT_EQ(ReadAll(file).toStdString(), zk7::FormatDeviceFile(img, 7, "4000.0"));
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_EQ(main->statusPath->text(), QDir::toNativeSeparators(file)) << "the file saved to";

  // Loading takes over registers, oscillator option and frequency, and rebuilds the image.
  zk7::RegisterSet rs = regs();
  rs.set(zk7::CNF1, 0x23);
  rs.setImageChecksum(0x00);  // wrong on purpose
  rs.setConfigWord(0x0001);
  WriteAll(file, DeviceFileOf(rs, "3686.4"));
  testSeam().fileAnswers.push_back(file);
  main->mnuLoad->trigger();
  EXPECT_EQ(testSeam().fileDialogTitles.back(), "Load Default...");
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_EQ(regs()[zk7::CNF1], 0x23);
  EXPECT_TRUE(main->optXTAL[1]->isChecked());
  EXPECT_EQ(main->lblConfigWord->text(), "Config Word = 0x01");
  EXPECT_DOUBLE_EQ(App().Fosc, 3686400.0);
  EXPECT_EQ(main->txtFosc->text(), "3686.4");
  EXPECT_EQ(App().image.MemMap[zk7::CNF1], 0x23);
  EXPECT_EQ(regs().ImageChecksum(), App().image.MemMap[zk7::kChecksumEntry]);
  EXPECT_NE(regs().ImageChecksum(), 0x00);
  EXPECT_EQ(main->statusPath->text(), QDir::toNativeSeparators(file));

  // Export writes the program words of the registers as they are now, with their ConfigWord.
  regs().set(zk7::PR2, 0x11);
  testSeam().fileAnswers.push_back(path("out.hex"));
  main->mnuCreateHEX->trigger();
  EXPECT_EQ(testSeam().fileDialogFilters.back(), "HEX File (*.hex)");
  EXPECT_EQ(testSeam().fileDialogSuffixes.back(), "hex");
  EXPECT_TRUE(testSeam().messages.empty());
  zk7::BuildMemoryImage(regs(), img);
  EXPECT_EQ(ReadAll(path("out.hex")).toStdString(), zk7::WriteIntelHex(img.ProgramImage, 1));
}

TEST_F(CommandTest, OldVersionFileKeepsTheFrequency) {
  createMain(false);
  zk7::RegisterSet rs;
  zk7::SetDefaultRegisters(rs);
  rs.set(zk7::PR1, 0x80);
  QList<QByteArray> lines = Lines(DeviceFileOf(rs, "9999"));
  lines.removeLast();
  const QString file = path("old.dvs");
  WriteAll(file, lines.join('\n') + '\n');
  App().Fosc = 20000000;
  testSeam().fileAnswers.push_back(file);
  main->mnuLoad->trigger();
  expectMessage("FILE OLD VERSION",
                "File is old version...\r\nFosc frequency was not loaded\r\n"
                "Re-saving will update file with Fosc frequency",
                Seam::Icon::None);
  EXPECT_EQ(App().image.MemMap[zk7::PR1], 0x80);
  EXPECT_EQ(App().Fosc, 20000000.0);
  EXPECT_EQ(main->txtFosc->text(), "20000");
}

TEST_F(CommandTest, BadFilesLeaveTheConfigurationAsItWas) {
  createMain(false);
  zk7::RegisterSet good;
  zk7::SetDefaultRegisters(good);
  // The kinds of bad content are the reader's concern; here one stands for all, with a missing
  // file.
  QList<QByteArray> big = Lines(DeviceFileOf(good, "4000"));
  big[10] = " 256 \r";
  WriteAll(path("big.dvs"), big.join('\n'));
  regs().set(zk7::CNF2, 0x77);
  App().Fosc = 12345000;
  const zk7::RegisterSet before = regs();
  for (const char* name : {"big.dvs", "missing.dvs"}) {
    testSeam().clear();
    testSeam().fileAnswers.push_back(path(name));
    main->mnuLoad->trigger();
    expectMessage("Error Loading FIle", "Error! \r\n", Seam::Icon::Critical, true);
    EXPECT_EQ(regs(), before) << name;
    EXPECT_EQ(App().Fosc, 12345000.0);
  }
  EXPECT_EQ(main->statusPath->text(), "");
}

// Whatever is typed into the frequency box (letters never appear), the file Save writes loads
// back with the same Fosc, whether the box was left (by Tab, or by clicking the diagram) or not:
// good entries keep their text; what counts like zero shows the message once and leaves a text
// the reader takes as that zero.
TEST_F(CommandTest, EveryTypedFrequencySavesAndLoadsBackAsTheSameFosc) {
  createMain();
  QLineEdit* box = main->txtFosc;
  box->setText("123456");
  box->setFocus(Qt::TabFocusReason);
  QTRY_COMPARE(box->selectedText(), QString("12345"));  // typing replaces the first five
  const QString file = path("f.dvs"), huge(309, '9');
  // Locale, typed, line 72 written, Fosc in kHz.
  // clang-format off
  const std::tuple<const char*, QString, QString, double> cases[] = {
      {"C", "3a6bZ8x6.4k", "3686.4", 3686.4}, {"C", " 12 ", " 12 ", 12}, {"C", "+5.", "+5.", 5},
      {"C", "0.000", "0.000", 0}, {"C", "4,000", "0", 0}, {"C", "1-2", "0", 0}, {"C", ".", "0", 0},
      {"C", "", "0", 0}, {"C", "-5", "0", 0}, {"C", huge, "0", 0},
      {"de_DE", "3686,4", "3686,4", 3686.4}, {"de_DE", "4.000", "0", 0}};
  // clang-format on
  for (const auto& [locale, typed, line72, kHz] : cases) {
    for (int leave : {0, 1, 2}) {
      SCOPED_TRACE(locale + (" '" + typed + "' ").toStdString() + std::to_string(leave));
      QLocale::setDefault(QLocale(locale));
      testSeam().clear();
      box->setFocus(Qt::TabFocusReason);
      box->clear();
      QTest::keyClicks(box, typed);
      App().Fosc = 1;
      if (leave == 0) main->cmdProgram->setFocus(Qt::TabFocusReason);
      if (leave == 1) QTest::mouseClick(main->picBlkDgm, Qt::LeftButton, {}, QPoint(5, 5));
      EXPECT_EQ(App().Fosc, leave == 2 ? 1 : kHz * 1000) << "taken on leaving the box";
      testSeam().fileAnswers = {file, file};
      main->mnuSave->trigger();
      EXPECT_EQ(App().Fosc, kHz * 1000);
      EXPECT_EQ(Lines(ReadAll(file)).value(71), line72.toUtf8() + '\r');
      App().Fosc = 1;
      main->mnuLoad->trigger();
      EXPECT_EQ(App().Fosc, kHz * 1000);
      EXPECT_EQ(testSeam().messages.size(), kHz == 0 ? 1u : 0u);  // only "Wrong Fosc Value"
    }
  }
}

TEST_F(CommandTest, FailedSaveAndExportSaySo) {
  createMain(false);
  const QString noFolder = path("no/such/folder/x.dvs");
  testSeam().fileAnswers.push_back(noFolder);
  main->mnuSave->trigger();
  expectMessage("Error Saving File", "Error! \r\n", Seam::Icon::Critical, true);

  testSeam().clear();
  testSeam().fileAnswers.push_back(path("no/such/folder/x.hex"));
  main->mnuCreateHEX->trigger();
  expectMessage("ZK7 Programmer", "File Error: ", Seam::Icon::None, true);

  // A FIFO is written through to its reader and stays a FIFO.
  testSeam().clear();
  OpenFifo fifo(path("fifo").toStdString());
  testSeam().fileAnswers.push_back(path("fifo"));
  main->mnuSave->trigger();
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_TRUE(fifo.stillFifo());
  EXPECT_EQ(fifo.drain(), zk7::FormatDeviceFile(App().image, 7, "4000"));
}

TEST_F(CommandTest, CancelledDialogsDoNothingAndThePathCarriesOver) {
  createMain(false);
  const QString a = path("a.dvs");
  const zk7::RegisterSet before = regs();
  testSeam().fileAnswers = {"", "", "", a, "", path("b.hex")};
  main->mnuLoad->trigger();
  main->mnuSave->trigger();
  main->mnuCreateHEX->trigger();
  EXPECT_EQ(regs(), before);
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
  EXPECT_EQ(main->statusPath->text(), "");
  main->mnuSave->trigger();
  main->mnuLoad->trigger();  // cancelled: the path stays
  main->mnuCreateHEX->trigger();
  main->mnuSave->trigger();
  const auto& initial = testSeam().fileDialogInitial;
  ASSERT_EQ(initial.size(), 7u);
  EXPECT_EQ(initial[4], a);
  EXPECT_EQ(initial[5], a);
  EXPECT_EQ(initial[6], path("b.hex"));
}

// Random device files survive a load and a save unchanged, apart from the checksum (recomputed,
// see above) and the oscillator normalisation of ConfigWord.
TEST_F(CommandTest, LoadSaveRoundTripOfRandomFiles) {
  createMain(false);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> word(-32768, 32767);
  std::uniform_int_distribution<int> kHz(1, 40000000);
  for (int round = 0; round < 25; ++round) {
    zk7::RegisterSet rs;
    for (int i = 0; i < zk7::kImageSize; ++i) rs.setEntry(i, byte(rng));
    // The identifier bytes as the CAN window writes them: SIDL bits 4 and 2 clear.
    for (int sidl : {zk7::RXMSIDL, zk7::RXF0SIDL, zk7::RXF1SIDL, zk7::TXID0SIDL, zk7::TXID1SIDL,
                     zk7::TXID2SIDL})
      rs.set(sidl, rs.reg(sidl) & 0xEB);
    rs.setConfigWord(static_cast<std::int16_t>(word(rng)));
    const std::string fosc = zk7::FormatNumber(kHz(rng) / 1000.0);
    const QByteArray original = DeviceFileOf(rs, fosc);
    const QString in = path("in.dvs"), out = path("out.dvs");
    WriteAll(in, original);
    const int previousMode = main->optXTAL[0]->isChecked()   ? 0
                             : main->optXTAL[1]->isChecked() ? 1
                                                             : 3;
    testSeam().fileAnswers = {in, out};
    main->mnuLoad->trigger();
    main->mnuSave->trigger();
    ASSERT_TRUE(testSeam().messages.empty()) << round;
    const QList<QByteArray> a = Lines(original), b = Lines(ReadAll(out));
    ASSERT_EQ(b.size(), 72);
    for (int i = 0; i < 69; ++i) EXPECT_EQ(a[i], b[i]) << "round " << round << " line " << i + 1;
    EXPECT_EQ(a[71], b[71]) << round;
    const int mode = rs.ConfigWord() & 3;
    EXPECT_EQ(b[70].trimmed().toInt(), mode != 2 && mode != previousMode
                                           ? zk7::WithOscMode(rs.ConfigWord(), mode)
                                           : rs.ConfigWord())
        << round;
  }
}

// The editors are made once the main window is on the screen, not during its load: nothing a
// user can see differs. The same file, oscillator choice and device toggle, with the editors made
// during the load and made only when first needed, leave the same registers, messages and controls.
TEST_F(CommandTest, EditorsMadeAfterTheLoadShowWhatEditorsMadeDuringItShow) {
  zk7::RegisterSet file = regs();
  file.set(zk7::GPDDR, 0x30);      // the A/D editor's load makes GP0..GP3 inputs
  file.set(zk7::TXID1SIDL, 0xFC);  // extended, bits 4 and 2 set: a type change stores it cleared
  file.set(zk7::T2CON, 0x86);
  file.setConfigWord(0x1201);
  WriteAll(path("file.dvs"), DeviceFileOf(file, "3686.4"));
  const auto run = [&](bool editorsAtLoad) {
    Windows::instance().destroyAll();
    zk7::SetDefaultRegisters(regs());
    App().Fosc = 4000000.0;
    testSeam().clear();
    createMain(false);
    if (editorsAtLoad) FinishLoadRefresh();
    main->openFile(path("file.dvs"));
    main->optXTAL[0]->click();
    main->cmdDevice->click();
    QStringList seen;
    for (WindowId id :
         {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1, WindowId::PWM2}) {
      EditorWindow* w = Windows::instance().get(id);
      w->show();
      QApplication::processEvents();
      for (QWidget* c : w->findChildren<QWidget*>()) {
        QString state = c->objectName() + (c->isVisibleTo(w) ? "" : " hidden");
        if (auto* e = qobject_cast<QLineEdit*>(c)) state += " " + e->text();
        if (auto* b = qobject_cast<QAbstractButton*>(c))
          state += QString(" %1 %2").arg(b->text()).arg(b->isChecked());
        if (auto* l = qobject_cast<QLabel*>(c)) state += " " + l->text();
        if (auto* list = qobject_cast<QComboBox*>(c)) state += " " + list->currentText();
        if (auto* slider = qobject_cast<QAbstractSlider*>(c))
          state += QString(" %1").arg(slider->value());
        seen << state;
      }
      w->hide();
    }
    for (const auto& m : testSeam().messages) seen << m.title + ": " + m.text;
    std::vector<std::uint8_t> bytes(regs().registers().begin(), regs().registers().end());
    main.reset();
    return std::make_tuple(bytes, regs().ConfigWord(), seen);
  };
  const auto atLoad = run(true);
  const auto later = run(false);
  EXPECT_EQ(std::get<0>(atLoad), std::get<0>(later));
  EXPECT_EQ(std::get<1>(atLoad), std::get<1>(later));
  EXPECT_EQ(std::get<2>(atLoad).join("\n").toStdString(),
            std::get<2>(later).join("\n").toStdString());
  EXPECT_EQ(std::get<0>(atLoad)[zk7::GPDDR], 0x30) << "GP0..GP3 as the file has them";
}

TEST_F(CommandTest, ProgramDevicePassesAndBurnsTheImage) {
  StandInWindow gpio(WindowId::GPIO);
  createMain();
  regs().set(zk7::CNF1, 0x3C);
  bool checkedDuringRun = false;
  std::vector<QString> captions;
  onWait = [&](int) {
    if (!checkedDuringRun) {
      checkedDuringRun = true;
      EXPECT_FALSE(main->cmdProgram->isEnabled());
      EXPECT_FALSE(main->cmdReadDevice->isEnabled());
      EXPECT_FALSE(main->p278->isEnabled());
      EXPECT_FALSE(main->mnuLoad->isEnabled());
      EXPECT_FALSE(main->mnuGPIO->isEnabled());
      EXPECT_FALSE(main->txtFosc->isEnabled());
      EXPECT_TRUE(main->Progress->isVisible());
      EXPECT_EQ(main->lblTestStatus->text(), "");
      // A second run, a read, or a window that would hold the flow is refused meanwhile.
      main->programDevice();
      main->readDevice();
      QTest::mouseClick(main->picBlkDgm, Qt::LeftButton, {}, QPoint(310, 100));
      EXPECT_TRUE(testSeam().modalsShown.empty());
    }
    captions.push_back(main->lblTestStatus->text());
  };
  int maxProgress = 0;
  QObject::connect(main->Progress, &QProgressBar::valueChanged,
                   [&](int v) { maxProgress = std::max(maxProgress, v); });
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  EXPECT_TRUE(checkedDuringRun);
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_EQ(main->lblTestStatus->text(), "PASSED");
  EXPECT_EQ(main->lblTestStatus->palette().color(QPalette::WindowText), QColor(0, 255, 0));
  expectIdle();
  EXPECT_TRUE(main->cmdProgram->hasFocus()) << "the focus waited and came back";
  EXPECT_EQ(maxProgress, 69);
  ASSERT_GE(waits.size(), 4u);
  EXPECT_EQ(std::vector<int>(waits.end() - 4, waits.end()), (std::vector<int>{500, 500, 500, 250}));
  EXPECT_EQ(std::vector<QString>(captions.end() - 4, captions.end()),
            (std::vector<QString>{"", "PASSED", "", "PASSED"}));
  EXPECT_EQ(emulator->imageWord(zk7::CNF1), 0x343C);  // every word: the flow tests
  EXPECT_EQ(emulator->configWord() & 7, 7);
}

// The controls stay live during a run, but an edit made in its check or its burn is for the next
// run: the chip gets the image and configuration word that were checked.
TEST_F(CommandTest, EditsDuringARunChangeOnlyTheNextRun) {
  createMain();
  zk7::RegisterSet fromFile = regs();
  fromFile.set(zk7::CNF1, 0x11);
  fromFile.setConfigWord(zk7::OscXT);
  WriteAll(path("other.dvs"), DeviceFileOf(fromFile, "8000"));
  const std::pair<const char*, std::function<void()>> edits[] = {
      {"oscillator", [&] { QTest::mouseClick(main->optXTAL[0], Qt::LeftButton); }},
      {"device type", [&] { QTest::mouseClick(main->cmdDevice, Qt::LeftButton); }},
      {"editor field",
       [&] {
         Find<QAbstractButton>(window<EditorWindow>(WindowId::GPIO), "chkPinDir_3")->click();
       }},
      {"loaded file", [&] { main->openFile(path("other.dvs")); }},
  };
  for (const auto& [what, edit] : edits) {
    for (const bool inBurn : {false, true}) {
      SCOPED_TRACE(std::string(what) + (inBurn ? " during the burn" : " during the check"));
      emulator = UseEmulatedChip(App().port);
      if (main->isZK7B()) main->cmdDevice->click();
      zk7::SetDefaultRegisters(regs());
      regs().set(zk7::ADCMP0H, 0x5A);  // the device type clears it
      RefreshAll();
      zk7::RegisterSet pressed = regs();
      zk7::MemoryImage checked;
      zk7::BuildMemoryImage(pressed, checked);
      bool edited = false;
      const auto pulsesBefore = App().programmer.pulseCount();
      onWait = [&, inBurn = inBurn, edit = edit](int) {
        // The check's reads wait before any pulse; past the configuration word's 100 pulses the
        // image words are being burnt.
        const bool burning = App().programmer.pulseCount() > pulsesBefore + 100;
        if (!edited && burning == inBurn) {
          EXPECT_TRUE(inBurn || App().programmer.pulseCount() == pulsesBefore);
          edited = true;
          edit();
        }
      };
      QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
      onWait = nullptr;
      EXPECT_TRUE(edited);
      EXPECT_FALSE(regs() == pressed) << "the edit is kept";
      EXPECT_EQ(main->lblTestStatus->text(), "PASSED");
      int wrongWords = 0;
      for (int i = 0; i < zk7::kImageSize; ++i)
        wrongWords +=
            emulator->imageWord(i) != 0x3400 + checked.MemMap[static_cast<std::size_t>(i)];
      EXPECT_EQ(wrongWords, 0);
      EXPECT_EQ(emulator->configWord() & 7, pressed.ConfigWord() & 7);
    }
  }
}

TEST_F(CommandTest, ProgramDeviceFailureShowsTheMessageAfterBlinking) {
  createMain();
  main->mnuCheckChip->setChecked(false);  // the check would refuse the all-ones read
  emulator->setFault(zk7::EmulatorOptions::NoChipHigh);
  std::vector<int> waitsAtMessage;
  QString labelAtMessage = "?";
  testSeam().onMessage = [&](const RecordedMessage&) {
    waitsAtMessage = waits;
    labelAtMessage = main->lblTestStatus->text();
    EXPECT_FALSE(main->cmdProgram->isEnabled());
  };
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  expectMessage("Failed to Program Address 0",
                "Failed to Program Register: 0\r\nExpected: 3400\r\nRead: 3FFF",
                Seam::Icon::Critical);
  ASSERT_GE(waitsAtMessage.size(), 8u);
  EXPECT_EQ(std::vector<int>(waitsAtMessage.end() - 8, waitsAtMessage.end()),
            std::vector<int>(8, 250));
  EXPECT_EQ(labelAtMessage, "");
  EXPECT_EQ(main->lblTestStatus->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  expectIdle();
}

TEST_F(CommandTest, ProgramDeviceFailsWhenTheChipFileCannotBeWritten) {
  zk7::EmulatorOptions options;
  options.chipFile = path("none/chip.txt").toStdString();
  UseEmulatedChip(App().port, options);
  createMain();
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  expectMessage("Check Emulated Chip", "emulator: cannot write chip file ", Seam::Icon::Critical,
                true);
  EXPECT_EQ(main->lblTestStatus->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  // Once the file can be written again, the next run passes.
  ASSERT_TRUE(QDir().mkpath(path("none")));
  testSeam().messages.clear();
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  EXPECT_TRUE(testSeam().messages.empty());
  EXPECT_EQ(main->lblTestStatus->text(), "PASSED");
}

TEST_F(CommandTest, ClosingDuringARunLeavesProgrammingModeFirst) {
  createMain();
  bool closed = false;
  onWait = [&](int) {
    if (!closed && App().programmer.inProgrammingMode()) {
      closed = true;
      main->close();
      EXPECT_TRUE(main->isVisible());  // not before the flow has stopped
    }
  };
  QTest::mouseClick(main->cmdProgram, Qt::LeftButton);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(main->isVisible());
  EXPECT_FALSE(emulator->inProgrammingMode());
  EXPECT_EQ(App().programmer.lineShadow() & 0x08, 0);  // programming voltage off
  EXPECT_TRUE(testSeam().messages.empty());
}

TEST(ProgramDeviceSignals, ASignalStopsTheBurnOrEndsTheIdleApplicationByThatSignal) {
  const TempDir tmp("zk7_gui");
  const std::string trace = tmp.path("trace");
  auto env = [](const char* click) -> std::vector<std::string> {
    return {"ZK7_PORT=emulator", "QT_QPA_PLATFORM=offscreen",
            std::string("ZK7_TEST_CLICK=") + click};
  };
  for (int sig : {SIGHUP, SIGTERM, SIGINT, SIGSEGV}) {
    // The check's reads come first; the wait after the configuration word starts the burn.
    const auto end = RunUntilSignalled({ZK7_CLICKING_BIN}, env("cmdProgram"), trace, "D 100", sig);
    EXPECT_TRUE(end.unpoweredAfter(sig)) << sig << ": " << end.lastWrite << end.err;
    EXPECT_NE(end.err.find(std::string("zk7-programmer: ") + zk7::SignalName(sig) + " received"),
              std::string::npos);
  }
  // kill -9 cannot be caught: the run's guard switches the lines off.
  const auto killed =
      RunUntilSignalled({ZK7_CLICKING_BIN}, env("cmdProgram"), trace, "D 1", SIGKILL, 0, 5000);
  EXPECT_TRUE(killed.unpoweredAfter(SIGKILL)) << killed.lastWrite << killed.err;
  // Idle after the start-up read, the event loop ends the application.
  const auto end = RunUntilSignalled({ZK7_CLICKING_BIN}, env("-"), trace, "W 378 F4", SIGTERM, 300);
  EXPECT_TRUE(WIFSIGNALED(end.status)) << end.err;
  EXPECT_EQ(WTERMSIG(end.status), SIGTERM) << end.err;
  EXPECT_NE(end.err.find("zk7-programmer: SIGTERM received; ending."), std::string::npos);
  // Ctrl-Z in the burn stops the window only once the chip is unpowered and the burn is done.
  const auto stop = StopAndContinue({ZK7_CLICKING_BIN}, env("cmdProgram"), trace, "\nD 100\n", "",
                                    false, SIGTERM);
  EXPECT_TRUE(stop.unpoweredAtStop()) << stop.err;
  EXPECT_EQ(stop.traceAtStop, stop.traceAtEnd);
}
