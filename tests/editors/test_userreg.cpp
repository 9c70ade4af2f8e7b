// User memory editor: the boxes as a user types, pastes and leaves them.
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "editors/frmUserReg.h"
#include "gui_support/fixture.h"
#include "model/format.h"

namespace {

class UserRegTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    w = window<frmUserReg>(WindowId::UserReg);
    ASSERT_NE(w, nullptr);
    reopen();
  }
  // Shows the window as its opener does, and makes it the active window.
  void reopen() {
    w->hide();
    QApplication::processEvents();
    w->show();
    // The offscreen platform keeps a hidden window as its focus window, so
    // activation is asked of the application directly.
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitFor([this] { return w->isActiveWindow(); }));
  }
  QLineEdit* box(int k) { return w->findChild<QLineEdit*>(QString("txtUserReg_%1").arg(k)); }
  // Gives box k the focus, types keys, and moves the focus to the next box.
  void type(int k, const QString& keys) {
    box(k)->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    QTest::keyClicks(box(k), keys);
    box(k == 16 ? 1 : k + 1)->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
  }
  // Replaces the selected digits of box k with text from the clipboard.
  void paste(int k, const QString& text) {
    QApplication::clipboard()->setText(text);
    box(k)->selectAll();
    box(k)->paste();
  }
  frmUserReg* w = nullptr;
};

TEST_F(UserRegTest, GridShowsUserMemoryWithImageAddresses) {
  for (int k = 0; k < 16; ++k) regs().setUser(k, k * 17);
  reopen();  // each showing reloads the boxes
  for (int k = 1; k <= 16; ++k) {
    ASSERT_NE(box(k), nullptr);
    EXPECT_EQ(box(k)->text().toStdString(), zk7::Hex2((k - 1) * 17));
  }
  auto* first = w->findChild<QLabel*>("lblAddr_1");
  auto* last = w->findChild<QLabel*>("lblAddr_16");
  EXPECT_EQ(first->text(), "35");
  EXPECT_EQ(last->text(), "44");
  // Two rows of eight, filled row by row.
  EXPECT_LT(box(1)->x(), box(8)->x());
  EXPECT_EQ(box(1)->y(), box(8)->y());
  EXPECT_EQ(box(1)->x(), box(9)->x());
  EXPECT_LT(box(8)->y(), box(9)->y());
}

TEST_F(UserRegTest, TypedDigitsAreFilteredUpperCasedAndStoredOnLeaving) {
  type(1, "a5");
  EXPECT_EQ(regs().user(0), 0xA5);
  EXPECT_EQ(box(1)->text(), "A5");

  type(2, "5");
  EXPECT_EQ(regs().user(1), 0x05);
  EXPECT_EQ(box(2)->text(), "05");

  // Keys the hex filter rejects change nothing; a third digit does not fit.
  type(3, "G z-");
  EXPECT_EQ(regs().user(2), 0xFF);
  EXPECT_EQ(box(3)->text(), "FF");
  type(4, "1g2f3");
  EXPECT_EQ(regs().user(3), 0x12);
  EXPECT_EQ(box(4)->text(), "12");
}

TEST_F(UserRegTest, FocusSelectsBothDigitsSoTypingReplacesThem) {
  box(5)->setFocus(Qt::MouseFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(box(5)->selectedText(), "FF");
  QTest::keyClicks(box(5), "3c");
  box(6)->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(regs().user(4), 0x3C);
}

TEST_F(UserRegTest, EmptyBoxStoresZeroAndBackspaceEdits) {
  box(7)->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  QTest::keyClick(box(7), Qt::Key_Backspace);  // removes the selected digits
  EXPECT_EQ(box(7)->text(), "");
  box(8)->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(regs().user(6), 0);
  EXPECT_EQ(box(7)->text(), "00");
}

TEST_F(UserRegTest, PastedTextThatIsNotOneHexByteIsRefused) {
  regs().setUser(9, 0x42);
  reopen();
  for (const char* pasted : {"1G", "123", "FFF", "0x", " ", "\xc3\xa4"}) {
    box(10)->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    paste(10, QString::fromUtf8(pasted));
    box(11)->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(regs().user(9), 0x42) << pasted;
    EXPECT_EQ(box(10)->text(), "42") << pasted;
  }
  // Pasted lower-case hex is a byte like its typed form.
  box(10)->setFocus(Qt::TabFocusReason);
  paste(10, "e7");
  box(11)->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(regs().user(9), 0xE7);
  EXPECT_EQ(box(10)->text(), "E7");
}

TEST_F(UserRegTest, CancelAndEscapeHideAndKeepTheEdit) {
  zk7::RegisterSet expected = regs();
  type(12, "7");
  QTest::mouseClick(w->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(regs().user(11), 0x07);

  // Closing with the focus still in an edited box keeps what it holds.
  reopen();
  box(13)->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  QTest::keyClicks(box(13), "c1");
  QTest::keyClick(box(13), Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(regs().user(12), 0xC1);
  // Nothing but user memory changed.
  expected.setUser(11, 0x07);
  expected.setUser(12, 0xC1);
  EXPECT_EQ(regs(), expected);
}

// Renders the window for the documentation when ZK7_SCREENSHOT_DIR is set.
TEST_F(UserRegTest, Screenshot) {
  const QString dir = qEnvironmentVariable("ZK7_SCREENSHOT_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "ZK7_SCREENSHOT_DIR not set";
  type(3, "a5");
  EXPECT_TRUE(w->grab().save(dir + "/userreg.png"));
}
}  // namespace
