// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: start-up, menus, port check, oscillator and device,
// frequency box, block diagram, pins and the fit into the work area.
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlatformSurfaceEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "editors/frmAtoD.h"
#include "editors/frmGPIO.h"
#include "gui/focus.h"
#include "gui/refresh.h"
#include "gui_support/controls.h"
#include "port/discovery.h"
#include "programmer/check.h"
#include "shell/blockdiagram.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"
#include "shell/startup.h"
#include "tests/shell/shell_fixture.h"

TEST_F(ShellTest, StartUpShowsSplashFirstThenLoadsTheMainWindow) {
  regs().set(zk7::CNF1, 0x55);
  for (auto& b : App().image.MemMap) b = 0x12;
  bool mainExistedDuringSplash = true, defaultsBeforeSplash = false;
  testSeam().onModal = [&](QDialog* d) {
    mainExistedDuringSplash = MainWindow() != nullptr;
    defaultsBeforeSplash = App().regs[zk7::CNF1] != 0x55;
    auto* splash = qobject_cast<frmSplash*>(d);
    EXPECT_NE(splash, nullptr);
    if (splash) QTest::mouseClick(splash->cmdContinue, Qt::LeftButton);
    return d->result();
  };
  main.reset(StartApplication());
  main->setAttribute(Qt::WA_DeleteOnClose, false);
  frmMain* w = main.get();
  ASSERT_EQ(testSeam().modalsShown.size(), 1u);
  EXPECT_FALSE(mainExistedDuringSplash);
  EXPECT_TRUE(defaultsBeforeSplash);
  EXPECT_EQ(MainWindow(), w);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->windowIcon().availableSizes().contains(QSize(48, 48)));
  EXPECT_TRUE(w->p378->isChecked());
  EXPECT_TRUE(w->optXTAL[2]->isChecked());
  EXPECT_EQ(App().Fosc, 4000000.0);
  EXPECT_EQ(w->txtFosc->text(), "4000");
  EXPECT_EQ(w->lblConfigWord->text(), "Config Word = 0x07");
  EXPECT_EQ(w->statusPort->text(), "0x378 · emulated chip");
  // The start-up read put the blank chip into MemMap; the refreshed editors stay hidden.
  for (int i = 0; i < zk7::kImageSize; ++i) EXPECT_EQ(App().image.MemMap[i], 0xFF) << i;
  for (auto id : {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1, WindowId::PWM2})
    EXPECT_FALSE(Windows::instance().existing(id) && Windows::instance().existing(id)->isVisible());
  EXPECT_TRUE(testSeam().messages.empty());
}

TEST_F(ShellTest, SplashClosesOnEachOfItsFourActionsAndAboutShowsTheRecord) {
  const std::function<void(frmSplash&)> actions[] = {
      [](frmSplash& s) { QTest::mouseClick(s.cmdContinue, Qt::LeftButton); },
      [](frmSplash& s) { QTest::keyClick(&s, Qt::Key_A); },
      [](frmSplash& s) { QTest::mouseClick(s.Frame1, Qt::LeftButton, {}, QPoint(300, 225)); },
      [](frmSplash& s) { QTest::mouseClick(s.imgLogo, Qt::LeftButton); }};
  for (const auto& action : actions) {
    frmSplash s;
    s.show();
    EXPECT_EQ(s.lblVersion->text(), "Version 1.1.0");
    EXPECT_EQ(s.lblWarning->text(),
              "Warning:  This software is intended for demostration purposes only. ");
    EXPECT_FALSE(s.lblPlatform->isVisible());
    action(s);
    EXPECT_FALSE(s.isVisible());
  }
  createMain(false);
  bool shown = false;
  testSeam().onModal = [&](QDialog* d) {
    auto* about = qobject_cast<frmAbout*>(d);
    if (!about) return 0;
    shown = true;
    EXPECT_EQ(about->windowTitle(), "AboutZK7 Programmer");
    EXPECT_EQ(about->lblAppVersion->text(), "Version 1.1");
    EXPECT_FALSE(about->webSite().isEmpty());
    QTest::mouseClick(about->cmdOK, Qt::LeftButton);
    App().Fosc = 20000000;
    return about->result();
  };
  main->mnuAbout->trigger();
  EXPECT_TRUE(shown);
  EXPECT_EQ(main->txtFosc->text(), "20000") << "closing it runs the activation work";
}

