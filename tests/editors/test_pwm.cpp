#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <cstdlib>

#include "editors/frmDCSlider.h"
#include "editors/frmPWM.h"
#include "editors/frmPWMSlider.h"
#include "gui_support/fixture.h"
#include "model/format.h"
#include "model/pwm.h"
#include "shell/refresh.h"

using namespace zk7;

namespace {

QString Text(QWidget* w, const char* name) {
  if (auto* e = w->findChild<QLineEdit*>(name)) return e->text();
  if (auto* l = w->findChild<QLabel*>(name)) return l->text();
  if (auto* b = w->findChild<QAbstractButton*>(name)) return b->text();
  ADD_FAILURE() << "no control " << name;
  return {};
}

// The five derived value boxes, in the order period, frequency, resolution,
// duty-cycle time, duty cycle.
QStringList Figures(QWidget* w) {
  QStringList l;
  for (const char* box : {"txtPWMPeriod", "txtPWMFreq", "txtPWMResolution", "txtDCPeriod", "txtDC"})
    l << Text(w, box);
  return l;
}

void Click(QWidget* w, const char* name) {
  auto* b = w->findChild<QAbstractButton*>(name);
  ASSERT_NE(b, nullptr) << name;
  QTest::mouseClick(b, Qt::LeftButton);
}

void SlideTo(QSlider* s, int v) {
  QTest::keyClick(s, Qt::Key_Home);
  while (s->value() < v) s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

// Picture presses in logical pixels (15 twips each).
void Press(frmPWM* w, int x, int y) {
  QTest::mouseClick(w->picPWM, Qt::LeftButton, {}, QPoint(x, y));
}
constexpr int kPeriodX = 100, kPeriodY = 24, kDutyX = 100, kDutyY = 160;

class PwmEditor : public GuiTest {
 protected:
  void TearDown() override {
    SetMainRefreshSection(nullptr);
    GuiTest::TearDown();
  }
  // Opened the way the block diagram does: shown, then its events processed.
  frmPWM* open(WindowId id) {
    frmPWM* w = window<frmPWM>(id);
    w->show();
    QApplication::processEvents();
    return w;
  }
  void countMainRefreshes() {
    SetMainRefreshSection([this] { ++refreshes; });
  }
  int refreshes = 0;
};

TEST_F(PwmEditor, DerivedValuesAndRegisterDisplay) {
  App().Fosc = 20000000.0;
  regs().set(PR1, 0xFF);
  regs().set(PWM1DCH, 0x80);  // DC = 512
  regs().set(T1CON, 0x80);
  frmPWM* w = open(WindowId::PWM1);
  EXPECT_EQ(Figures(w), QStringList({"51.2", "19.53125", "10", "25.6", "50"}));
  EXPECT_EQ(Text(w, "txtPWMReg_1") + Text(w, "txtPWMReg_2") + Text(w, "txtPWMReg_3"), "80FF80");
  EXPECT_EQ(Text(w, "lblAddr_3"), "PWM1DCH");
  EXPECT_EQ(Text(w, "chkPWMEnable"), "ON");
  EXPECT_EQ(w->chkPWMEnable->palette().color(QPalette::Window), QColor(0, 255, 0));

  // PR 0 at 4 MHz with the duty code at its top: P = 1 us, DC far above 100 %.
  App().Fosc = 4000000.0;
  regs().set(PR1, 0);
  regs().set(PWM1DCH, 0xFF);
  regs().set(T1CON, 0x03);
  RefreshAll();
  EXPECT_EQ(Figures(w), QStringList({"1", "1000", "2", "255.75", "25575"}));
  EXPECT_EQ(Text(w, "chkPWMEnable"), "OFF");
}

TEST_F(PwmEditor, EnableAndPrescalerWriteOnlyTheirBits) {
  regs().set(T1CON, 0x03);
  regs().set(T2CON, 0x42);
  frmPWM* w = open(WindowId::PWM1);
  Click(w, "chkPWMEnable");
  EXPECT_EQ(regs()[T1CON], 0x83);
  EXPECT_EQ(Text(w, "chkPWMEnable"), "ON");
  Click(w, "opt4");
  EXPECT_EQ(regs()[T1CON], 0x93);
  EXPECT_EQ(PwmState().Prescale1, 4);
  Click(w, "chkPWMEnable");
  EXPECT_EQ(regs()[T1CON], 0x13);
  EXPECT_EQ(Text(w, "chkPWMEnable"), "OFF");

  // The twin writes its own module's register and prescale number only.
  frmPWM* w2 = open(WindowId::PWM2);
  EXPECT_EQ(Text(w2, "lblAddr_2"), "PR2");
  Click(w2, "opt4");
  Click(w2, "chkPWMEnable");
  EXPECT_EQ(regs()[T2CON], 0xD2);
  EXPECT_EQ(regs()[T1CON], 0x13);
  EXPECT_EQ(PwmState().Prescale1, 4);

  // A stored prescaler 11 shows "16" and computes with 16; choosing "16" writes 10.
  App().Fosc = 20000000.0;
  regs().set(T2CON, 0x31);
  regs().set(PR2, 0xFF);
  RefreshAll();  // shown as stored, computed with 16
  EXPECT_EQ(regs()[T2CON], 0x31);
  EXPECT_TRUE(w2->opt16->isChecked());
  EXPECT_EQ(PwmState().Prescale2, 16);
  EXPECT_EQ(Text(w2, "txtPWMPeriod"), "819.2");
  Click(w2, "opt16");
  EXPECT_EQ(regs()[T2CON], 0x21);
}

TEST_F(PwmEditor, ZeroOscillatorWarnsOncePerUserActionNeverPerRefresh) {
  App().Fosc = 0;
  regs().set(T1CON, 0x00);
  frmPWM* w = open(WindowId::PWM1);
  ASSERT_EQ(testSeam().messages.size(), 1u);  // the activation
  EXPECT_EQ(testSeam().messages[0].title, "Division by zero");
  EXPECT_EQ(testSeam().messages[0].text, "Error = Division by zero");
  EXPECT_EQ(testSeam().messages[0].icon, Seam::Icon::Critical);
  EXPECT_EQ(Figures(w), QStringList({"--", "--", "--", "--", "--"}));

  for (int i = 0; i < 5; ++i) RefreshAll();
  EXPECT_EQ(testSeam().messages.size(), 1u);

  // The rule still writes its bits, and the register display follows.
  Click(w, "chkPWMEnable");
  EXPECT_EQ(regs()[T1CON], 0x80);
  EXPECT_EQ(Text(w, "txtPWMReg_1"), "80");
  EXPECT_EQ(testSeam().messages.size(), 2u);

  // The period dialog shows no time, and its close gives one message.
  testSeam().onModal = [](QDialog* d) {
    EXPECT_EQ(d->findChild<QLabel*>("lblPWMResult")->text(), "--");
    return 0;
  };
  Press(w, kPeriodX, kPeriodY);
  EXPECT_EQ(testSeam().messages.size(), 3u);
}

TEST_F(PwmEditor, PictureLabelsOpenTheirDialogsInsideOpenBounds) {
  frmPWM* w = open(WindowId::PWM2);
  EditorWindow* period = Windows::instance().get(WindowId::PWMSlider);
  EditorWindow* duty = Windows::instance().get(WindowId::DCSlider);
  PwmState().PWMSelect = 1;
  Press(w, 46, kPeriodY);   // X = 690 twips
  Press(w, kPeriodX, 17);   // Y = 255 twips
  Press(w, 258, kPeriodY);  // X = 3870 twips
  Press(w, 200, 60);        // in the picture, on no label
  EXPECT_TRUE(testSeam().modalsShown.empty());
  EXPECT_EQ(PwmState().PWMSelect, 2);  // any press selects the module

  Press(w, 257, 29);
  Press(w, 188, 160);  // X = 2820: right of the duty label
  Press(w, 47, 148);
  ASSERT_EQ(testSeam().modalsShown.size(), 2u);
  EXPECT_EQ(testSeam().modalsShown[0], period);
  EXPECT_EQ(testSeam().modalsShown[1], duty);
}

TEST_F(PwmEditor, ActivationRunsTheSummaryRefreshInPwm1Only) {
  countMainRefreshes();
  frmPWM* w1 = open(WindowId::PWM1);
  EXPECT_EQ(refreshes, 1);
  Press(w1, kPeriodX, kPeriodY);  // the dialog closes: PWM1 is in front again
  EXPECT_EQ(refreshes, 2);
  Press(w1, 200, 60);
  EXPECT_EQ(refreshes, 2);

  frmPWM* w2 = open(WindowId::PWM2);
  Press(w2, kDutyX, kDutyY);
  EXPECT_EQ(refreshes, 2);
  // A message closing over the window is no activation.
  App().Fosc = 0;
  Click(w1, "opt4");
  EXPECT_EQ(testSeam().messages.size(), 1u);
  EXPECT_EQ(refreshes, 2);
}

class PwmSliders : public PwmEditor {};

TEST_F(PwmSliders, PeriodSetWritesTheSelectedModule) {
  App().Fosc = 20000000.0;
  frmPWM* w = open(WindowId::PWM1);
  testSeam().onModal = [](QDialog* d) {
    auto* s = d->findChild<QSlider*>("PWMSlider");
    SlideTo(s, 0xFF);
    EXPECT_EQ(d->findChild<QLabel*>("lblPRegVal")->text(), "FF");
    EXPECT_EQ(d->findChild<QLabel*>("lblPWMResult")->text(), QString::fromUtf8("51.2 \u00B5s"));
    SlideTo(s, 0x12);
    EXPECT_EQ(d->findChild<QLabel*>("lblPRegVal")->text(), "12");
    Click(d, "cmdSet");
    return 0;
  };
  regs().set(PR1, 0x40);
  regs().set(PR2, 0x40);
  Press(w, kPeriodX, kPeriodY);
  EXPECT_EQ(regs()[PR1], 0x12);
  EXPECT_EQ(regs()[PR2], 0x40);
  EXPECT_EQ(Text(w, "txtPWMReg_2"), "12");
  EXPECT_EQ(Text(w, "txtPWMPeriod"), "3.8");

  // Opened for PWM2 next, the slider is where PWM1 left it, not at PR2.
  frmPWM* w2 = open(WindowId::PWM2);
  testSeam().onModal = [](QDialog* d) {
    EXPECT_EQ(d->findChild<QSlider*>("PWMSlider")->value(), 0x12);
    EXPECT_EQ(d->findChild<QLabel*>("lblPRegVal")->text(), "12");
    Click(d, "cmdSet");
    return 0;
  };
  Press(w2, kPeriodX, kPeriodY);
  EXPECT_EQ(regs()[PR2], 0x12);
}

TEST_F(PwmSliders, DutySetKeepsOutputAndPrescalerBits) {
  App().Fosc = 4000000.0;
  regs().set(T2CON, 0xFE);
  frmPWM* w = open(WindowId::PWM2);
  Click(w, "opt4");  // T2CON 0xDE, prescale 4
  testSeam().onModal = [](QDialog* d) {
    SlideTo(d->findChild<QSlider*>("DCSlider"), 0x201);
    EXPECT_EQ(d->findChild<QLabel*>("lblDCRegVal")->text(), "201");
    EXPECT_EQ(d->findChild<QLabel*>("lblDCResult")->text(), QString::fromUtf8("513 \u00B5s"));
    Click(d, "cmdSet");
    return 0;
  };
  Press(w, kDutyX, kDutyY);
  EXPECT_EQ(regs()[PWM2DCH], 0x80);
  EXPECT_EQ(regs()[T2CON], 0x91);  // 7, 5, 4 kept; 6, 3, 2 cleared; low bits 01
  EXPECT_EQ(Text(w, "txtPWMReg_1"), "91");
  EXPECT_EQ(Text(w, "txtDCPeriod"), "513");
}

TEST_F(PwmSliders, CancelRestoresTheSliderAndWritesNothing) {
  frmPWM* w = open(WindowId::PWM1);
  auto* dc = window<frmDCSlider>(WindowId::DCSlider);
  testSeam().onModal = [](QDialog* d) {
    SlideTo(d->findChild<QSlider*>("DCSlider"), 300);
    Click(d, "cmdSet");
    return 0;
  };
  Press(w, kDutyX, kDutyY);
  const RegisterSet before = regs();
  testSeam().onModal = [](QDialog* d) {
    auto* s = d->findChild<QSlider*>("DCSlider");
    QTest::keyClick(s, Qt::Key_End);
    EXPECT_EQ(d->findChild<QLabel*>("lblDCRegVal")->text(), "3FF");
    Click(d, "cmdCancel");
    return 0;
  };
  Press(w, kDutyX, kDutyY);
  EXPECT_EQ(dc->DCSlider->value(), 300);
  EXPECT_EQ(dc->lblDCRegVal->text(), "12C");
  EXPECT_EQ(regs(), before);

  // Escape and the window's close button cancel the same way.
  testSeam().onModal = [](QDialog* d) {
    QTest::keyClick(d->findChild<QSlider*>("DCSlider"), Qt::Key_Home);
    QTest::keyClick(d, Qt::Key_Escape);
    return 0;
  };
  Press(w, kDutyX, kDutyY);
  EXPECT_EQ(dc->DCSlider->value(), 300);
  EXPECT_EQ(regs(), before);
}

// Renders every window of this group into $ZK7_SCREENSHOT_DIR (the docs/ screenshots).
TEST_F(PwmEditor, Screenshots) {
  const char* dir = std::getenv("ZK7_SCREENSHOT_DIR");
  if (!dir) GTEST_SKIP() << "set ZK7_SCREENSHOT_DIR to write screenshots";
  App().Fosc = 20000000.0;
  regs().set(T1CON, 0x81);
  regs().set(PWM1DCH, 0x40);
  RefreshAll();
  for (auto [id, file] : {std::pair{WindowId::PWM1, "pwm1.png"},
                          {WindowId::PWM2, "pwm2.png"},
                          {WindowId::PWMSlider, "pwmslider.png"},
                          {WindowId::DCSlider, "dcslider.png"},
                          {WindowId::STCON, "stcon.png"}}) {
    EditorWindow* w = Windows::instance().get(id);
    w->show();
    QApplication::processEvents();
    EXPECT_TRUE(w->grab().save(QDir(dir).filePath(file)));
    w->hide();
  }
}

}  // namespace
