// The main window: start-up, menus, oscillator and device, frequency box,
// block diagram, pins and the fit into the work area.
#include <QActionGroup>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "shell/blockdiagram.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"
#include "shell/refresh.h"
#include "shell/startup.h"
#include "tests/shell/shell_fixture.h"

namespace {

const WindowId kRefreshed[] = {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1,
                               WindowId::PWM2};

}  // namespace

TEST_F(ShellTest, StartUpShowsSplashFirstThenLoadsTheMainWindow) {
  zk7::RegisterSet dirty;
  regs().set(zk7::CNF1, 0x55);
  App().Fosc = 1;
  bool mainExistedDuringSplash = true;
  bool defaultsDuringSplash = false;
  testSeam().onModal = [&](QDialog* d) {
    mainExistedDuringSplash = MainWindow() != nullptr;
    defaultsDuringSplash = App().regs[zk7::CNF1] != 0x55;
    auto* splash = qobject_cast<frmSplash*>(d);
    EXPECT_NE(splash, nullptr);
    if (splash) QTest::mouseClick(splash->cmdContinue, Qt::LeftButton);
    return d->result();
  };
  frmMain* w = StartApplication();
  main.reset(w);
  main->setAttribute(Qt::WA_DeleteOnClose, false);
  ASSERT_EQ(testSeam().modalsShown.size(), 1u);
  EXPECT_FALSE(mainExistedDuringSplash);
  EXPECT_TRUE(defaultsDuringSplash);
  EXPECT_EQ(MainWindow(), w);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), "ZK7 Programmer");
  EXPECT_TRUE(w->p378->isChecked());
  EXPECT_FALSE(w->p278->isChecked());
  EXPECT_EQ(App().port.base(), 0x378);
  EXPECT_EQ(App().Fosc, 4000000.0);
  EXPECT_EQ(w->txtFosc->text(), "4000");
  EXPECT_EQ(w->lblConfigWord->text(), "Config Word = 0x07");
  EXPECT_TRUE(w->optXTAL[2]->isChecked());
  EXPECT_EQ(w->cmdDevice->text(), "ZK7A");
  EXPECT_FALSE(w->isZK7B());
  EXPECT_EQ(w->lblTestStatus->text(), "");
  EXPECT_FALSE(w->Progress->isVisible());
  EXPECT_EQ(w->statusPort->text(), QString::fromStdString(App().port.description()));
  // The first refresh created the refreshed editors, none of them shown.
  for (WindowId id : kRefreshed) {
    if (!Windows::instance().has(id)) continue;
    ASSERT_NE(Windows::instance().existing(id), nullptr);
    EXPECT_FALSE(Windows::instance().existing(id)->isVisible());
  }
  EXPECT_TRUE(testSeam().messages.empty());  // the emulated cable checks out
}

TEST_F(ShellTest, StartUpReadsTheChipIntoMemMap) {
  // Something other than what the register set's image holds.
  for (auto& b : App().image.MemMap) b = 0x12;
  createMain(false);
  // A blank emulated chip reads back all ones in the low byte.
  for (int i = 0; i < zk7::kImageSize; ++i) EXPECT_EQ(App().image.MemMap[i], 0xFF) << i;
}

TEST_F(ShellTest, SplashClosesOnEachOfItsFourActions) {
  for (int action = 0; action < 4; ++action) {
    frmSplash s;
    s.show();
    EXPECT_EQ(s.lblProductName->text(), "ZK7 Programmer");
    EXPECT_EQ(s.lblVersion->text(), "Version 1.1.0");
    EXPECT_EQ(s.lblWarning->text(),
              "Warning:  This software is intended for demostration purposes only. ");
    EXPECT_FALSE(s.lblPlatform->isVisible());
    EXPECT_TRUE(s.lblCompany->text().contains("ZK7 Programmer project"));
    switch (action) {
      case 0:
        QTest::mouseClick(s.cmdContinue, Qt::LeftButton);
        break;
      case 1:
        QTest::keyClick(&s, Qt::Key_A);
        break;
      case 2:
        QTest::mouseClick(s.Frame1, Qt::LeftButton, {}, QPoint(300, 225));
        break;
      case 3:
        QTest::mouseClick(s.imgLogo, Qt::LeftButton);
        break;
    }
    EXPECT_EQ(s.result(), QDialog::Accepted) << action;
    EXPECT_FALSE(s.isVisible()) << action;
  }
}

