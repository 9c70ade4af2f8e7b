#include <QApplication>
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
  // Opened as the main window's "Scheduled TX" button does.
  frmSTCON* open() {
    frmSTCON* w = window<frmSTCON>(WindowId::STCON);
    w->show();
    QApplication::processEvents();
    return w;
  }
  void reopen(frmSTCON* w) {
    w->hide();
    w->show();
    QApplication::processEvents();
  }
};

TEST_F(STCONEditor, ShowsTheRegisterWithoutChangingIt) {
  frmSTCON* w = open();  // default 0x3F
  EXPECT_FALSE(w->chkSTEN->isChecked());
  EXPECT_EQ(w->chkSTEN->text(), "Scheduled TX = OFF");
  EXPECT_EQ(w->chkSTEN->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_TRUE(w->optNoData->isChecked());
  EXPECT_EQ(w->cmbBaseFreq->currentText(), "4096(4096Tosc)");
  EXPECT_EQ(w->sldrTxMult->value(), 16);
  EXPECT_EQ(w->findChild<QLineEdit*>("txtSTCON_0")->text(), "3F");
  EXPECT_EQ(w->txtSTCONRate->text(), "67108.864");
  EXPECT_EQ(regs()[STCON], 0x3F);

  regs().set(STCON, 0x80);
  reopen(w);
  EXPECT_TRUE(w->chkSTEN->isChecked());
  EXPECT_EQ(w->chkSTEN->text(), "Scheduled TX = ON");
  EXPECT_EQ(w->chkSTEN->palette().color(QPalette::Window), QColor(0, 255, 0));
  EXPECT_TRUE(w->optNoData->isChecked());
  EXPECT_EQ(w->cmbBaseFreq->currentText(), "4096Tosc");
  EXPECT_EQ(w->sldrTxMult->value(), 1);
  EXPECT_EQ(w->txtSTCONRate->text(), "1.024");
  EXPECT_EQ(regs()[STCON], 0x80);

  regs().set(STCON, 0x45);
  reopen(w);
  EXPECT_TRUE(w->optAtoDRegs->isChecked());
  EXPECT_EQ(w->txtSTCON->text(), "45");
  EXPECT_EQ(w->sldrTxMult->value(), 6);
  EXPECT_EQ(regs()[STCON], 0x45);

  regs().set(STCON, 0x05);
  reopen(w);
  EXPECT_EQ(w->txtSTCON->text(), "05");
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
  EXPECT_EQ(w->cmbBaseFreq->currentText(), "256(4096Tosc)");
  EXPECT_EQ(regs()[STCON], 0xEF);
  EXPECT_EQ(w->txtSTCONRate->text(), "4194.304");

  QTest::mouseClick(w->optNoData, Qt::LeftButton);
  EXPECT_EQ(regs()[STCON], 0xAF);
  QTest::mouseClick(w->optAtoDRegs, Qt::LeftButton);
  EXPECT_EQ(regs()[STCON], 0xEF);
  QTest::mouseClick(w->chkSTEN, Qt::LeftButton);
  EXPECT_EQ(regs()[STCON], 0x6F);
  EXPECT_EQ(w->chkSTEN->text(), "Scheduled TX = OFF");
  QTest::mouseClick(w->chkSTEN, Qt::LeftButton);
  EXPECT_EQ(regs()[STCON], 0xEF);

  // OK keeps every change; the next opening shows the register again.
  QTest::mouseClick(w->cmdOK, Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(regs()[STCON], 0xEF);
}

TEST_F(STCONEditor, NoPeriodWithoutOscillator) {
  App().Fosc = 0;
  frmSTCON* w = open();
  EXPECT_EQ(w->txtSTCONRate->text(), "--");
  QTest::keyClick(w->sldrTxMult, Qt::Key_Home);
  EXPECT_EQ(regs()[STCON], 0x30);
  EXPECT_EQ(w->txtSTCONRate->text(), "--");
  EXPECT_TRUE(testSeam().messages.empty());
}

}  // namespace