TEST_F(ShellTest, MenusCarryTheirAccessKeys) {
  const std::string dev = useMachineWithCard();
  createMain();
  main->mnuPort->menu()->aboutToShow();  // the ports found are listed as the menu opens
  QStringList captions, shortcuts;
  for (QAction* top : main->menuBar()->actions()) {
    captions << top->text();
    for (QAction* a : top->menu()->actions()) {
      if (!a->isSeparator()) captions << a->text();
      if (!a->shortcut().isEmpty()) shortcuts << a->objectName() + "=" + a->shortcut().toString();
    }
  }
  for (QAction* a : main->mnuPort->menu()->actions())
    captions << a->objectName() + "=" + (a->isSeparator() ? "-" : a->text());
  // Below the three addresses, the card the kernel lists elsewhere.
  EXPECT_EQ(captions.join("|"),
            "&File|&Port|&Load Default...|&Save Defaults...|Export &HEX...|&Import HEX...|"
            "Check Chip Before Programming|P&roduction...|E&xit|&Peripherals|&GPIO...|"
            "&A/D Converter...|PWM&1...|PWM&2...|&CAN...|&Scheduled TX...|&User Memory...|"
            "&Device|&Program Device|&Read Device...|&Help|&About|p278=278|p378=378|p3BC=3BC|=-|"
            "pD010=D010 (" +
                QString::fromStdString(dev) + "/parport1)");
  EXPECT_EQ(shortcuts.join(" ").toStdString(),
            "mnuLoad=Ctrl+O mnuSave=Ctrl+S mnuExit=Ctrl+Q mnuGPIO=Ctrl+1 mnuAtoD=Ctrl+2 "
            "mnuPWM1=Ctrl+3 mnuPWM2=Ctrl+4 mnuCAN=Ctrl+5 mnuSTCON=Ctrl+6 mnuUserReg=Ctrl+7 "
            "mnuProgram=Ctrl+P mnuReadDevice=Ctrl+R mnuAbout=F1");
  // The keys reach the items from anywhere in the window.
  QTest::keyClick(main->txtFosc, Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(testSeam().fileDialogTitles.size(), size_t(1));
  EXPECT_EQ(testSeam().fileDialogTitles[0], "Load Default...");
  testSeam().clear();
  // Alt+F, S opens the save dialog.
  QMenu* file = main->menuBar()->actions()[0]->menu();
  QTest::keyClick(main.get(), Qt::Key_F, Qt::AltModifier);
  QTRY_VERIFY(file->isVisible());
  QTest::keyClick(file, Qt::Key_S);
  QTRY_COMPARE(testSeam().fileDialogTitles.size(), size_t(1));
  EXPECT_EQ(testSeam().fileDialogTitles[0], "Save File as...");
}

TEST_F(ShellTest, PortCheckRunsBeforeFrequencyReadAndRefreshAndOnEachChoice) {
  emulator->setFault(zk7::EmulatorOptions::NoCable);
  App().Fosc = 1;
  for (auto& b : App().image.MemMap) b = 0x12;
  double foscAtCheck = 0;
  int memMapAtCheck = 0;
  testSeam().onMessage = [&](const RecordedMessage&) {
    foscAtCheck = App().Fosc;
    memMapAtCheck = App().image.MemMap[0];
  };
  const std::string trace = dir.path().toStdString() + "/trace";
  std::string error;
  ASSERT_TRUE(App().port.setTraceFile(trace, error)) << error;
  createMain(false);
  expectMessage("Check Parallel Port", "LPT Cable Not Connected", Seam::Icon::Critical);
  EXPECT_EQ(foscAtCheck, 1.0);
  EXPECT_EQ(memMapAtCheck, 0x12);
  // Before anything else the lines are switched off, whatever the kernel left on them.
  const auto lines = ReadLines(trace);
  ASSERT_GT(lines.size(), 1u);
  EXPECT_EQ(lines[0], "W 378 D0");
  EXPECT_EQ(lines[1].rfind("R 379 ", 0), 0);

  testSeam().clear();
  emulator->setFault(zk7::EmulatorOptions::WrongAddress);
  main->p3BC->trigger();
  EXPECT_TRUE(main->p3BC->isChecked());
  EXPECT_FALSE(main->p378->isChecked());
  EXPECT_TRUE(main->statusPort->text().startsWith("0x3BC"));
  expectMessage("Check Parallel Port", "Wrong LPT Address", Seam::Icon::Critical);

  // A card's item: chosen, checked alone and checked for its cable at its base.
  useMachineWithCard();
  main->mnuPort->menu()->aboutToShow();
  testSeam().clear();
  QAction* card = main->findChild<QAction*>("pD010");
  ASSERT_NE(card, nullptr);
  card->trigger();
  EXPECT_TRUE(card->isChecked());
  EXPECT_FALSE(main->p3BC->isChecked());
  EXPECT_EQ(main->statusPort->text(), "0xD010 · emulated chip");
  expectMessage("Check Parallel Port", "Wrong LPT Address", Seam::Icon::Critical);
  main->p278->trigger();
  EXPECT_TRUE(main->p278->isChecked());
  EXPECT_FALSE(card->isChecked());
}

// A start-up read in which nothing answered shows what was read (all FF) and
// says why in the status bar; a port the printer driver shares is warned of once.
TEST_F(ShellTest, ANoChipReadIsSaidInTheStatusBarAndAPrinterDriverIsWarnedOfOnce) {
  struct SharedEmulator : zk7::EmulatorDriver {
    std::string warning() const override { return zk7::PrinterDriverWarning(); }
  };
  auto shared = std::make_unique<SharedEmulator>();
  shared->useWaitClock();
  shared->setFault(zk7::EmulatorOptions::NoChipHigh);
  App().port.setDriver(std::move(shared));
  createMain();
  EXPECT_EQ(main->StatusBar1->currentMessage().toStdString(), zk7::NoChipSummary(0x3FFF));
  for (int i = 0; i < zk7::kImageSize; ++i) EXPECT_EQ(App().image.MemMap[i], 0xFF) << i;
  expectMessage("Check Parallel Port", QString::fromStdString(zk7::PrinterDriverWarning()),
                Seam::Icon::Warning);
  testSeam().clear();
  main->p378->trigger();  // the same port again: checked, not warned of again
  EXPECT_TRUE(testSeam().messages.empty());
  main->showChipAnswer(0x3FFE);  // a configuration word that answered: a chip is there
  EXPECT_TRUE(main->StatusBar1->currentMessage().isEmpty());
}

// With no port reached, nothing runs: Program Device and Read Device say the problem and its fix,
// as the status bar's tool tip does.
TEST_F(ShellTest, UnreachablePortIsSaidAndNothingRunsOnIt) {
  StandInWindow memoryMap(WindowId::MemoryMap);
  App().port.setDriver(nullptr);
  zk7::PortChoice choice;
  choice.kind = zk7::PortChoice::Device;
  choice.device = "/dev/zk7-no-such-parport";
  App().port.setChoice(choice);
  createMain();
  // Said instead of "Wrong LPT Address", which all ones would give.
  const QString problem = main->statusPort->toolTip();
  expectMessage("Check Parallel Port", problem, Seam::Icon::Critical);
  EXPECT_TRUE(problem.startsWith("Cannot reach the parallel port at 0x378"))
      << problem.toStdString();
  EXPECT_EQ(main->statusPort->text(), "0x378 · not accessible");
  for (QPushButton* button : {main->cmdProgram, main->cmdReadDevice}) {
    testSeam().clear();
    waits.clear();
    QTest::mouseClick(button, Qt::LeftButton);
    expectMessage("Check Parallel Port", problem, Seam::Icon::Critical);
    EXPECT_TRUE(testSeam().modalsShown.empty());
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(main->lblTestStatus->text(), "");
  }
  App().port.setChoice(zk7::PortChoiceFromEnvironment());
}

TEST_F(ShellTest, OscillatorOptionsRewriteTheWordAndRefreshNormalisesOnlyOnAChange) {
  createMain();
  QTest::mouseClick(main->optXTAL[0], Qt::LeftButton);
  EXPECT_EQ(regs().ConfigWord(), 4);
  QTest::mouseClick(main->optXTAL[2], Qt::LeftButton);
  EXPECT_EQ(regs().ConfigWord(), 7);
  regs().setConfigWord(0x1207);
  QTest::mouseClick(main->optXTAL[1], Qt::LeftButton);
  EXPECT_EQ(regs().ConfigWord(), 5);
  EXPECT_EQ(main->lblConfigWord->text(), "Config Word = 0x05");
  // Word, option then selected, word after the refresh, label.
  const std::tuple<std::int16_t, std::size_t, std::int16_t, const char*> steps[] = {
      {0x0001, 1, 0x0001, "Config Word = 0x01"},
      {0x0006, 1, 0x0006, "Config Word = 0x06"},  // mode 2 keeps the option
      {0x1201, 1, 0x1201, "Config Word = 0x01"},  // same option: word as loaded
      {0x1203, 2, 0x0003, "Config Word = 0x03"},  // changed option: high byte cleared
  };
  for (const auto& [word, option, after, label] : steps) {
    regs().setConfigWord(word);
    const zk7::RegisterSet before = regs();
    RefreshAll();
    EXPECT_TRUE(main->optXTAL[option]->isChecked()) << word;
    EXPECT_EQ(regs().ConfigWord(), after);
    EXPECT_EQ(main->lblConfigWord->text(), label);
    EXPECT_EQ(regs().registers(), before.registers());  // only the word may change
  }
  App().Fosc = 3686400;
  RefreshAll();
  EXPECT_EQ(main->txtFosc->text(), QString("3686") + QLocale().decimalPoint() + "4");
}

TEST_F(ShellTest, DeviceToggleMasksTheConverterAndClearsItsRegisters) {
  StandInWindow gpio(WindowId::GPIO);
  StandInWindow atod(WindowId::AtoD);
  createMain();
  Windows::instance().destroyAll();
  for (int r = zk7::ADCMP3H; r <= zk7::ADCMP0L; ++r) regs().set(r, 0x5A);
  regs().set(zk7::ADCON0, 0x41);
  regs().set(zk7::ADCON1, 0x02);
  const zk7::RegisterSet before = regs();
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  EXPECT_EQ(main->cmdDevice->text(), "ZK7B");
  EXPECT_TRUE(main->isZK7B());
  EXPECT_TRUE(main->lblAtoDMask->isVisible());
  ASSERT_NE(Windows::instance().existing(WindowId::GPIO), nullptr);  // created, hidden
  EXPECT_FALSE(Windows::instance().existing(WindowId::GPIO)->isVisible());
  // The mask takes the clicks meant for the converter block.
  QTest::mouseClick(main->lblAtoDMask, Qt::LeftButton);
  EXPECT_TRUE(testSeam().modalsShown.empty());

  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  EXPECT_EQ(main->cmdDevice->text(), "ZK7A");
  EXPECT_FALSE(main->lblAtoDMask->isVisible());
  zk7::RegisterSet expect = before;
  expect.set(zk7::ADCON0, 0x00);
  expect.set(zk7::ADCON1, 0x0F);
  for (int r = zk7::ADCMP3H; r <= zk7::ADCMP0L; ++r) expect.set(r, 0x00);
  EXPECT_EQ(regs(), expect);
}

TEST(BlockDiagramHitTest, BordersAndGapsOpenNothing) {
  const std::tuple<double, double, int> cases[] = {
      {30, 490, -1},  {31, 490, 0},   {114, 490, 0},    {115, 490, -1},
      {100, 475, -1}, {100, 510, -1}, {120, 490, -1},   {229, 509, 1},
      {276, 476, 2},  {300, 350, 3},  {285, 350, -1},   {310, 100, 4},
      {335, 100, -1}, {60, 200, 5},   {30.5, 180.5, 5}, {60, 290, -1}};
  for (const auto& [x, y, block] : cases)
    EXPECT_EQ(BlockDiagram::blockAt(QPointF(x, y)), block) << x << "," << y;
}

TEST_F(ShellTest, DiagramOpensTheBlockEditorMarksItGreenAndShowsAPointer) {
  StandInWindow gpio(WindowId::GPIO);
  StandInWindow none(WindowId::UserReg, true);
  createMain();
  BlockDiagram* pic = main->picBlkDgm;
  const QImage before = pic->picture();
  QTest::mouseClick(pic, Qt::LeftButton, {}, QPoint(285, 100));  // on the border
  QTest::mouseClick(pic, Qt::LeftButton, {}, QPoint(60, 200));   // no editor there
  EXPECT_TRUE(testSeam().modalsShown.empty());
  EXPECT_FALSE(pic->visited(4));
  EXPECT_FALSE(pic->visited(5));

  int refreshes = 0;
  SetMainRefreshSection([&] { ++refreshes; });
  QTest::mouseClick(pic, Qt::LeftButton, {}, QPoint(310, 100));
  ASSERT_EQ(testSeam().modalsShown.size(), 1u);
  EXPECT_EQ(testSeam().modalsShown[0], Windows::instance().existing(WindowId::GPIO));
  EXPECT_EQ(refreshes, 1);  // activation after the editor closed
  main->activated();        // the mark stays
  SetMainRefreshSection(nullptr);
  for (int b = 0; b < BlockDiagram::kBlockCount; ++b) EXPECT_EQ(pic->visited(b), b == 4);

  // The box of width 10 over the GPIO border keeps only green; all else stays as drawn.
  const QImage& img = pic->picture();
  const qreal dpr = img.devicePixelRatio();
  auto px = [&](const QImage& i, int x, int y) {
    return QColor(i.pixel(int(x * dpr), int(y * dpr)));
  };
  for (QPoint p : {QPoint(281, 140), QPoint(289, 140), QPoint(310, 75)}) {
    const QColor c = px(img, p.x(), p.y());
    EXPECT_EQ(c.red() + c.blue(), 0) << p.x() << "," << p.y();
    EXPECT_EQ(c.green(), px(before, p.x(), p.y()).green());
  }
  EXPECT_EQ(px(img, 310, 140), px(before, 310, 140));
  EXPECT_EQ(px(img, 30, 490), px(before, 30, 490));

  QTest::mouseMove(pic, QPoint(100, 490));
  QTRY_VERIFY(pic->showsBlockCursor());
  EXPECT_EQ(pic->cursor().shape(), Qt::BitmapCursor);
  QTest::mouseMove(pic, QPoint(120, 490));
  QTRY_VERIFY(!pic->showsBlockCursor());
  EXPECT_EQ(pic->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ShellTest, ScheduledTxAndReadDeviceOpenTheirWindows) {
  StandInWindow stcon(WindowId::STCON);
  StandInWindow memoryMap(WindowId::MemoryMap);
  createMain();
  EXPECT_NE(main->cmdSTCON->palette().color(QPalette::Button), QColor(0, 255, 0));
  QTest::mouseClick(main->cmdSTCON, Qt::LeftButton);
  ASSERT_EQ(testSeam().modalsShown.size(), 1u);
  EXPECT_EQ(testSeam().modalsShown[0], Windows::instance().existing(WindowId::STCON));
  EXPECT_EQ(main->cmdSTCON->palette().color(QPalette::Button), QColor(0, 255, 0));
  int refreshes = 0;
  SetMainRefreshSection([&] { ++refreshes; });
  QTest::mouseClick(main->cmdReadDevice, Qt::LeftButton);
  SetMainRefreshSection(nullptr);
  ASSERT_EQ(testSeam().modalsShown.size(), 2u);
  EXPECT_EQ(testSeam().modalsShown[1], Windows::instance().existing(WindowId::MemoryMap));
  EXPECT_EQ(refreshes, 1);
}

TEST_F(ShellTest, PinsAreLaidOutAroundThePicture) {
  createMain(false);
  const QRect pic = main->picBlkDgm->geometry();
  EXPECT_GT(main->shpPin[1]->y(), pic.top());
  QStringList rows;  // left and right caption of each row, top to bottom
  for (int r = 0; r < 7; ++r) {
    QLabel* l = main->lblPinName[1 + r];
    QLabel* rt = main->lblPinName[14 - r];
    rows << l->text() + "|" + rt->text();
    const int step = main->shpPin[2]->y() - main->shpPin[1]->y();  // rows evenly spaced
    EXPECT_NEAR(main->shpPin[1 + r]->y() - main->shpPin[std::max(r, 1)]->y(), r ? step : 0, 1);
    EXPECT_EQ(l->x() + l->width(), main->shpPin[1 + r]->x());  // captions end at their markers
    EXPECT_EQ(rt->x(), main->shpPin[8 + r]->x() + main->shpPin[8 + r]->width());
    EXPECT_EQ(l->y(), main->shpPin[1 + r]->y());
    EXPECT_EQ(rt->y(), main->shpPin[8 + r]->y());
    // The picture's pin wires end at its edges in the markers' rows, and only there.
    const double y = BlockDiagram::pinRowY(r);
    EXPECT_NEAR(main->shpPin[1 + r]->geometry().center().y() - pic.top(), y, 1);
    const QImage& img = main->picBlkDgm->picture();
    for (int x : {1, BlockDiagram::kWidth - 2}) {
      EXPECT_LT(std::min(qGray(img.pixel(x, int(y))), qGray(img.pixel(x, int(y) + 1))), 160) << r;
      EXPECT_EQ(qGray(img.pixel(x, std::min(std::lround(y + 40), 560L))), 255) << r;
    }
  }
  EXPECT_EQ(rows, QStringList({"GP0|Vdd", "GP1|TXCAN", "GP2|RXCAN", "GP3|GP7", "OSC2|GP6",
                               "OSC1|GP5", "Vss|GP4"}));
  EXPECT_EQ(main->shpPin[1]->x() + main->shpPin[1]->width(), pic.left());
  QLabel* txcan = main->lblPinName[13];
  EXPECT_EQ(main->cmdSTCON->y(), txcan->y());
  EXPECT_GT(main->cmdSTCON->x(), txcan->x() + txcan->width());
}

TEST_F(ShellTest, OnlyAWindowThatDoesNotFitTheWorkAreaMoves) {
  const QRect work(10, 20, 800, 600);
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 795, 580), work), QRect(100, 100, 795, 580));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 900, 700), work), QRect(10, 20, 800, 600));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 900, 500), work), QRect(10, 100, 800, 500));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 500, 650), work), QRect(100, 20, 500, 600));
  // With the window frame known, the frame must fit: the title bar stays on screen.
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 130, 795, 700), work, QMargins(4, 30, 4, 4)),
            QRect(14, 50, 792, 566));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 130, 500, 400), work, QMargins(4, 30, 4, 4)),
            QRect(100, 130, 500, 400));
  // Where no panel is reported (Wayland), room for one is kept; where panels are reported, or
  // the available area is smaller than the screen, it is the work area.
  const QRect screen(0, 0, 1024, 600);
  EXPECT_EQ(WorkAreaOf(screen, screen, false), QRect(0, 0, 1024, 600 - kUnknownPanelHeight));
  EXPECT_EQ(WorkAreaOf(screen, screen, true), screen);
  EXPECT_EQ(WorkAreaOf(QRect(0, 32, 1024, 568), screen, false), QRect(0, 32, 1024, 568));
  createMain();  // the test screen is smaller than the design size
  EXPECT_LE(main->frameGeometry().height(), WorkArea(main->screen()).height())
      << "the status bar stays visible";
  // Made lower than its content, the window takes the vertical scroll bar's width too, so the
  // bar brings no horizontal one.
  main->show();
  main->fitIntoWorkArea(QRect(0, 0, 1000, 500));
  QApplication::processEvents();
  auto* scroll = Find<QScrollArea>(main.get(), "scrollArea");
  EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
  EXPECT_LE(main->frameGeometry().right(), 1000);
}