TEST_F(ShellTest, AboutShowsTitleVersionAndCopyright) {
  createMain(false);
  frmAbout* shown = nullptr;
  testSeam().onModal = [&](QDialog* d) {
    shown = qobject_cast<frmAbout*>(d);
    EXPECT_NE(shown, nullptr);
    if (!shown) return 0;
    EXPECT_EQ(shown->windowTitle(), "AboutZK7 Programmer");
    EXPECT_EQ(shown->lblAppTitle->text(), "ZK7 Programmer");
    EXPECT_EQ(shown->lblAppVersion->text(), "Version 1.1");
    EXPECT_TRUE(shown->lblCopyright->text().endsWith(" ZK7 Programmer project"));
    EXPECT_FALSE(shown->webSite().isEmpty());
    QTest::mouseClick(shown->cmdTechSupport, Qt::LeftButton);  // no action
    EXPECT_TRUE(shown->isVisible());
    QTest::mouseClick(shown->cmdOK, Qt::LeftButton);
    EXPECT_FALSE(shown->isVisible());
    return shown->result();
  };
  main->mnuAbout->trigger();
  EXPECT_NE(shown, nullptr);
}

TEST_F(ShellTest, MenusCarryTheirCaptionsAndAccessKeys) {
  createMain();
  QStringList top;
  for (QAction* a : main->menuBar()->actions()) top << a->text();
  EXPECT_EQ(top, QStringList({"&File", "&Help"}));
  QMenu* file = main->menuBar()->actions()[0]->menu();
  QStringList items;
  for (QAction* a : file->actions())
    if (!a->isSeparator()) items << a->text();
  EXPECT_EQ(items, QStringList({"&Port", "&Load Default...", "&Save Defaults...", "Export &HEX...",
                                "E&xit"}));
  QStringList ports;
  for (QAction* a : main->mnuPort->menu()->actions()) ports << a->objectName() + "=" + a->text();
  EXPECT_EQ(ports, QStringList({"p278=278", "p378=378", "p3BC=3BC"}));
  EXPECT_EQ(main->mnuAbout->text(), "&About");

  // Alt+F, S opens the save dialog.
  QTest::keyClick(main.get(), Qt::Key_F, Qt::AltModifier);
  QTRY_VERIFY(file->isVisible());
  QTest::keyClick(file, Qt::Key_S);
  QTRY_COMPARE(testSeam().fileDialogTitles.size(), size_t(1));
  EXPECT_EQ(testSeam().fileDialogTitles[0], "Save File as...");
}

TEST_F(ShellTest, PortItemsMoveTheCheckAndReselectThePort) {
  createMain(false);
  main->p3BC->trigger();
  EXPECT_TRUE(main->p3BC->isChecked());
  EXPECT_FALSE(main->p378->isChecked());
  EXPECT_EQ(App().port.base(), 0x3BC);
  EXPECT_TRUE(main->statusPort->text().startsWith("0x3BC"));
  main->p278->trigger();
  EXPECT_TRUE(main->p278->isChecked());
  EXPECT_FALSE(main->p3BC->isChecked());
  EXPECT_EQ(App().port.base(), 0x278);
}

TEST_F(ShellTest, OscillatorOptionsRewriteTheConfigurationWord) {
  createMain();
  EXPECT_EQ(regs().ConfigWord(), 7);
  QTest::mouseClick(main->optXTAL[0], Qt::LeftButton);
  EXPECT_EQ(regs().ConfigWord(), 4);
  EXPECT_EQ(main->lblConfigWord->text(), "Config Word = 0x04");
  QTest::mouseClick(main->optXTAL[2], Qt::LeftButton);
  EXPECT_EQ(regs().ConfigWord(), 7);
  regs().setConfigWord(0x1207);
  QTest::mouseClick(main->optXTAL[1], Qt::LeftButton);
  EXPECT_EQ(regs().ConfigWord(), 5);
  EXPECT_EQ(main->lblConfigWord->text(), "Config Word = 0x05");
}

