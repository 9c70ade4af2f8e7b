// The A/D converter window driven through its controls.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "editors/frmAtoD.h"
#include "editors/frmGPIO.h"
#include "gui_support/fixture.h"
#include "model/atod.h"
#include "shell/refresh.h"

using namespace zk7;

// Readable failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace {

class AtoDWindow : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    w_ = window<frmAtoD>(WindowId::AtoD);
    w_->show();
    QApplication::processEvents();
  }
  template <class T>
  T* get(const QString& name) {
    T* c = w_->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name.toStdString();
    return c;
  }
  void click(const QString& name) { QTest::mouseClick(get<QAbstractButton>(name), Qt::LeftButton); }
  // Picks a list line with the keyboard, as a user without the mouse would.
  void choose(const QString& name, int line) {
    auto* c = get<QComboBox>(name);
    QTest::keyClick(c, Qt::Key_Home);
    for (int i = 0; i < line; ++i) QTest::keyClick(c, Qt::Key_Down);
    ASSERT_EQ(c->currentIndex(), line);
  }
  QString text(const QString& name) { return get<QLineEdit>(name)->text(); }
  // Moves the focus into a reference box, types, and leaves it.
  void typeReference(const QString& name, const QString& keys) {
    auto* box = get<QLineEdit>(name);
    box->setFocus();
    QApplication::processEvents();
    QTest::keyClicks(box, keys);
    get<QWidget>("cmbAtoDConv")->setFocus();
    QApplication::processEvents();
  }
  frmAtoD* w_ = nullptr;
};

}  // namespace

TEST_F(AtoDWindow, ConversionClockTexts) {
  App().Fosc = 20000000.0;
  regs().set(ADCON1, 0x2A);
  RefreshAll();
  choose("cmbAtoDConv", 2);  // Fosc / 32
  EXPECT_EQ(text("txtAtoDConv"), "0.625");
  EXPECT_EQ(regs()[ADCON1], 0xAA);
  choose("cmbAtoDConv", 1);
  EXPECT_EQ(text("txtAtoDConv"), "2.5");
  choose("cmbAtoDConv", 3);  // RESERVED
  EXPECT_EQ(text("txtAtoDConv"), "--Frc--");
  EXPECT_EQ(regs()[ADCON1], 0xEA);
  EXPECT_EQ(w_->txtAtoDReg(3)->text(), "EA");
}

TEST_F(AtoDWindow, AcquisitionAndIntervalTexts) {
  regs().set(OPTREG1, 0xF0);
  regs().set(ADCON0, 0x8F);
  RefreshAll();
  choose("cmbAtoDAQT", 3);  // 8 * (64 / Tosc)
  EXPECT_EQ(text("txtAtoDAQT"), "128");
  EXPECT_EQ(regs()[OPTREG1], 0xF3);
  choose("cmbAutoConv", 7);  // 1:4096
  EXPECT_EQ(text("txtAutoConv"), "1048.576");
  EXPECT_EQ(regs()[ADCON0], 0xFF);

  // A new frequency shows at the next activation; with none the times cannot be had.
  w_->hide();
  App().Fosc = 20000000.0;
  Seam::instance().execModal(w_);
  EXPECT_EQ(text("txtAtoDAQT"), "25.6");
  EXPECT_EQ(text("txtAtoDConv"), "10");
  App().Fosc = 0;
  Seam::instance().execModal(w_);
  EXPECT_EQ(text("txtAtoDAQT"), "--");
  EXPECT_EQ(text("txtAutoConv"), "--");
  EXPECT_EQ(text("txtAtoDConv"), "0");
}

TEST_F(AtoDWindow, ThresholdSliderEnds) {
  auto* s = get<QSlider>("CMPSlider_1");
  s->triggerAction(QAbstractSlider::SliderToMaximum);  // bottom: code 0
  EXPECT_EQ(regs()[ADCMP1H], 0x00);
  EXPECT_EQ(regs()[ADCMP1L], 0x00);
  EXPECT_EQ(text("txtVcmp_1"), "0");
  EXPECT_EQ(s->toolTip(), "0");
  QTest::keyClick(s, Qt::Key_Up);  // the handle moves up, the threshold rises
  EXPECT_EQ(ThresholdCode(regs(), 1), 1);
  EXPECT_EQ(s->value(), 1022);
  s->triggerAction(QAbstractSlider::SliderToMinimum);  // top: code 1023
  EXPECT_EQ(regs()[ADCMP1H], 0xFF);
  EXPECT_EQ(regs()[ADCMP1L], 0xC0);
  EXPECT_EQ(text("txtVcmp_1"), "4.9951171875");
  EXPECT_EQ(s->toolTip(), "1023");
  EXPECT_EQ(w_->txtAtoDReg(9)->text(), "FF");
  EXPECT_EQ(w_->txtAtoDReg(10)->text(), "C0");
  // Other channels untouched.
  EXPECT_EQ(regs()[ADCMP0H], 0xFF);

  regs().set(ADCMP2H, 0x80);
  regs().set(ADCMP2L, 0x40);
  RefreshAll();
  EXPECT_EQ(get<QSlider>("CMPSlider_2")->value(), 1023 - 513);
  EXPECT_EQ(get<QSlider>("CMPSlider_2")->toolTip(), "513");
}