// A window's native surface is made at its laid-out size (fitted to the screen): made at the
// default size and resized before its first frame, a Wayland surface can keep part of the old
// width.
TEST_F(ShellTest, EachWindowIsMadeAtItsOwnSize) {
  struct SizeAtCreation : QObject {
    QSize size;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() == QEvent::PlatformSurface &&
          static_cast<QPlatformSurfaceEvent*>(e)->surfaceEventType() ==
              QPlatformSurfaceEvent::SurfaceCreated)
        size = static_cast<QWidget*>(o)->size();
      return false;
    }
  };
  for (WindowId id :
       {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1, WindowId::STCON,
        WindowId::UserReg, WindowId::MemoryMap, WindowId::DCSlider}) {
    EditorWindow* w = Windows::instance().get(id);
    SizeAtCreation probe;
    w->installEventFilter(&probe);
    w->show();
    QApplication::processEvents();
    // Within a window frame: a window larger than the screen is fitted again once framed.
    const QSize change = w->size() - probe.size;
    EXPECT_LE(std::abs(change.width()), 8) << w->objectName().toStdString() << " made at "
                                           << probe.size.width() << "x" << probe.size.height();
    EXPECT_LE(std::abs(change.height()), 40) << w->objectName().toStdString() << " made at "
                                             << probe.size.width() << "x" << probe.size.height();
    w->hide();
    w->removeEventFilter(&probe);
  }
}

