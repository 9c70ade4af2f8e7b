// The GPIO window driven through its controls.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "editors/frmAtoD.h"
#include "editors/frmGPIO.h"
#include "gui_support/fixture.h"
#include "shell/refresh.h"

using namespace zk7;

// Readable failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace {

class GpioWindow : public GuiTest {
 protected:
  frmGPIO* open() {
    auto* w = window<frmGPIO>(WindowId::GPIO);
    w->show();
    QApplication::processEvents();
    return w;
  }
  template <class T>
  T* get(const QString& name) {
    T* c = w_->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name.toStdString();
    return c;
  }
  void click(const QString& name) { QTest::mouseClick(get<QAbstractButton>(name), Qt::LeftButton); }
  QCheckBox* box(const QString& name) { return get<QCheckBox>(name); }
  QRadioButton* opt(int f, int pin) {
    return get<QRadioButton>(QString("optPinFunc%1_%2").arg(f).arg(pin));
  }
  bool bit(int reg, int n) { return (regs().reg(reg) >> n) & 1; }
  void SetUp() override {
    GuiTest::SetUp();
    w_ = open();
  }
  frmGPIO* w_ = nullptr;
};

}  // namespace

TEST_F(GpioWindow, Gp2BetweenAnalogAndPwm) {
  click("optPinFunc2_2");  // PWM1
  EXPECT_TRUE(bit(T1CON, 7));
  EXPECT_FALSE(bit(GPDDR, 2));
  EXPECT_FALSE(box("chkPinDir_2")->isChecked());
  EXPECT_EQ(editor_ui::BackColour(box("chkPinDir_2")), editor_ui::kYellow);
  EXPECT_EQ(box("chkTXonCng_2")->text(), "");
  EXPECT_FALSE(box("chkTXonCng_2")->isEnabled());

  click("optPinFunc1_2");  // AN2
  EXPECT_FALSE(bit(T1CON, 7));
  EXPECT_TRUE(bit(GPDDR, 2));
  EXPECT_FALSE(bit(ADCON1, 2));
  EXPECT_TRUE(box("chkPinDir_2")->isChecked());
  EXPECT_EQ(editor_ui::BackColour(box("chkPinDir_2")), editor_ui::kGreen);
  EXPECT_EQ(box("chkTXonCng_2")->text(), "Edge Detect");

  click("optPinFunc2_2");  // PWM1 again: the analog bit stays, the pin reads as PWM
  EXPECT_TRUE(bit(T1CON, 7));
  EXPECT_FALSE(bit(GPDDR, 2));
  EXPECT_FALSE(bit(ADCON1, 2));
  RefreshAll();
  EXPECT_TRUE(opt(2, 2)->isChecked());

  click("chkPinDir_2");  // input: back to digital, PWM off
  EXPECT_TRUE(opt(0, 2)->isChecked());
  EXPECT_TRUE(bit(ADCON1, 2));
  EXPECT_FALSE(bit(T1CON, 7));
  EXPECT_TRUE(bit(GPDDR, 2));
  EXPECT_EQ(editor_ui::BackColour(box("chkPinDir_2")), editor_ui::kMagenta);
  EXPECT_EQ(w_->txtGPIO(6)->text(), "04");
}

TEST_F(GpioWindow, Gp7ResetInputRewritesConfigWord) {
  regs().setConfigWord(0x1203);  // GP7 digital, a stray high byte
  regs().set(GPDDR, 0x7F);       // GP7 output
  RefreshAll();
  EXPECT_TRUE(opt(0, 7)->isChecked());

  click("optPinFunc2_7");  // nRST
  EXPECT_EQ(regs().ConfigWord(), 0x0007);
  EXPECT_TRUE(bit(GPDDR, 7));
  EXPECT_TRUE(opt(2, 7)->isChecked());
  EXPECT_TRUE(box("chkPinDir_7")->isChecked());
  EXPECT_EQ(box("chkTXonCng_7")->text(), "");
  EXPECT_FALSE(box("chkTXonCng_7")->isEnabled());
  EXPECT_EQ(get<QLabel>("lblConfigWord")->text(), "Config Word = 0x07");

  click("optPinFunc0_7");  // digital input: edge detection comes back
  EXPECT_EQ(regs().ConfigWord(), 0x0003);
  EXPECT_TRUE(box("chkTXonCng_7")->isEnabled());
  EXPECT_EQ(box("chkTXonCng_7")->text(), "Edge Detect");
  EXPECT_EQ(get<QLabel>("lblConfigWord")->text(), "Config Word = 0x03");
}

