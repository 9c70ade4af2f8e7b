// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The A/D converter window driven through its controls.
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>

#include "editors/frmAtoD.h"
#include "editors/frmGPIO.h"
#include "gui/refresh.h"
#include "gui_support/controls.h"
#include "gui_support/fixture.h"
#include "model/atod.h"

using namespace zk7;

namespace {

class AtoDWindow : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    w_ = shown<frmAtoD>(WindowId::AtoD);
  }
  void click(const QString& name) { Click(w_, name); }
  QString text(const QString& name) { return Text(w_, name); }
  // Picks a list line with the keyboard.
  void choose(const QString& name, int line) {
    auto* c = Find<QComboBox>(w_, name);
    QTest::keyClick(c, Qt::Key_Home);
    for (int i = 0; i < line; ++i) QTest::keyClick(c, Qt::Key_Down);
    ASSERT_EQ(c->currentIndex(), line);
  }
  // Focuses a box (which selects its text), types, and leaves it.
  void typeInto(const QString& name, const QString& keys, bool append = false) {
    auto* box = Find<QLineEdit>(w_, name);
    box->setFocus();
    QApplication::processEvents();
    if (append) QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, keys);
    Find(w_, "cmbAtoDConv")->setFocus();
    QApplication::processEvents();
  }
  frmAtoD* w_ = nullptr;
};

}  // namespace

TEST_F(AtoDWindow, ClockListsAndTheirTimes) {
  App().Fosc = 20000000.0;
  regs().set(ADCON1, 0x2A);
  regs().set(ADCON0, 0x8F);
  RefreshAll();
  choose("cmbAtoDConv", 2);  // Fosc / 32
  EXPECT_EQ(text("txtAtoDConv"), "0.625");
  EXPECT_EQ(regs()[ADCON1], 0xAA);
  choose("cmbAtoDConv", 3);  // RESERVED
  EXPECT_EQ(text("txtAtoDConv"), "--Frc--");
  EXPECT_EQ(regs()[ADCON1], 0xEA);
  EXPECT_EQ(w_->txtAtoDReg(3)->text(), "EA");
  choose("cmbAtoDConv", 1);
  EXPECT_EQ(text("txtAtoDConv"), "2.5");

  App().Fosc = 4000000.0;
  RefreshAll();
  choose("cmbAtoDAQT", 3);  // 8 * (64 / Tosc)
  EXPECT_EQ(text("txtAtoDAQT"), "128");
  EXPECT_EQ(regs()[OPTREG1], 0xF3);
  choose("cmbAutoConv", 7);  // 1:4096
  EXPECT_EQ(text("txtAutoConv"), "1048.576");
  EXPECT_EQ(regs()[ADCON0], 0xFF);

  // A new frequency shows at the next activation.
  w_->hide();
  App().Fosc = 20000000.0;
  Seam::instance().execModal(w_);
  EXPECT_EQ(Texts(w_, {"txtAtoDAQT", "txtAtoDConv"}), "25.6 2.5");
  App().Fosc = 0;
  Seam::instance().execModal(w_);
  EXPECT_EQ(Texts(w_, {"txtAtoDAQT", "txtAutoConv", "txtAtoDConv"}), "-- -- 0");
}

TEST_F(AtoDWindow, ThresholdSliderEnds) {
  auto* s = Find<QSlider>(w_, "CMPSlider_1");
  s->triggerAction(QAbstractSlider::SliderToMaximum);  // bottom: code 0
  EXPECT_EQ(regs()[ADCMP1H] | regs()[ADCMP1L], 0x00);
  EXPECT_EQ(text("txtVcmp_1"), "0");
  QTest::keyClick(s, Qt::Key_Up);  // the handle moves up, the threshold rises
  EXPECT_EQ(ThresholdCode(regs(), 1), 1);
  s->triggerAction(QAbstractSlider::SliderToMinimum);  // top: code 1023
  EXPECT_EQ(regs()[ADCMP1H], 0xFF);
  EXPECT_EQ(regs()[ADCMP1L], 0xC0);
  EXPECT_EQ(text("txtVcmp_1"), "4.9951171875");
  EXPECT_EQ(s->toolTip(), "1023");
  EXPECT_EQ(w_->txtAtoDReg(10)->text(), "C0");

  regs().set(ADCMP2H, 0x80);
  regs().set(ADCMP2L, 0x40);
  RefreshAll();
  EXPECT_EQ(Find<QSlider>(w_, "CMPSlider_2")->value(), 1023 - 513);
}

TEST_F(AtoDWindow, ReferenceScale) {
  w_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w_));
  typeInto("txtVrefM", "1x");  // the letter never appears
  typeInto("txtVrefP", "4");
  EXPECT_EQ(text("txtVrefM"), "1");
  EXPECT_EQ(text("txtVcmp_0"), "3.9970703125");  // shown thresholds follow at once

  // Backspace is ignored; a text that is no number keeps the scale.
  typeInto("txtVrefP", "\b..", true);
  EXPECT_EQ(text("txtVrefP"), "4..");
  EXPECT_EQ(text("txtVcmp_0"), "3.9970703125");
}

TEST_F(AtoDWindow, ConverterChannelsAndReferences) {
  click("chkADON");
  EXPECT_EQ(regs()[ADCON0], 0x80);
  EXPECT_EQ(text("chkADON"), "A/D Converter is ON");
  EXPECT_EQ(editor_ui::BackColour(Find(w_, "chkADON")), editor_ui::kGreen);

  regs().set(ADCON1, 0x0F);
  regs().set(GPDDR, 0x70);
  RefreshAll();
  auto gpddrAdcon1 = [&] { return regs()[GPDDR] << 8 | regs()[ADCON1]; };
  click("chkAtoDEnable_3");  // analog input
  EXPECT_EQ(gpddrAdcon1(), 0x7807);
  EXPECT_EQ(text("chkAtoDEnable_3"), "ON");
  click("chkAtoDEnable_3");  // digital, still an input
  EXPECT_EQ(gpddrAdcon1(), 0x780F);

  const std::pair<const char*, int> refs[] = {
      {"optVrefP", 0x1F}, {"optVrefM", 0x3F}, {"optVDD", 0x2F}, {"optVSS", 0x0F}};
  for (auto [button, adcon1] : refs) {  // references leave directions alone
    click(button);
    EXPECT_EQ(gpddrAdcon1(), 0x7800 | adcon1) << button;
  }

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
  EXPECT_EQ(regs()[IOINTEN], 0x01);
  w_->hide();

  gpio->show();  // activation refreshes every window
  QApplication::processEvents();
  EXPECT_TRUE(Find<QCheckBox>(gpio, "chkTXonCng_0")->isChecked());
  Click(gpio, "chkTXonCng_2");
  Click(gpio, "chkTXonCng_0");
  gpio->hide();

  Seam::instance().execModal(w_);
  EXPECT_EQ(regs()[IOINTEN], 0x04);
  EXPECT_FALSE(Find<QCheckBox>(w_, "chkVcmpON_0")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(w_, "chkVcmpON_2")->isChecked());
}