// Each Peripherals shortcut opens what the diagram's block or the button opens, with the same
// visited mark and activation work; the A/D item is off where the ZK7B mask takes the click.
TEST_F(ShellTest, PeripheralsItemsOpenWhatTheDiagramAndTheButtonOpen) {
  using B = BlockDiagram;
  const std::pair<WindowId, int> rows[] = {
      {WindowId::GPIO, B::GPIO},         {WindowId::AtoD, B::AtoD}, {WindowId::PWM1, B::PWM1},
      {WindowId::PWM2, B::PWM2},         {WindowId::CAN, B::CAN},   {WindowId::STCON, -1},
      {WindowId::UserReg, B::UserMemory}};
  std::vector<std::unique_ptr<StandInWindow>> standIns;
  for (const auto& row : rows) standIns.push_back(std::make_unique<StandInWindow>(row.first));
  createMain();
  int key = Qt::Key_1, refreshes = 0;
  SetMainRefreshSection([&] { ++refreshes; });
  for (const auto& [id, block] : rows) {
    testSeam().clear();
    main->activateWindow();  // as the window system does when the editor closes
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    QTest::keyClick(main->windowHandle(), Qt::Key(key++), Qt::ControlModifier);
    ASSERT_EQ(testSeam().modalsShown.size(), 1u) << key;
    EXPECT_EQ(testSeam().modalsShown[0], Windows::instance().existing(id));
    EXPECT_TRUE(block < 0 || main->picBlkDgm->visited(block));
  }
  SetMainRefreshSection(nullptr);
  EXPECT_EQ(refreshes, 7);
  EXPECT_EQ(main->cmdSTCON->palette().color(QPalette::Button), QColor(0, 255, 0));
  QMenu* menu = main->findChild<QMenu*>("mnuPeripherals");
  main->menuBar()->setActiveAction(menu->menuAction());
  QTRY_VERIFY(menu->isVisible());
  Screenshot(main.get(), "peripherals", menu);
  menu->close();
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  EXPECT_FALSE(main->mnuAtoD->isEnabled());
}