TEST_F(ShellTest, RefreshShowsTheWordAndNormalisesOnlyOnAChangedOption) {
  createMain(false);
  regs().setConfigWord(0x0001);
  RefreshAll();
  EXPECT_TRUE(main->optXTAL[1]->isChecked());
  EXPECT_EQ(main->lblConfigWord->text(), "Config Word = 0x01");
  // Mode 2 keeps the option and shows its digit.
  regs().setConfigWord(0x0006);
  RefreshAll();
  EXPECT_TRUE(main->optXTAL[1]->isChecked());
  EXPECT_EQ(main->lblConfigWord->text(), "Config Word = 0x06");
  EXPECT_EQ(regs().ConfigWord(), 6);
  // Same option: the high byte stays as loaded.
  regs().setConfigWord(0x1201);
  RefreshAll();
  EXPECT_EQ(regs().ConfigWord(), 0x1201);
  // A changed option counts as the user's choice: high byte cleared.
  regs().setConfigWord(0x1203);
  RefreshAll();
  EXPECT_TRUE(main->optXTAL[2]->isChecked());
  EXPECT_EQ(regs().ConfigWord(), 0x0003);
  // Other register bytes are left alone.
  zk7::RegisterSet before = regs();
  RefreshAll();
  EXPECT_EQ(regs(), before);
  // The frequency box shows the shortest text of Fosc in kHz.
  App().Fosc = 3686400;
  RefreshAll();
  EXPECT_EQ(main->txtFosc->text(), QString("3686") + QLocale().decimalPoint() + QString("4"));
}

TEST_F(ShellTest, DeviceToggleMasksTheConverterAndClearsItsRegisters) {
  createMain();
  for (int r = zk7::ADCMP3H; r <= zk7::ADCMP0L; ++r) regs().set(r, 0x5A);
  regs().set(zk7::ADCON0, 0x41);
  regs().set(zk7::ADCON1, 0x02);
  const zk7::RegisterSet before = regs();
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  EXPECT_EQ(main->cmdDevice->text(), "ZK7B");
  EXPECT_TRUE(main->isZK7B());
  EXPECT_TRUE(main->lblAtoDMask->isVisible());
  if (Windows::instance().has(WindowId::GPIO)) {
    EXPECT_NE(Windows::instance().existing(WindowId::GPIO), nullptr);
  }
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  EXPECT_EQ(main->cmdDevice->text(), "ZK7A");
  EXPECT_FALSE(main->lblAtoDMask->isVisible());
  EXPECT_EQ(regs()[zk7::ADCON0], 0x00);
  EXPECT_EQ(regs()[zk7::ADCON1], 0x0F);
  for (int r = zk7::ADCMP3H; r <= zk7::ADCMP0L; ++r) EXPECT_EQ(regs().reg(r), 0x00) << r;
  // Nothing else changed, and the image built afterwards carries the values.
  for (int r = 0; r < zk7::kRegisterCount; ++r) {
    if (r != zk7::ADCON0 && r != zk7::ADCON1 && (r < zk7::ADCMP3H || r > zk7::ADCMP0L)) {
      EXPECT_EQ(regs().reg(r), before.reg(r)) << r;
    }
  }
  zk7::BuildMemoryImage(regs(), App().image);
  EXPECT_EQ(App().image.MemMap[zk7::ADCON1], 0x0F);
  EXPECT_EQ(App().image.MemMap[zk7::ADCMP0L], 0x00);
}

TEST_F(ShellTest, ToggleCreatesTheGpioWindowHidden) {
  StandInWindow gpio(WindowId::GPIO);
  createMain(false);
  Windows::instance().destroyAll();
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  ASSERT_NE(Windows::instance().existing(WindowId::GPIO), nullptr);
  EXPECT_FALSE(Windows::instance().existing(WindowId::GPIO)->isVisible());
}

