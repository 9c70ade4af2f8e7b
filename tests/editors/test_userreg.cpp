// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// User memory editor: the boxes as a user types, pastes and leaves them.
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "editors/frmUserReg.h"
#include "gui_support/controls.h"
#include "gui_support/fixture.h"

namespace {

class UserRegTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    w = window<frmUserReg>(WindowId::UserReg);
    reopen();
  }
  // Shows the window as its opener does and makes it active (the offscreen
  // platform keeps a hidden window as its focus window, so ask directly).
  void reopen() {
    w->hide();
    QApplication::processEvents();
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitFor([this] { return w->isActiveWindow(); }));
  }
  QLineEdit* box(int k) { return w->findChild<QLineEdit*>(QString("txtUserReg_%1").arg(k)); }
  void focus(int k) {
    box(k)->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
  }
  // Types into box k (the focus selects both digits) and leaves it.
  void type(int k, const QString& keys) {
    focus(k);
    QTest::keyClicks(box(k), keys);
    focus(k % 16 + 1);
  }
  void paste(int k, const QString& text) {
    focus(k);
    QApplication::clipboard()->setText(text);
    box(k)->paste();
    focus(k % 16 + 1);
  }
  frmUserReg* w = nullptr;
};

TEST_F(UserRegTest, ShowingLoadsTheGridRowByRow) {
  for (int k = 0; k < 16; ++k) regs().setUser(k, k * 17);
  reopen();
  for (int k = 1; k <= 16; ++k)
    EXPECT_EQ(box(k)->text(), QString("%1").arg((k - 1) * 17, 2, 16, QChar('0')).toUpper());
  EXPECT_EQ(w->findChild<QLabel*>("lblAddr_1")->text(), "35");
  EXPECT_EQ(w->findChild<QLabel*>("lblAddr_16")->text(), "44");
  EXPECT_EQ(box(1)->y(), box(8)->y());
  EXPECT_EQ(box(1)->x(), box(9)->x());
  EXPECT_LT(box(8)->y(), box(9)->y());
}

TEST_F(UserRegTest, TypingIsFilteredUpperCasedAndStoredOnLeaving) {
  type(1, "a5");
  type(2, "5");
  type(3, "G z-");   // rejected keys change nothing
  type(4, "1g2f3");  // a third digit does not fit
  type(5, "\b");     // backspace clears the selected digits: an empty box stores 0
  const int stored[] = {0xA5, 0x05, 0xFF, 0x12, 0x00};
  const char* shown[] = {"A5", "05", "FF", "12", "00"};
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(regs().user(k - 1), stored[k - 1]) << k;
    EXPECT_EQ(box(k)->text(), shown[k - 1]) << k;
  }
}

TEST_F(UserRegTest, PastedTextThatIsNotOneHexByteIsRefused) {
  regs().setUser(9, 0x42);
  reopen();
  for (const char* text : {"1G", "123", "FFF", "0x", " ", "\xc3\xa4"}) {
    paste(10, QString::fromUtf8(text));
    EXPECT_EQ(regs().user(9), 0x42) << text;
    EXPECT_EQ(box(10)->text(), "42") << text;
  }
  paste(10, "e7");
  EXPECT_EQ(regs().user(9), 0xE7);
  EXPECT_EQ(box(10)->text(), "E7");
}

TEST_F(UserRegTest, CancelAndEscapeHideAndKeepTheEdit) {
  zk7::RegisterSet expected = regs();
  type(12, "7");
  QTest::mouseClick(w->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  // Closing with the focus still in an edited box keeps what it holds.
  reopen();
  focus(13);
  QTest::keyClicks(box(13), "c1");
  QTest::keyClick(box(13), Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
  expected.setUser(11, 0x07);
  expected.setUser(12, 0xC1);
  EXPECT_EQ(regs(), expected);  // and nothing else changed
  reopen();
  Screenshot(w, "userreg");
}

}  // namespace
