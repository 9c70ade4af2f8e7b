// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "editors/frmSTCON.h"
#include "gui_support/fixture.h"

using namespace zk7;

namespace {

class STCONEditor : public GuiTest {
 protected:
  frmSTCON* open() { return shown<frmSTCON>(WindowId::STCON); }
};

// Check box caption and colour, message option, base item, multiplier, register box, period.
QString Shown(frmSTCON* w) {
  return QStringList({w->chkSTEN->text(), w->chkSTEN->palette().color(QPalette::Window).name(),
                      w->optAtoDRegs->isChecked() ? "A/D" : "no data",
                      w->cmbBaseFreq->currentText(), QString::number(w->sldrTxMult->value()),
                      w->findChild<QLineEdit*>("txtSTCON_0")->text(), w->txtSTCONRate->text()})
      .join(" | ");
}

TEST_F(STCONEditor, EachOpeningShowsTheRegisterWithoutChangingIt) {
  const std::tuple<int, double, const char*> cases[] = {
      {0x3F, 4e6, "Scheduled TX = OFF | #ff0000 | no data | 4096(4096Tosc) | 16 | 3F | 67108.864"},
      {0x80, 4e6, "Scheduled TX = ON | #00ff00 | no data | 4096Tosc | 1 | 80 | 1.024"},
      {0x55, 4e6, "Scheduled TX = OFF | #ff0000 | A/D | 16(4096Tosc) | 6 | 55 | 98.304"},
      {0x05, 0.0, "Scheduled TX = OFF | #ff0000 | no data | 4096Tosc | 6 | 05 | --"},
  };
  for (auto [value, fosc, shown] : cases) {
    regs().set(STCON, value);
    App().Fosc = fosc;
    EXPECT_EQ(Shown(open()), shown);
    EXPECT_EQ(regs()[STCON], value);
  }
  EXPECT_TRUE(testSeam().messages.empty());
}

TEST_F(STCONEditor, EachControlWritesOnlyItsField) {
  regs().set(STCON, 0xC5);
  frmSTCON* w = open();
  QTest::keyClick(w->sldrTxMult, Qt::Key_Home);
  EXPECT_EQ(regs()[STCON], 0xC0);
  QTest::keyClick(w->sldrTxMult, Qt::Key_End);
  EXPECT_EQ(regs()[STCON], 0xCF);
  EXPECT_EQ(w->txtSTCON->text(), "CF");

  QTest::keyClick(w->cmbBaseFreq, Qt::Key_Down);
  QTest::keyClick(w->cmbBaseFreq, Qt::Key_Down);
  EXPECT_EQ(regs()[STCON], 0xEF);
  EXPECT_EQ(w->txtSTCONRate->text(), "4194.304");

  const std::pair<QAbstractButton*, int> clicks[] = {
      {w->optNoData, 0xAF}, {w->optAtoDRegs, 0xEF}, {w->chkSTEN, 0x6F}, {w->chkSTEN, 0xEF}};
  for (auto [button, stcon] : clicks) {
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(regs()[STCON], stcon) << button->objectName().toStdString();
  }
  QTest::mouseClick(w->cmdOK, Qt::LeftButton);  // OK keeps every change
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(regs()[STCON], 0xEF);
}

}  // namespace