TEST_F(ShellTest, FrequencyBoxFiltersKeysAndChecksOnLeaving) {
  QLocale::setDefault(QLocale::c());
  createMain();
  QLineEdit* box = main->txtFosc;
  box->setFocus(Qt::TabFocusReason);
  QTRY_COMPARE(box->selectedText(), QString("4000"));
  box->setText("123456");
  main->cmdProgram->setFocus(Qt::TabFocusReason);
  box->setFocus(Qt::TabFocusReason);
  QTRY_COMPARE(box->selectedText(), QString("12345"));  // typing replaces the first five

  box->clear();
  QTest::keyClicks(box, "3a6bZ8x6.4k");
  EXPECT_EQ(box->text(), "3686.4");  // letters never appear
  main->cmdProgram->setFocus(Qt::TabFocusReason);
  EXPECT_DOUBLE_EQ(App().Fosc, 3686400.0);
  EXPECT_TRUE(testSeam().messages.empty());

  // Zero, and what counts like zero, gives the message once and leaves Fosc 0.
  for (const char* text : {"0", "", "-5", "1-2", ".", "0.000"}) {
    testSeam().clear();
    App().Fosc = 4000000;
    box->setFocus(Qt::TabFocusReason);
    box->setText(text);
    main->cmdProgram->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_EQ(testSeam().messages.size(), 1u) << text;
    EXPECT_EQ(testSeam().messages[0].title, "Wrong Fosc Value");
    EXPECT_EQ(testSeam().messages[0].text,
              "Fosc Cannot Be Zero!!\r\nSet Fosc in Main Screen Before Continuing.");
    EXPECT_EQ(testSeam().messages[0].icon, Seam::Icon::Critical);
    EXPECT_EQ(App().Fosc, 0.0) << text;
  }
  // Pasted text loses its letters too.
  box->clear();
  box->setFocus(Qt::TabFocusReason);
  box->insert("20");
  QApplication::clipboard();
  QTest::keyClicks(box, "00");
  EXPECT_EQ(box->text(), "2000");
  QLocale::setDefault(QLocale::system());
}