TEST_F(AtoDWindow, ReferenceScale) {
  w_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w_));
  typeReference("txtVrefM", "1x");  // the letter never appears
  typeReference("txtVrefP", "4");
  EXPECT_EQ(text("txtVrefM"), "1");
  EXPECT_EQ(w_->scale().span, 3.0);
  EXPECT_EQ(w_->scale().base, 1.0);
  // The shown thresholds follow the new scale at once.
  EXPECT_EQ(text("txtVcmp_0"), "3.9970703125");
  get<QSlider>("CMPSlider_0")->setValue(1023 - 512);
  EXPECT_EQ(text("txtVcmp_0"), "2.5");

  // Backspace is ignored; a text that is no number keeps the scale.
  auto* box = get<QLineEdit>("txtVrefP");
  box->setFocus();
  QApplication::processEvents();
  QTest::keyClick(box, Qt::Key_End);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(box->text(), "4");
  QTest::keyClicks(box, "..");
  EXPECT_EQ(box->text(), "4..");
  get<QWidget>("cmbAtoDConv")->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(w_->scale().span, 3.0);
  EXPECT_EQ(box->maxLength(), 4);
}

TEST_F(AtoDWindow, ConverterChannelsAndReferences) {
  auto* on = get<QCheckBox>("chkADON");
  EXPECT_EQ(on->text(), "A/D Converter is OFF");
  EXPECT_EQ(editor_ui::BackColour(on), editor_ui::kRed);
  click("chkADON");
  EXPECT_EQ(regs()[ADCON0], 0x80);
  EXPECT_EQ(on->text(), "A/D Converter is ON");
  EXPECT_EQ(editor_ui::BackColour(on), editor_ui::kGreen);

  regs().set(ADCON1, 0x0F);
  regs().set(GPDDR, 0x70);
  RefreshAll();
  auto* an3 = get<QCheckBox>("chkAtoDEnable_3");
  EXPECT_EQ(an3->text(), "OFF");
  click("chkAtoDEnable_3");  // analog input
  EXPECT_EQ(regs()[GPDDR], 0x78);
  EXPECT_EQ(regs()[ADCON1], 0x07);
  EXPECT_EQ(an3->text(), "ON");
  click("chkAtoDEnable_3");  // digital, still an input
  EXPECT_EQ(regs()[GPDDR], 0x78);
  EXPECT_EQ(regs()[ADCON1], 0x0F);

  click("optVrefP");
  click("optVrefM");
  EXPECT_EQ(regs()[ADCON1], 0x3F);
  click("optVDD");
  EXPECT_EQ(regs()[ADCON1], 0x2F);
  click("optVSS");
  EXPECT_EQ(regs()[ADCON1], 0x0F);
  EXPECT_EQ(regs()[GPDDR], 0x78);  // references leave directions alone

  click("chkThreshPol_2");
  EXPECT_EQ(regs()[IOINTPO], 0x04);
}

TEST_F(AtoDWindow, LoadMakesAnalogPinsInputs) {
  Windows::instance().destroyAll();
  regs().set(GPDDR, 0x50);
  window<frmAtoD>(WindowId::AtoD);
  EXPECT_EQ(regs()[GPDDR], 0x5F);
}

TEST_F(AtoDWindow, ThresholdDetectionIsGpioEdgeDetect) {
  w_->hide();
  auto* gpio = window<frmGPIO>(WindowId::GPIO);
  Seam::instance().execModal(w_);
  click("chkVcmpON_0");
  EXPECT_EQ(get<QCheckBox>("chkVcmpON_0")->text(), "ON");
  EXPECT_EQ(regs()[IOINTEN], 0x01);
  w_->hide();

  gpio->show();  // activation refreshes every window
  QApplication::processEvents();
  auto* edge0 = gpio->findChild<QCheckBox*>("chkTXonCng_0");
  EXPECT_TRUE(edge0->isChecked());
  QTest::mouseClick(gpio->findChild<QCheckBox*>("chkTXonCng_2"), Qt::LeftButton);
  QTest::mouseClick(edge0, Qt::LeftButton);
  EXPECT_EQ(regs()[IOINTEN], 0x04);
  gpio->hide();

  Seam::instance().execModal(w_);
  EXPECT_FALSE(get<QCheckBox>("chkVcmpON_0")->isChecked());
  EXPECT_TRUE(get<QCheckBox>("chkVcmpON_2")->isChecked());
  EXPECT_EQ(get<QCheckBox>("chkVcmpON_2")->text(), "ON");
  EXPECT_EQ(w_->txtAtoDReg(4)->text(), "04");
}

TEST_F(AtoDWindow, Screenshot) {
  const QString dir = qEnvironmentVariable("ZK7_SCREENSHOT_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "ZK7_SCREENSHOT_DIR not set";
  EXPECT_TRUE(w_->grab().save(dir + "/atod.png"));
}
