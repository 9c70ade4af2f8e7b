// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The GPIO window driven through its controls.
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>

#include "editors/frmGPIO.h"
#include "gui/refresh.h"
#include "gui_support/controls.h"
#include "gui_support/fixture.h"

using namespace zk7;
using editor_ui::BackColour;

namespace {

class GpioWindow : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    w_ = shown<frmGPIO>(WindowId::GPIO);
  }
  void click(const QString& name) { Click(w_, name); }
  QCheckBox* box(const QString& name) { return Find<QCheckBox>(w_, name); }
  QRadioButton* opt(int f, int pin) {
    return Find<QRadioButton>(w_, QString("optPinFunc%1_%2").arg(f).arg(pin));
  }
  bool bit(int reg, int n) { return (regs().reg(reg) >> n) & 1; }
  // The named register bits as a string of 0s and 1s.
  QString bits(std::initializer_list<std::pair<int, int>> regBits) {
    QString s;
    for (auto [reg, n] : regBits) s += bit(reg, n) ? '1' : '0';
    return s;
  }
  frmGPIO* w_ = nullptr;
};

}  // namespace

TEST_F(GpioWindow, Gp2BetweenAnalogAndPwm) {
  auto gp2 = [&] { return bits({{T1CON, 7}, {GPDDR, 2}, {ADCON1, 2}}); };
  click("optPinFunc2_2");  // PWM1: forced output, no edge detection
  EXPECT_EQ(gp2().left(2), "10");
  EXPECT_EQ(BackColour(box("chkPinDir_2")), editor_ui::kYellow);
  EXPECT_FALSE(box("chkTXonCng_2")->isEnabled());

  click("optPinFunc1_2");  // AN2: forced input
  EXPECT_EQ(gp2(), "010");
  EXPECT_TRUE(box("chkTXonCng_2")->isEnabled());

  click("optPinFunc2_2");  // PWM1 again: the analog bit stays, the pin reads as PWM
  EXPECT_EQ(gp2(), "100");
  RefreshAll();
  EXPECT_TRUE(opt(2, 2)->isChecked());

  click("chkPinDir_2");  // input: back to digital, PWM off
  EXPECT_TRUE(opt(0, 2)->isChecked());
  EXPECT_EQ(gp2(), "011");
  EXPECT_EQ(BackColour(box("chkPinDir_2")), editor_ui::kMagenta);
  EXPECT_EQ(w_->txtGPIO(6)->text(), "04");
}

TEST_F(GpioWindow, Gp7ResetInputRewritesConfigWord) {
  regs().setConfigWord(0x1203);  // GP7 digital, a stray high byte
  regs().set(GPDDR, 0x7F);       // GP7 output
  RefreshAll();
  click("optPinFunc2_7");  // nRST: forced input, no edge detection
  EXPECT_EQ(regs().ConfigWord(), 0x0007);
  EXPECT_TRUE(bit(GPDDR, 7));
  EXPECT_TRUE(box("chkPinDir_7")->isChecked());
  EXPECT_FALSE(box("chkTXonCng_7")->isEnabled());
  EXPECT_EQ(Text(w_, "lblConfigWord"), "Config Word = 0x07");

  click("optPinFunc0_7");
  EXPECT_EQ(regs().ConfigWord(), 0x0003);
  EXPECT_EQ(Texts(w_, {"chkTXonCng_7", "lblConfigWord"}), "Edge Detect Config Word = 0x03");
}

TEST_F(GpioWindow, OutputPinKeepsEdgeDetectBit) {
  click("chkTXonCng_1");
  click("chkPolarity_1");
  click("chkPinDir_1");  // GP1 is analog by default: an output is digital
  EXPECT_EQ(bits({{IOINTEN, 1}, {IOINTPO, 1}, {GPDDR, 1}, {ADCON1, 1}}), "1101");
  EXPECT_TRUE(opt(0, 1)->isChecked());
  EXPECT_FALSE(box("chkTXonCng_1")->isEnabled());
  EXPECT_EQ(w_->txtGPIO(3)->text(), "02");

  click("chkTXonCng_0");
  click("chkTXonCng_0");
  EXPECT_FALSE(bit(IOINTEN, 0));
  EXPECT_EQ(BackColour(box("chkTXonCng_0")), editor_ui::kRed);
  EXPECT_FALSE(box("chkPolarity_0")->isEnabled());
}

TEST_F(GpioWindow, ReferencePinsTurnDigitalAsOutputs) {
  for (int pin : {4, 5}) {
    const int vrefBit = pin == 4 ? 5 : 4;
    const QString dir = QString("chkPinDir_%1").arg(pin);
    auto ref = [&] { return bits({{ADCON1, vrefBit}, {GPDDR, pin}}); };
    click(QString("optPinFunc2_%1").arg(pin));
    EXPECT_EQ(ref(), "11");
    click(dir);  // output
    EXPECT_EQ(ref(), "00");
    click(dir);  // input again keeps it digital
    EXPECT_TRUE(opt(0, pin)->isChecked());
    EXPECT_EQ(ref(), "01");

    // A reference pin stored as an output stays a reference when made an input.
    SetRegisterBit(regs(), ADCON1, vrefBit, true);
    SetRegisterBit(regs(), GPDDR, pin, false);
    RefreshAll();
    click(dir);
    EXPECT_TRUE(opt(2, pin)->isChecked());
    EXPECT_EQ(ref(), "11");
    EXPECT_EQ(BackColour(box(dir)), editor_ui::kYellow);
    click(QString("optPinFunc0_%1").arg(pin));
  }
  EXPECT_EQ(regs()[ADCON1] & 0x30, 0);
}