TEST_F(GpioWindow, OutputPinKeepsEdgeDetectBit) {
  click("chkTXonCng_1");
  EXPECT_TRUE(bit(IOINTEN, 1));
  EXPECT_EQ(editor_ui::BackColour(box("chkTXonCng_1")), editor_ui::kGreen);
  EXPECT_TRUE(box("chkPolarity_1")->isEnabled());
  click("chkPolarity_1");
  EXPECT_TRUE(bit(IOINTPO, 1));

  // GP1 is analog by default: making it an output makes it digital too.
  click("chkPinDir_1");
  EXPECT_FALSE(bit(GPDDR, 1));
  EXPECT_TRUE(bit(ADCON1, 1));
  EXPECT_TRUE(opt(0, 1)->isChecked());
  EXPECT_EQ(box("chkTXonCng_1")->text(), "");
  EXPECT_FALSE(box("chkTXonCng_1")->isEnabled());
  EXPECT_TRUE(box("chkTXonCng_1")->isChecked());
  EXPECT_TRUE(bit(IOINTEN, 1));
  EXPECT_EQ(w_->txtGPIO(3)->text(), "02");

  click("chkTXonCng_0");  // on, then off again: red, polarity disabled
  click("chkTXonCng_0");
  EXPECT_FALSE(bit(IOINTEN, 0));
  EXPECT_EQ(editor_ui::BackColour(box("chkTXonCng_0")), editor_ui::kRed);
  EXPECT_FALSE(box("chkPolarity_0")->isEnabled());
}

TEST_F(GpioWindow, ReferencePinsTurnDigitalAsOutputs) {
  for (int pin : {4, 5}) {
    const int vrefBit = pin == 4 ? 5 : 4;
    click(QString("optPinFunc2_%1").arg(pin));
    EXPECT_TRUE(bit(ADCON1, vrefBit));
    EXPECT_TRUE(bit(GPDDR, pin));
    click(QString("chkPinDir_%1").arg(pin));  // output
    EXPECT_FALSE(bit(ADCON1, vrefBit));
    EXPECT_FALSE(bit(GPDDR, pin));
    EXPECT_TRUE(opt(0, pin)->isChecked());
    click(QString("chkPinDir_%1").arg(pin));  // input again keeps it digital
    EXPECT_TRUE(opt(0, pin)->isChecked());
    EXPECT_FALSE(bit(ADCON1, vrefBit));

    // A reference pin stored as an output stays a reference when made an input.
    SetRegisterBit(regs(), ADCON1, vrefBit, true);
    SetRegisterBit(regs(), GPDDR, pin, false);
    RefreshAll();
    click(QString("chkPinDir_%1").arg(pin));
    EXPECT_TRUE(opt(2, pin)->isChecked());
    EXPECT_TRUE(bit(ADCON1, vrefBit));
    EXPECT_EQ(editor_ui::BackColour(box(QString("chkPinDir_%1").arg(pin))), editor_ui::kYellow);
    click(QString("optPinFunc0_%1").arg(pin));
  }
  EXPECT_EQ(regs()[ADCON1] & 0x30, 0);
}

TEST_F(GpioWindow, ClockOutputAndPrescaler) {
  auto* cmb = get<QComboBox>("cmbCLKPre");
  EXPECT_FALSE(cmb->isVisible());  // default OPTREG1 0xF0: GP6 digital
  click("optPinFunc2_6");          // CLK
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
  QTest::keyClick(cmb, Qt::Key_Home);
  EXPECT_EQ(regs()[OPTREG1], 0x8F);

  click("chkPinDir_6");  // input: digital, list hidden
  EXPECT_TRUE(bit(OPTREG1, 6));
  EXPECT_TRUE(opt(0, 6)->isChecked());
  EXPECT_FALSE(cmb->isVisible());
  click("chkPinDir_6");  // output keeps GP6 digital
  EXPECT_TRUE(opt(0, 6)->isChecked());
}