TEST(BlockDiagramHitTest, BordersAndGapsOpenNothing) {
  struct Case {
    double x, y;
    int block;
  };
  const Case cases[] = {
      {30, 490, -1},  {31, 490, 0},   {114, 490, 0},  {115, 490, -1},   {100, 475, -1},
      {100, 476, 0},  {100, 510, -1}, {120, 490, -1}, {146, 490, 1},    {229, 509, 1},
      {230, 490, -1}, {276, 476, 2},  {360, 490, -1}, {300, 350, 3},    {285, 350, -1},
      {300, 300, -1}, {300, 405, -1}, {310, 100, 4},  {335, 100, -1},   {310, 75, -1},
      {60, 200, 5},   {90, 200, -1},  {60, 290, -1},  {30.5, 180.5, 5}, {0, 0, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BlockDiagram::BlockAt(QPointF(c.x, c.y)), c.block) << c.x << "," << c.y;
}

TEST_F(ShellTest, DiagramOpensTheBlockEditorAndMarksItGreen) {
  StandInWindow gpio(WindowId::GPIO);
  createMain();
  BlockDiagram* pic = main->picBlkDgm;
  const QImage before = pic->picture();
  // On a border: nothing opens, no flag.
  QTest::mouseClick(pic, Qt::LeftButton, {}, QPoint(285, 100));
  EXPECT_TRUE(testSeam().modalsShown.empty());
  EXPECT_FALSE(pic->visited(4));

  int refreshes = 0;
  SetMainRefreshSection([&] { ++refreshes; });
  QTest::mouseClick(pic, Qt::LeftButton, {}, QPoint(310, 100));
  ASSERT_EQ(testSeam().modalsShown.size(), 1u);
  EXPECT_EQ(testSeam().modalsShown[0], Windows::instance().existing(WindowId::GPIO));
  EXPECT_TRUE(pic->visited(4));
  EXPECT_EQ(refreshes, 1);  // activation after the editor closed

  // The box of width 10 over the GPIO border keeps only green; the inside of
  // the box and the other blocks stay as drawn.
  const QImage& img = pic->picture();
  const qreal dpr = img.devicePixelRatio();
  auto px = [&](const QImage& i, int x, int y) {
    return QColor(i.pixel(int(x * dpr), int(y * dpr)));
  };
  for (QPoint p : {QPoint(285, 140), QPoint(281, 140), QPoint(289, 140), QPoint(310, 75)}) {
    const QColor c = px(img, p.x(), p.y());
    EXPECT_EQ(c.red(), 0) << p.x() << "," << p.y();
    EXPECT_EQ(c.blue(), 0);
    EXPECT_EQ(c.green(), px(before, p.x(), p.y()).green());
  }
  EXPECT_EQ(px(img, 310, 140), px(before, 310, 140));
  EXPECT_EQ(px(img, 30, 490), px(before, 30, 490));
  // Marks stay on later activations.
  main->activated();
  EXPECT_EQ(px(pic->picture(), 285, 140).red(), 0);
  for (int b = 0; b < BlockDiagram::kBlockCount; ++b) EXPECT_EQ(pic->visited(b), b == 4);
  SetMainRefreshSection(nullptr);
}

TEST_F(ShellTest, BlockWithoutAnEditorOpensNothing) {
  NoWindow none(WindowId::UserReg);
  createMain();
  QTest::mouseClick(main->picBlkDgm, Qt::LeftButton, {}, QPoint(60, 200));
  EXPECT_TRUE(testSeam().modalsShown.empty());
  EXPECT_FALSE(main->picBlkDgm->visited(5));
}

TEST_F(ShellTest, PointerChangesOverBlocks) {
  createMain();
  BlockDiagram* pic = main->picBlkDgm;
  QTest::mouseMove(pic, QPoint(100, 490));
  QTRY_VERIFY(pic->showsBlockCursor());
  EXPECT_EQ(pic->cursor().shape(), Qt::BitmapCursor);
  QTest::mouseMove(pic, QPoint(120, 490));
  QTRY_VERIFY(!pic->showsBlockCursor());
  EXPECT_EQ(pic->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ShellTest, ScheduledTxOpensItsWindowAndTurnsGreen) {
  StandInWindow stcon(WindowId::STCON);
  createMain();
  EXPECT_NE(main->cmdSTCON->palette().color(QPalette::Button), QColor(0, 255, 0));
  QTest::mouseClick(main->cmdSTCON, Qt::LeftButton);
  ASSERT_EQ(testSeam().modalsShown.size(), 1u);
  EXPECT_EQ(testSeam().modalsShown[0], Windows::instance().existing(WindowId::STCON));
  EXPECT_EQ(main->cmdSTCON->palette().color(QPalette::Button), QColor(0, 255, 0));
}

TEST_F(ShellTest, PinsAreLaidOutAroundThePicture) {
  createMain(false);
  const QRect pic = main->picBlkDgm->geometry();
  for (int n = 1; n <= 14; ++n) {
    QLabel* label = child<QLabel>(qPrintable(QString("lblPinName_%1").arg(n)));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), frmMain::PinNames()[static_cast<std::size_t>(n - 1)]);
  }
  // Left column pins 1..7 top to bottom, right column 14..8.
  QLabel* gp0 = main->lblPinName[1];
  QLabel* vss = main->lblPinName[7];
  QLabel* vdd = main->lblPinName[14];
  QLabel* gp4 = main->lblPinName[8];
  EXPECT_LT(gp0->y(), vss->y());
  EXPECT_LT(vdd->y(), gp4->y());
  EXPECT_EQ(gp0->y(), vdd->y());
  EXPECT_EQ(vss->y(), gp4->y());
  EXPECT_TRUE(gp0->alignment() & Qt::AlignRight);
  // Markers just outside the picture, labels against their outer edges.
  QFrame* m1 = main->shpPin[1];
  QFrame* m8 = main->shpPin[8];
  EXPECT_EQ(m1->x() + m1->width(), pic.left());
  EXPECT_NEAR(m8->x(), pic.left() + 391, 1);
  EXPECT_EQ(gp0->x() + gp0->width(), m1->x());
  EXPECT_EQ(vdd->x(), m8->x() + m8->width());
  EXPECT_EQ(m1->y(), pic.top() + 7);  // 100 twips below the picture's top
  EXPECT_NEAR(main->shpPin[7]->y() - m1->y(), 6 * 3.5 * m1->height(), 1);
  EXPECT_FALSE(main->shpPin[0]->isVisible());
  EXPECT_FALSE(main->lblPinName[0]->isVisible());
  // "Scheduled TX" level with TXCAN, 1.1 label widths to the right of its left edge.
  QLabel* txcan = main->lblPinName[13];
  EXPECT_EQ(txcan->text(), "TXCAN");
  EXPECT_EQ(main->cmdSTCON->y(), txcan->y());
  EXPECT_NEAR(main->cmdSTCON->x(), txcan->x() + 1.1 * txcan->width(), 1);
  EXPECT_EQ(main->lblTestStatus->x(), pic.left());
  EXPECT_EQ(pic.size(), QSize(390, 563));
}