// Tab reaches the diagram; the arrow keys move its focus frame (no visited mark), Enter or Space
// opens the framed block as a click does; the masked converter takes no focus.
TEST_F(ShellTest, TheDiagramIsUsableByKeyboard) {
  std::vector<std::unique_ptr<StandInWindow>> standIns;
  for (const auto& b : BlockDiagram::blocks())
    standIns.push_back(std::make_unique<StandInWindow>(b.opens));
  createMain();
  BlockDiagram* pic = main->picBlkDgm;
  const auto framed = [pic] {  // the frame's left side, beside the GPIO block
    const QImage image = pic->grab().toImage();
    for (int y = 120; y < 160; ++y)
      if (qGray(image.pixel(285 - 8, y)) < 100) return true;
    return false;
  };
  EXPECT_FALSE(framed()) << "no frame at the window's start";
  main->cmdReadDevice->setFocus(Qt::TabFocusReason);
  QTest::keyClick(main->cmdReadDevice, Qt::Key_Tab);
  ASSERT_TRUE(pic->hasFocus());
  EXPECT_EQ(pic->focusedBlock(), BlockDiagram::GPIO);
  EXPECT_TRUE(framed());
  using B = BlockDiagram;
  const std::pair<Qt::Key, int> moves[] = {
      {Qt::Key_Right, B::GPIO},      {Qt::Key_Left, B::UserMemory}, {Qt::Key_Down, B::PWM1},
      {Qt::Key_Right, B::PWM2},      {Qt::Key_Right, B::AtoD},      {Qt::Key_Up, B::CAN},
      {Qt::Key_Left, B::UserMemory}, {Qt::Key_Right, B::GPIO},      {Qt::Key_Down, B::CAN}};
  for (const auto& [key, block] : moves) {
    QTest::keyClick(pic, key);
    EXPECT_EQ(pic->focusedBlock(), block) << key;
  }
  for (int b = 0; b < B::kBlockCount; ++b) EXPECT_FALSE(pic->visited(b));
  QTest::keyClick(pic, Qt::Key_Return);
  QTest::keyClick(pic, Qt::Key_Down);
  QTest::keyClick(pic, Qt::Key_Space);
  ASSERT_EQ(testSeam().modalsShown.size(), 2u);
  EXPECT_EQ(testSeam().modalsShown[1], Windows::instance().existing(WindowId::AtoD));
  EXPECT_TRUE(pic->visited(B::CAN));
  EXPECT_TRUE(pic->visited(B::AtoD));
  EXPECT_FALSE(pic->visited(B::GPIO));
  // ZK7B: the frame leaves the masked converter and never comes back to it.
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  pic->setFocus();
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right}) QTest::keyClick(pic, key);
  EXPECT_EQ(pic->focusedBlock(), B::PWM2);
}