TEST_F(GpioWindow, PullupLatchAndConnector) {
  EXPECT_TRUE(box("chkPullup")->isChecked());  // default OPTREG1 bit 7
  EXPECT_EQ(w_->Connector->X2(), 6360);
  EXPECT_EQ(w_->Connector->Y2(), 2520);
  click("chkPullup");
  EXPECT_FALSE(bit(OPTREG1, 7));
  EXPECT_EQ(w_->Connector->X2(), 5760);
  EXPECT_EQ(w_->Connector->Y2(), 2280);

  EXPECT_EQ(box("chkGPLAT_3")->text(), "0");
  click("chkGPLAT_3");
  EXPECT_EQ(regs()[GPLAT], 0x08);
  EXPECT_EQ(box("chkGPLAT_3")->text(), "1");
  EXPECT_EQ(w_->txtGPIO(2)->text(), "08");
  EXPECT_EQ(w_->findChild<QCheckBox*>("chkGPLAT_7"), nullptr);
}

TEST_F(GpioWindow, ContradictoryRegistersShownAsStored) {
  // GP2 on PWM but an input, GP0 analog but an output, GP7 reset but an output
  // (the last is the chip's default).
  regs().set(T1CON, 0x80);
  regs().set(ADCON1, 0x0A);
  regs().set(GPDDR, 0x04);
  const RegisterSet before = regs();
  RefreshAll();
  EXPECT_EQ(regs(), before);
  EXPECT_TRUE(opt(2, 2)->isChecked());
  EXPECT_TRUE(box("chkPinDir_2")->isChecked());
  EXPECT_TRUE(opt(1, 0)->isChecked());
  EXPECT_FALSE(box("chkPinDir_0")->isChecked());
  EXPECT_TRUE(opt(2, 7)->isChecked());
  EXPECT_FALSE(box("chkPinDir_7")->isChecked());
  EXPECT_EQ(w_->txtGPIO(1)->text(), "04");

  // The next change on a pin applies its rules.
  click("chkPinDir_2");  // output: PWM stays
  EXPECT_TRUE(bit(T1CON, 7));
  click("chkPinDir_7");  // input: digital
  EXPECT_EQ(regs().ConfigWord() & kConfigGP7Reset, 0);
}

TEST_F(GpioWindow, ActivationShowsOtherWindowsChanges) {
  w_->hide();
  regs().set(GPLAT, 0x41);
  regs().set(OPTREG1, 0x30);  // pull-up off, CLK, Fosc / 8
  Seam::instance().execModal(w_);
  EXPECT_TRUE(box("chkGPLAT_6")->isChecked());
  EXPECT_FALSE(box("chkPullup")->isChecked());
  EXPECT_FALSE(get<QComboBox>("cmbCLKPre")->isHidden());
  EXPECT_EQ(w_->txtGPIO(2)->text(), "41");
  EXPECT_EQ(w_->txtGPIO(5)->text(), "30");

  click("cmdOK");
  EXPECT_FALSE(w_->isVisible());
  Seam::instance().execModal(w_);
  click("cmdCancel");  // hides, undoes nothing
  EXPECT_FALSE(w_->isVisible());
  EXPECT_EQ(regs()[GPLAT], 0x41);
}

TEST_F(GpioWindow, SecondVariantHidesAnalogControls) {
  w_->deviceVariantChanged(true);
  for (int n = 0; n < 4; ++n) EXPECT_FALSE(opt(1, n)->isVisible());
  EXPECT_FALSE(opt(2, 4)->isVisible());
  EXPECT_FALSE(opt(2, 5)->isVisible());
  EXPECT_TRUE(opt(2, 2)->isVisible());
  EXPECT_FALSE(w_->lblAddr(6)->isVisible());
  w_->deviceVariantChanged(false);
  for (int n = 0; n < 4; ++n) EXPECT_TRUE(opt(1, n)->isVisible());
  EXPECT_TRUE(w_->txtGPIO(6)->isVisible());
}

TEST_F(GpioWindow, Screenshot) {
  const QString dir = qEnvironmentVariable("ZK7_SCREENSHOT_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "ZK7_SCREENSHOT_DIR not set";
  EXPECT_TRUE(w_->grab().save(dir + "/gpio.png"));
}