TEST(WorkAreaFit, OnlyAWindowThatDoesNotFitMoves) {
  const QRect work(10, 20, 800, 600);
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 795, 580), work), QRect(100, 100, 795, 580));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 900, 700), work), QRect(10, 20, 800, 600));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 900, 500), work), QRect(10, 100, 800, 500));
  EXPECT_EQ(FitIntoWorkArea(QRect(100, 100, 500, 650), work), QRect(100, 20, 500, 600));
}

TEST_F(ShellTest, MainWindowFitsTheScreenItOpensOn) {
  createMain(false);
  const QRect work = main->screen()->availableGeometry();
  EXPECT_LE(main->geometry().width(), work.width());
  EXPECT_LE(main->geometry().height(), work.height());
}

TEST_F(ShellTest, PortCheckRunsBeforeFrequencyReadAndRefresh) {
  emulator->setFault(zk7::EmulatorOptions::NoCable);
  App().Fosc = 1;
  for (auto& b : App().image.MemMap) b = 0x12;
  double foscAtCheck = 0;
  int memMapAtCheck = 0;
  testSeam().onMessage = [&](const RecordedMessage&) {
    foscAtCheck = App().Fosc;
    memMapAtCheck = App().image.MemMap[0];
  };
  createMain(false);
  ASSERT_EQ(testSeam().messages.size(), 1u);
  EXPECT_EQ(testSeam().messages[0].title, "Check Parallel Port");
  EXPECT_EQ(testSeam().messages[0].text, "LPT Cable Not Connected");
  EXPECT_EQ(testSeam().messages[0].icon, Seam::Icon::Critical);
  EXPECT_EQ(foscAtCheck, 1.0);
  EXPECT_EQ(memMapAtCheck, 0x12);
  EXPECT_EQ(App().Fosc, 4000000.0);

  // The check runs again on every port choice.
  testSeam().clear();
  emulator->setFault(zk7::EmulatorOptions::WrongAddress);
  main->p3BC->trigger();
  ASSERT_EQ(testSeam().messages.size(), 1u);
  EXPECT_EQ(testSeam().messages[0].text, "Wrong LPT Address");
}

TEST_F(ShellTest, UnreachablePortIsSaidOnceAndShownInTheStatusBar) {
  App().port.setDriver(nullptr);
  zk7::PortChoice choice;
  choice.kind = zk7::PortChoice::Device;
  choice.device = "/dev/zk7-no-such-parport";
  App().port.setChoice(choice);
  createMain(false);
  ASSERT_EQ(testSeam().messages.size(), 1u);
  EXPECT_EQ(testSeam().messages[0].title, "Check Parallel Port");
  EXPECT_EQ(testSeam().messages[0].text, QString::fromStdString(App().port.accessProblem()));
  EXPECT_FALSE(App().port.accessProblem().empty());
  EXPECT_EQ(main->statusPort->text(), "0x378 · not accessible");
  main->p378->trigger();
  EXPECT_EQ(testSeam().messages.size(), 1u);  // the same problem is not said again
  App().port.setChoice(zk7::PortChoiceFromEnvironment());
}
