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

// Everything the window shows, in one line: check box caption and colour, message
// option, base item, multiplier, register box, period.
QString Shown(frmSTCON* w) {
  return QStringList({w->chkSTEN->text(), w->chkSTEN->palette().color(QPalette::Window).name(),
                      w->optAtoDRegs->isChecked() ? "A/D" : "no data",
                      w->cmbBaseFreq->currentText(), QString::number(w->sldrTxMult->value()),
                      w->findChild<QLineEdit*>("txtSTCON_0")->text(), w->txtSTCONRate->text()})
      .join(" | ");
}

TEST_F(STCONEditor, EachOpeningShowsTheRegisterWithoutChangingIt) {
  frmSTCON* w = open();  // default 0x3F
  EXPECT_EQ(Shown(w),
            "Scheduled TX = OFF | #ff0000 | no data | 4096(4096Tosc) | 16 | 3F | 67108.864");
  const std::pair<int, const char*> cases[] = {
      {0x80, "Scheduled TX = ON | #00ff00 | no data | 4096Tosc | 1 | 80 | 1.024"},
      {0x55, "Scheduled TX = OFF | #ff0000 | A/D | 16(4096Tosc) | 6 | 55 | 98.304"},
  };
  for (auto [value, shown] : cases) {
    regs().set(STCON, value);
    reopen(w);
    EXPECT_EQ(Shown(w), shown);
    EXPECT_EQ(regs()[STCON], value);
  }
  regs().set(STCON, 0x05);
  App().Fosc = 0;
  reopen(w);
  EXPECT_EQ(Shown(w), "Scheduled TX = OFF | #ff0000 | no data | 4096Tosc | 6 | 05 | --");
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

}  // namespace
