// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QAbstractButton>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include "editors/frmDCSlider.h"
#include "editors/frmPWM.h"
#include "editors/frmPWMSlider.h"
#include "gui/refresh.h"
#include "gui_support/controls.h"
#include "gui_support/fixture.h"
#include "model/pwm.h"

using namespace zk7;

namespace {

// Period, frequency, resolution, duty-cycle time, duty cycle.
QString Figures(QWidget* w) {
  return Texts(w, {"txtPWMPeriod", "txtPWMFreq", "txtPWMResolution", "txtDCPeriod", "txtDC"});
}

// Picture presses in logical pixels (15 twips each).
void Press(frmPWM* w, QPoint at) {
  QTest::mouseClick(w->picPWM, Qt::LeftButton, {}, at);
}
const QPoint kPeriod(100, 24), kDuty(100, 160), kNoLabel(200, 60);

// A modal handler that steps the dialog's slider up to a value and presses one button.
std::function<int(QDialog*)> SlideAndPress(const char* slider, int value, const char* button) {
  return [=](QDialog* d) {
    auto* s = Find<QSlider>(d, slider);
    QTest::keyClick(s, Qt::Key_Home);
    while (s->value() < value) s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    Click(d, button);
    return 0;
  };
}

class PwmEditor : public GuiTest {
 protected:
  void TearDown() override {
    SetMainRefreshSection(nullptr);
    GuiTest::TearDown();
  }
  frmPWM* open(WindowId id) { return shown<frmPWM>(id); }
};

TEST_F(PwmEditor, DerivedValuesAndRegisterDisplay) {
  App().Fosc = 20000000.0;
  regs().set(PR1, 0xFF);
  regs().set(PWM1DCH, 0x80);  // DC = 512
  regs().set(T1CON, 0x80);
  frmPWM* w = open(WindowId::PWM1);
  EXPECT_EQ(Figures(w), "51.2 19.53125 10 25.6 50");
  EXPECT_EQ(Texts(w, {"txtPWMReg_1", "txtPWMReg_2", "txtPWMReg_3", "chkPWMEnable"}), "80 FF 80 ON");

  // PR 0 at 4 MHz with the duty code at its top: resolution capped, DC far above 100 %.
  App().Fosc = 4000000.0;
  regs().set(PR1, 0);
  regs().set(PWM1DCH, 0xFF);
  regs().set(T1CON, 0x03);
  RefreshAll();
  EXPECT_EQ(Figures(w), "1 1000 2 255.75 25575");
  EXPECT_EQ(Text(w, "chkPWMEnable"), "OFF");
}

TEST_F(PwmEditor, EnableAndPrescalerWriteOnlyTheirBits) {
  regs().set(T1CON, 0x03);
  regs().set(T2CON, 0x42);
  frmPWM* w = open(WindowId::PWM1);
  Click(w, "chkPWMEnable");
  EXPECT_EQ(regs()[T1CON], 0x83);
  Click(w, "opt4");
  EXPECT_EQ(regs()[T1CON], 0x93);
  Click(w, "chkPWMEnable");
  EXPECT_EQ(regs()[T1CON], 0x13);

  // The twin writes its own module's register and prescale number only.
  frmPWM* w2 = open(WindowId::PWM2);
  EXPECT_EQ(Text(w2, "lblAddr_2"), "PR2");
  Click(w2, "opt4");
  Click(w2, "chkPWMEnable");
  EXPECT_EQ(regs()[T2CON], 0xD2);
  EXPECT_EQ(regs()[T1CON], 0x13);

  // A stored prescaler 11 is shown as stored and computes with 16; choosing "16" writes 10.
  App().Fosc = 20000000.0;
  regs().set(T2CON, 0x31);
  regs().set(PR2, 0xFF);
  RefreshAll();
  EXPECT_TRUE(w2->opt16->isChecked());
  EXPECT_EQ(Text(w2, "txtPWMPeriod"), "819.2");
  Click(w2, "opt16");
  EXPECT_EQ(regs()[T2CON], 0x21);
}

TEST_F(PwmEditor, ZeroOscillatorWarnsOncePerUserActionNeverPerRefresh) {
  App().Fosc = 0;
  regs().set(T1CON, 0x00);
  frmPWM* w = open(WindowId::PWM1);
  // The activation's.
  expectMessage("Division by zero", "Error = Division by zero", Seam::Icon::Critical);
  EXPECT_EQ(Figures(w), "-- -- -- -- --");
  for (int i = 0; i < 5; ++i) RefreshAll();
  EXPECT_EQ(testSeam().messages.size(), 1u);

  Click(w, "chkPWMEnable");  // the rule still writes its bits
  EXPECT_EQ(Text(w, "txtPWMReg_1"), "80");
  EXPECT_EQ(testSeam().messages.size(), 2u);

  testSeam().onModal = [](QDialog* d) {
    EXPECT_EQ(Text(d, "lblPWMResult"), "--");
    return 0;
  };
  Press(w, kPeriod);  // the dialog's close is one activation, one message
  EXPECT_EQ(testSeam().messages.size(), 3u);
}

TEST_F(PwmEditor, PictureLabelsOpenTheirDialogsInsideOpenBounds) {
  frmPWM* w = open(WindowId::PWM2);
  PwmState().PWMSelect = 1;
  for (QPoint miss : {QPoint(46, 24), QPoint(100, 17), QPoint(258, 24), kNoLabel})
    Press(w, miss);  // on the label edges, or on no label
  EXPECT_TRUE(testSeam().modalsShown.empty());
  EXPECT_EQ(PwmState().PWMSelect, 2);  // any press selects the module

  for (QPoint hit : {QPoint(257, 29), QPoint(188, 160), QPoint(47, 148)}) Press(w, hit);
  EXPECT_EQ(testSeam().modalsShown,
            (std::vector<QDialog*>{Windows::instance().get(WindowId::PWMSlider),
                                   Windows::instance().get(WindowId::DCSlider)}));

  // Without a mouse: the labels are Tab stops, Enter and Space open their dialogs.
  testSeam().clear();
  PwmState().PWMSelect = 1;
  w->cmdPeriod->setFocus(Qt::TabFocusReason);
  QTest::keyClick(w->cmdPeriod, Qt::Key_Return);
  QTest::keyClick(w->cmdPeriod, Qt::Key_Tab);
  ASSERT_EQ(w->focusWidget(), w->cmdDuty);
  QTest::keyClick(w->cmdDuty, Qt::Key_Space);
  EXPECT_EQ(testSeam().modalsShown,
            (std::vector<QDialog*>{Windows::instance().get(WindowId::PWMSlider),
                                   Windows::instance().get(WindowId::DCSlider)}));
  EXPECT_EQ(PwmState().PWMSelect, 2);
}

TEST_F(PwmEditor, ActivationRunsTheSummaryRefreshInPwm1Only) {
  int refreshes = 0;
  SetMainRefreshSection([&] { ++refreshes; });
  frmPWM* w1 = open(WindowId::PWM1);
  Press(w1, kPeriod);  // the dialog closes: PWM1 is in front again
  Press(w1, kNoLabel);
  EXPECT_EQ(refreshes, 2);

  frmPWM* w2 = open(WindowId::PWM2);
  Press(w2, kDuty);
  App().Fosc = 0;
  Click(w1, "opt4");  // a message closing over the window is no activation
  EXPECT_EQ(testSeam().messages.size(), 1u);
  EXPECT_EQ(refreshes, 2);
}

TEST_F(PwmEditor, SliderSetWritesTheSelectedModuleOnly) {
  App().Fosc = 20000000.0;
  regs().set(PR1, 0x40);
  regs().set(PR2, 0x40);
  testSeam().onModal = SlideAndPress("PWMSlider", 0xFF, "cmdSet");
  Press(open(WindowId::PWM1), kPeriod);
  auto* period = window<frmPWMSlider>(WindowId::PWMSlider);
  EXPECT_EQ(Texts(period, {"lblPRegVal", "lblPWMResult"}), QString::fromUtf8("FF 51.2 \u00B5s"));
  EXPECT_EQ(regs()[PR1], 0xFF);
  EXPECT_EQ(regs()[PR2], 0x40);

  // Opened for PWM2 next, the slider is where PWM1 left it, not at PR2.
  testSeam().onModal = [](QDialog* d) {
    Click(d, "cmdSet");
    return 0;
  };
  Press(open(WindowId::PWM2), kPeriod);
  EXPECT_EQ(regs()[PR2], 0xFF);
}

TEST_F(PwmEditor, DutySetKeepsOutputAndPrescalerBitsAndCancelWritesNothing) {
  regs().set(T2CON, 0xFE);
  frmPWM* w = open(WindowId::PWM2);
  Click(w, "opt4");  // T2CON 0xDE, prescale 4
  testSeam().onModal = SlideAndPress("DCSlider", 0x201, "cmdSet");
  Press(w, kDuty);
  auto* dc = window<frmDCSlider>(WindowId::DCSlider);
  EXPECT_EQ(Texts(dc, {"lblDCRegVal", "lblDCResult"}), QString::fromUtf8("201 513 \u00B5s"));
  EXPECT_EQ(regs()[PWM2DCH], 0x80);
  EXPECT_EQ(regs()[T2CON], 0x91);  // 7, 5, 4 kept; 6, 3, 2 cleared; low bits 01
  EXPECT_EQ(Texts(w, {"txtPWMReg_1", "txtDCPeriod"}), "91 513");

  // Cancel, or Escape, restores the slider and writes nothing.
  const RegisterSet before = regs();
  testSeam().onModal = SlideAndPress("DCSlider", 0x3FF, "cmdCancel");
  Press(w, kDuty);
  EXPECT_EQ(Texts(dc, {"lblDCRegVal"}), "201");
  EXPECT_EQ(dc->DCSlider->value(), 0x201);
  EXPECT_EQ(regs(), before);
  testSeam().onModal = [](QDialog* d) {
    QTest::keyClick(Find<QSlider>(d, "DCSlider"), Qt::Key_Home);
    QTest::keyClick(d, Qt::Key_Escape);
    return 0;
  };
  Press(w, kDuty);
  EXPECT_EQ(dc->DCSlider->value(), 0x201);
  EXPECT_EQ(regs(), before);
}

}  // namespace