TEST_F(GpioWindow, ClockOutputAndPrescaler) {
  auto* cmb = Find<QComboBox>(w_, "cmbCLKPre");
  EXPECT_FALSE(cmb->isVisible());
  click("optPinFunc2_6");  // CLK: forced output
  EXPECT_EQ(regs()[OPTREG1], 0xB0);
  EXPECT_FALSE(bit(GPDDR, 6));
  EXPECT_TRUE(cmb->isVisible());
  EXPECT_EQ(cmb->currentText(), "Fosc / 8");

  regs().set(OPTREG1, 0x8F);  // prescaler 00 with every other bit set but CLK
  RefreshAll();
  EXPECT_EQ(cmb->currentText(), "Fosc / 1");
  cmb->setFocus();
  QTest::keyClick(cmb, Qt::Key_Down);
  QTest::keyClick(cmb, Qt::Key_Down);
  EXPECT_EQ(cmb->currentText(), "Fosc / 4");
  EXPECT_EQ(regs()[OPTREG1], 0xAF);

  click("chkPinDir_6");  // input: digital, list hidden
  EXPECT_TRUE(bit(OPTREG1, 6));
  EXPECT_FALSE(cmb->isVisible());
  click("chkPinDir_6");  // output keeps GP6 digital
  EXPECT_TRUE(opt(0, 6)->isChecked());
}

TEST_F(GpioWindow, PullupLatchAndConnector) {
  EXPECT_EQ(std::pair(w_->Connector->x2(), w_->Connector->y2()), std::pair(6360, 2520));
  click("chkPullup");
  EXPECT_FALSE(bit(OPTREG1, 7));
  EXPECT_EQ(std::pair(w_->Connector->x2(), w_->Connector->y2()), std::pair(5760, 2280));

  click("chkGPLAT_3");
  EXPECT_EQ(regs()[GPLAT], 0x08);
  EXPECT_EQ(Text(w_, "chkGPLAT_3") + w_->txtGPIO(2)->text(), "108");
  EXPECT_EQ(w_->findChild<QCheckBox*>("chkGPLAT_7"), nullptr);
}

TEST_F(GpioWindow, ContradictoryRegistersShownAsStored) {
  // GP2 on PWM but an input, GP0 analog but an output, GP7 reset but an output.
  regs().set(T1CON, 0x80);
  regs().set(ADCON1, 0x0A);
  regs().set(GPDDR, 0x04);
  RefreshAll();
  EXPECT_TRUE(opt(2, 2)->isChecked());
  EXPECT_TRUE(box("chkPinDir_2")->isChecked());
  EXPECT_TRUE(opt(1, 0)->isChecked());
  EXPECT_FALSE(box("chkPinDir_0")->isChecked());
  EXPECT_TRUE(opt(2, 7)->isChecked());
  EXPECT_FALSE(box("chkPinDir_7")->isChecked());

  // The next change on a pin applies its rules.
  click("chkPinDir_2");  // output: PWM stays
  EXPECT_TRUE(bit(T1CON, 7));
  click("chkPinDir_7");  // input: digital
  EXPECT_EQ(regs().ConfigWord() & kConfigGP7Reset, 0);
}

TEST_F(GpioWindow, ActivationShowsOtherWindowsChangesAndButtonsHide) {
  w_->hide();
  regs().set(OPTREG1, 0x30);  // pull-up off, CLK, Fosc / 8
  // OK and Cancel both hide the window and keep every change made in it.
  for (const char* button : {"cmdOK", "cmdCancel"}) {
    testSeam().onModal = [&](QDialog*) {
      EXPECT_FALSE(box("chkPullup")->isChecked());
      EXPECT_FALSE(Find<QComboBox>(w_, "cmbCLKPre")->isHidden());
      click("chkGPLAT_0");
      click(button);
      EXPECT_FALSE(w_->isVisible());
      return 0;
    };
    const int latch = regs()[GPLAT];
    Seam::instance().execModal(w_);
    EXPECT_EQ(regs()[GPLAT], latch ^ 1) << button;
  }
}

TEST_F(GpioWindow, SecondVariantHidesAnalogControls) {
  w_->deviceVariantChanged(true);
  for (int n = 0; n < 4; ++n) EXPECT_FALSE(opt(1, n)->isVisible());
  EXPECT_FALSE(opt(2, 4)->isVisible());
  EXPECT_FALSE(opt(2, 5)->isVisible());
  EXPECT_FALSE(w_->lblAddr(6)->isVisible());
  EXPECT_TRUE(opt(2, 2)->isVisible());
  w_->deviceVariantChanged(false);
  EXPECT_TRUE(opt(1, 3)->isVisible());
  EXPECT_TRUE(w_->txtGPIO(6)->isVisible());
}