// Tab enters a group of options on its checked option, from either side, so Space keeps the
// choice; a box with colours of its own gets a ring around it while it has the keyboard focus.
TEST_F(ShellTest, TabEntersOptionsOnTheCheckedOneAndColouredBoxesShowTheirFocus) {
  createMain();
  main->cmdDevice->setFocus(Qt::TabFocusReason);
  QTest::keyClick(main->cmdDevice, Qt::Key_Tab);
  EXPECT_TRUE(main->optXTAL[2]->hasFocus());
  QTest::keyClick(main->optXTAL[2], Qt::Key_Tab);
  EXPECT_TRUE(main->txtFosc->hasFocus());
  regs().setConfigWord(zk7::OscXT);
  RefreshAll();
  QTest::keyClick(main->txtFosc, Qt::Key_Backtab);
  EXPECT_TRUE(main->optXTAL[1]->hasFocus());
  QTest::keyClick(main->optXTAL[1], Qt::Key_Space);
  EXPECT_EQ(regs().ConfigWord(), zk7::OscXT);

  auto* gpio = window<frmGPIO>(WindowId::GPIO);
  gpio->show();
  gpio->activateWindow();
  (void)QTest::qWaitForWindowActive(gpio);
  gpio->cmdOK->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(FocusRingTarget(gpio), nullptr) << "the style's own frame on the style's colours";
  gpio->optPinFunc0[0]->setFocus(Qt::TabFocusReason);
  auto* option = qobject_cast<QRadioButton*>(gpio->focusWidget());
  ASSERT_NE(option, nullptr);
  EXPECT_TRUE(option->isChecked()) << "GP0's function as it is chosen";
  EXPECT_EQ(FocusRingTarget(gpio), option);
  QTest::keyClick(option, Qt::Key_Tab);
  EXPECT_EQ(gpio->focusWidget(), gpio->chkPinDir[0]);
  EXPECT_EQ(FocusRingTarget(gpio), gpio->chkPinDir[0]);
  gpio->hide();
}

// In a dark palette every text stays readable: where a background colour is fixed the text
// colour is fixed with it, elsewhere both come from the palette.
TEST_F(ShellTest, EveryWindowIsReadableInADarkPalette) {
  const QPalette dark(QColor(53, 53, 53)), light = QApplication::palette();  // white on dark grey
  QApplication::setPalette(dark);
  const auto readable = [](const QColor& text, const QColor& back) {
    return std::abs(text.lightness() - back.lightness()) > 100;
  };
  StandInWindow stcon(WindowId::STCON);
  createMain();
  const QImage pic = main->picBlkDgm->grab().toImage();  // the diagram's own light colours
  EXPECT_TRUE(readable(main->lblConfigWord->palette().color(QPalette::WindowText),
                       pic.pixelColor(main->lblConfigWord->pos() + QPoint(2, 2))));
  Click(main.get(), "cmdSTCON");
  const QPalette visited = main->cmdSTCON->palette();
  EXPECT_EQ(visited.color(QPalette::Button), QColor(0, 255, 0));
  EXPECT_TRUE(readable(visited.color(QPalette::ButtonText), visited.color(QPalette::Button)));
  Screenshot(main.get(), "main-dark");
  const auto lightest = [](const QImage& image) {
    int most = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, y)) > 200) most = std::max(most, qGray(image.pixel(x, y)));
    return most;
  };
  auto* gpio = window<frmGPIO>(WindowId::GPIO);
  EXPECT_GT(lightest(Find(gpio, "picPullup")->grab().toImage()), 200);
  for (QCheckBox* polarity :
       {gpio->chkPolarity[0], window<frmAtoD>(WindowId::AtoD)->chkThreshPol[0]})
    EXPECT_GT(lightest(polarity->icon().pixmap(28, 18).toImage()), 200);
  frmSplash splash;
  for (QWidget* label : {Find(&splash, "lblWarning"), Find(&splash, "lblCopyright"),
                         Find(Windows::instance().get(WindowId::CAN), "lblTimingWarning")})
    EXPECT_TRUE(
        readable(label->palette().color(QPalette::WindowText), dark.color(QPalette::Window)))
        << label->objectName().toStdString();
  QApplication::setPalette(light);
}
