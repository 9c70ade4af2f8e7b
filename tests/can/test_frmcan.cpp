// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QTableWidget>
#include <functional>
#include <optional>

#include "can/frmBitTiming.h"
#include "can/frmCAN.h"
#include "gui/refresh.h"
#include "gui_support/controls.h"
#include "gui_support/fixture.h"
#include "model/bittiming.h"
#include "model/can_timing.h"
#include "model/format.h"

using namespace zk7;

class CanWindow : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    w = window<frmCAN>(WindowId::CAN);
  }
  QString texts(std::initializer_list<QString> names) { return Texts(w, names); }
  QString text(const QString& name) { return Text(w, name); }
  QSlider* slider(const QString& name) { return Find<QSlider>(w, name); }
  // Works a button even while the window is hidden.
  void press(const QString& name) { Find<QAbstractButton>(w, name)->click(); }
  void show() {
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  }
  // Types into a box and leaves it, as a user tabbing through does.
  void typeAndLeave(const QString& box, const char* keys) {
    auto* e = Find<QLineEdit>(w, box);
    e->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(e, keys);
    Find(w, "cmdOK")->setFocus(Qt::TabFocusReason);
  }
  void setRegs(std::initializer_list<std::pair<int, int>> values) {
    for (auto [r, v] : values) regs().set(r, v);
    w->showRegisterSet();
  }
  QString table() {
    QStringList out;
    for (int k = 1; k <= 28; ++k) out << text(QString("txtCANReg_%1").arg(k));
    return out.join(" ");
  }
  frmCAN* w = nullptr;
};

TEST_F(CanWindow, DefaultsShowAndEachTableBoxShowsItsRegister) {
  // Blank, not empty: for an empty title the window system shows the application name.
  EXPECT_TRUE(w->windowTitle().trimmed().isEmpty());
  EXPECT_FALSE(w->windowTitle().isEmpty());
  EXPECT_EQ(Find<QComboBox>(w, "cmbSJW")->currentText(), "1 TQ");
  EXPECT_EQ(texts({"lblNumBRP", "lblNumTQ_0", "lblNumTQ_1", "lblNumTQ_2", "txtNumTQ", "txtBitTime",
                   "txtSamplePoint", "txtBitRate", "chkSamPoint", "chkBTLMODE", "chkWAKFIL"}),
            "1 1TQ 1TQ 2TQ 5 2.5 60 400 1X PS1 or IPT OFF");
  const float widths[4] = {1356, 1356, 1356, 2712}, lefts[4] = {0, 1356, 2712, 4068};
  for (int k = 0; k < 4; ++k) {
    EXPECT_FLOAT_EQ(w->barWidthTwips(k), widths[k]);
    EXPECT_FLOAT_EQ(w->barLeftTwips(k), lefts[k]);
  }
  EXPECT_EQ(table(), QString("FF EB FF FF ").repeated(6) + "00 00 01 00");
  EXPECT_EQ(texts({"lblAddr_1", "lblAddr_14", "lblAddr_28"}), "TXID0SIDH RXMSIDL OPTREG2");
  EXPECT_EQ(texts({"lblTXID0", "lblRXF1", "txtTXIDn_2", "chkIDType_5"}),
            "1FFFFFFF 1FFFFFFF EB Ext ID");

  // Each table box shows the register its label names.
  for (int r = 0; r < kRegisterCount; ++r) regs().set(r, (r * 7) & 0xFF);
  w->showRegisterSet();
  QStringList bytes;
  for (int k = 0; k < 28; ++k) bytes << QString::fromStdString(Hex2(regs()[kCanTable[k]]));
  EXPECT_EQ(table(), bytes.join(" "));
}

TEST_F(CanWindow, BitTimeExamplesAndNoOscillator) {
  App().Fosc = 20000000.0;
  setRegs({{CNF1, 0x04}, {CNF2, 0x12}, {CNF3, 0x02}});  // prescaler 5, 1+3+3+3 TQ
  EXPECT_EQ(texts({"lblNumBRP", "txtNumTQ", "txtBitTime"}), "5 10 5");
  App().Fosc = 10000000.0;
  setRegs({{CNF1, 0x00}, {CNF2, 0x24}, {CNF3, 0x04}});  // 1+5+5+5 TQ
  EXPECT_EQ(texts({"txtNumTQ", "txtBitTime"}), "16 3.2");
  App().Fosc = 0;
  w->RefreshCANDisp();
  EXPECT_EQ(texts({"txtBitTime", "txtBitRate"}), "-- --");
}

TEST_F(CanWindow, SliderMovesWriteOnlyTheirFields) {
  setRegs({{CNF1, 0x80}, {CNF3, 0x41}});
  slider("sldrBRP")->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(regs()[CNF1], 0xBF);
  EXPECT_EQ(texts({"lblNumBRP", "txtBitTime"}), "64 160");
  slider("sldrBRP")->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(regs()[CNF1], 0xBA);
  const std::tuple<const char*, Reg, int> maxima[] = {
      {"sldrSegment_1", CNF2, 0x38}, {"sldrSegment_0", CNF2, 0x3F}, {"sldrSegment_2", CNF3, 0x47}};
  for (auto [name, reg, value] : maxima) {
    slider(name)->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(regs()[reg], value) << name;
  }
  EXPECT_EQ(texts({"txtNumTQ", "lblNumTQ_2"}), "25 8TQ");
  EXPECT_FLOAT_EQ(w->barWidthTwips(2), 8.0f / 25 * 6780);
  slider("sldrSegment_2")->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(text("txtCANReg_27"), "41");

  setRegs({{CNF1, 0x3F}});  // shown from a file: the slider follows
  EXPECT_EQ(slider("sldrBRP")->value(), 63);
}

TEST_F(CanWindow, DragWritesEveryIntermediatePosition) {
  show();
  QSlider* s = slider("sldrSegment_1");
  std::vector<int> seen;
  QObject::connect(s, &QSlider::valueChanged,
                   [&] { seen.push_back(FieldValue(regs()[CNF2], kPhaseSeg1)); });
  s->setSliderDown(true);  // what a held mouse button does
  for (int v = s->minimum(); v <= s->maximum(); ++v) s->setSliderPosition(v);
  s->setSliderDown(false);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(text("txtNumTQ"), "12");
}

TEST_F(CanWindow, CheckBoxesSjwListAndShortPhaseSegment2) {
  setRegs({{CNF1, 0x05}, {CNF2, 0xC0}});
  EXPECT_EQ(texts({"chkBTLMODE", "chkSamPoint"}), "CNF3 3X");
  press("chkBTLMODE");
  EXPECT_EQ(regs()[CNF2], 0x40);
  EXPECT_EQ(text("chkBTLMODE"), "PS1 or IPT");
  press("chkWAKFIL");
  EXPECT_EQ(regs()[CNF3], 0x41);
  EXPECT_EQ(text("chkWAKFIL"), "ON");
  QTest::keyClick(Find<QComboBox>(w, "cmbSJW"), Qt::Key_End);
  EXPECT_EQ(Find<QComboBox>(w, "cmbSJW")->currentText(), "4 TQ");
  EXPECT_EQ(text("txtCANReg_25"), "C5");

  // A stored phase segment 2 of 0 shows its true length; the slider's minimum is 2.
  setRegs({{CNF3, 0x40}});
  EXPECT_EQ(texts({"lblNumTQ_2", "txtNumTQ"}), "1TQ 4");
  // Without BTLMODE the controller takes PS2 = max(PS1, 2 TQ): only the SJW rule breaks.
  EXPECT_EQ(text("lblTimingWarning"), "Warning: PS2 not longer than SJW");
  press("chkBTLMODE");
  EXPECT_TRUE(text("lblTimingWarning").contains("PS2 shorter than 2 TQ"));
  slider("sldrSegment_2")->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(regs()[CNF3], 0x41);
  EXPECT_EQ(texts({"lblNumTQ_2", "txtNumTQ"}), "2TQ 5");
}

TEST_F(CanWindow, IdentifierBytesTakeOnlyHexTypedOrPastedAndShowTheRawIds) {
  w->showRegisterSet();
  show();
  press("chkIDType_0");
  EXPECT_EQ(texts({"txtTXIDn_2", "chkIDType_0", "lblTXID0"}), "E3 Std ID 7FF");

  typeAndLeave("txtTXIDn_1", "12");
  typeAndLeave("txtTXIDn_2", "5f");
  EXPECT_EQ(texts({"txtTXIDn_2", "lblTXID0", "txtCANReg_2"}), "43 92 43");

  for (auto [box, keys] : {std::pair{"txtRXFilter_9", "0"},
                           {"txtRXFilter_10", "03"},
                           {"txtRXFilter_11", "0"},
                           {"txtRXFilter_12", "1"}})
    typeAndLeave(box, keys);
  EXPECT_EQ(regs()[RXF1SIDL], 0x0B);
  EXPECT_EQ(texts({"txtRXFilter_10", "txtRXFilter_12", "lblRXF1"}), "0B 01 30001");

  typeAndLeave("txtTXIDn_7", "agb");
  typeAndLeave("txtTXIDn_8", "71\b");
  EXPECT_EQ(regs()[TXID1EID8], 0xAB);
  EXPECT_EQ(regs()[TXID1EID0], 0x07);

  // Pasted text never becomes a wrong byte.
  auto* e = Find<QLineEdit>(w, "txtTXIDn_4");
  e->setFocus(Qt::TabFocusReason);
  for (const char* paste : {"XY", "1G", " 5", "-1", "1FF", "3c"}) {
    QApplication::clipboard()->setText(paste);
    e->selectAll();
    e->paste();
  }
  EXPECT_EQ(e->text(), "3C");  // only the hex text got in, raised; "1FF" was cut to "1F"
  Find(w, "cmdOK")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(regs()[TXID0EID0], 0x3C);
}

// Tab follows reading order group by group.
TEST_F(CanWindow, TabOrderFollowsTheGroupsInReadingOrder) {
  show();  // before any summary refresh: leaving a box must store what it shows
  Find(w, "cmbSJW")->setFocus(Qt::TabFocusReason);
  QStringList order;
  for (int i = 0; i < 56; ++i) {
    order << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(order.mid(0, 11).join(" "),
            "cmbSJW sldrBRP sldrSegment_0 sldrSegment_1 sldrSegment_2 chkSamPoint chkBTLMODE "
            "chkWAKFIL cmdBitTimingAssistant txtTXIDn_1 txtTXIDn_2");
  EXPECT_EQ(order.mid(13, 4).join(" "), "chkIDType_0 txtIDValue_0 txtTXIDn_5 txtTXIDn_6");
  EXPECT_EQ(order.mid(39, 6).join(" "),
            "txtRXFilter_9 txtRXFilter_10 txtRXFilter_11 txtRXFilter_12 chkIDType_5 txtIDValue_5");
  EXPECT_EQ(order.mid(45, 3).join(" "), "cmdAcceptanceFilters chkOPTREG2_7 chkOPTREG2_6");
  EXPECT_EQ(order.mid(53).join(" "), "chkOPTREG2_0 cmdOK cmdCancel");
  EXPECT_EQ(regs()[TXID0SIDL], 0xEB);
}

TEST_F(CanWindow, RefreshNormalisesSidlOnlyWhenTheTypeChanges) {
  regs().set(TXID1SIDL, 0xE7);  // standard now: bits 4 and 2 are cleared
  regs().set(RXF0SIDL, 0xFF);   // still extended: shown and kept as stored
  regs().set(TXID2EID0, 0x05);
  RefreshAll();
  EXPECT_EQ(regs()[TXID1SIDL], 0xE3);
  EXPECT_EQ(regs()[RXF0SIDL], 0xFF);
  EXPECT_EQ(texts({"txtTXIDn_6", "chkIDType_1", "lblTXID1", "txtRXFilter_6", "lblRXF0"}),
            "E3 Std ID 7FF FF 1FFFFFFF");
  EXPECT_EQ(texts({"txtTXIDn_12", "lblTXID2"}), "5 1FFFFF05");
}

TEST_F(CanWindow, CalcRawIdRefusesABadIndex) {
  w->showRegisterSet();
  for (int bad : {6, -1}) w->CalcRawID(bad);
  ASSERT_EQ(testSeam().messages.size(), 2u);
  EXPECT_EQ(testSeam().messages[0].title + testSeam().messages[0].text, "ERRORNot Valid");
  EXPECT_EQ(testSeam().messages[0].icon, Seam::Icon::Critical);
  EXPECT_EQ(text("lblRXF1"), "1FFFFFFF");
}

TEST_F(CanWindow, OptReg2BitsAndWindowLifecycle) {
  setRegs({{OPTREG2, 0x81}});
  QString labels;
  for (int bit = 7; bit >= 0; --bit) labels += text(QString("lblOPTREG2bit_%1").arg(bit));
  EXPECT_EQ(labels, "10000001");
  press("chkOPTREG2_7");
  EXPECT_EQ(texts({"chkOPTREG2_7", "lblOPTREG2bit_7", "txtCANReg_28"}), "CAEN 0 01");

  // Cancel hides and undoes nothing; opening again rewrites the table from the registers.
  testSeam().onModal = [&](QDialog*) {
    slider("sldrBRP")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    press("cmdCancel");
    EXPECT_FALSE(w->isVisible());
    return 0;
  };
  Seam::instance().execModal(w);
  EXPECT_EQ(regs()[CNF1], 0x01);
  regs().set(CNF1, 0x07);
  testSeam().onModal = [&](QDialog*) {
    EXPECT_EQ(texts({"txtCANReg_25", "lblNumBRP"}), "07 2");
    return 0;
  };
  Seam::instance().execModal(w);
}

// The assistant dialogs open through the seam; onModal works their controls.
TEST_F(CanWindow, BitTimingAssistantAppliesTheChosenSettingOrNothing) {
  App().Fosc = 20e6;
  setRegs({{CNF2, 0x40}, {CNF3, 0x48}});  // SAM and CNF3 bits 7:3 are kept
  auto work = [&](const char* rate, const char* button) {
    testSeam().onModal = [=](QDialog* d) {
      Find<QComboBox>(d, "cmbBitRate")->setCurrentText(rate);
      Screenshot(d, "bittiming");
      Click(d, button);
      return d->result();
    };
    press("cmdBitTimingAssistant");
  };
  work("1M", "cmdApply");
  EXPECT_EQ(std::vector<int>({regs()[CNF1], regs()[CNF2], regs()[CNF3]}),
            std::vector<int>({0x00, 0xD2, 0x4A}));
  EXPECT_EQ(texts({"txtNumTQ", "txtBitRate", "chkBTLMODE", "chkSamPoint"}), "10 1000 CNF3 3X");
  const RegisterSet before = regs();
  work("125k", "cmdCancel");
  EXPECT_EQ(regs(), before);

  App().Fosc = 0;
  testSeam().onModal = [](QDialog* d) {
    EXPECT_TRUE(Text(d, "lblNote").contains("Fosc is 0")) << Text(d, "lblNote").toStdString();
    EXPECT_EQ(Find<QTableWidget>(d, "tblSettings")->rowCount(), 0);
    EXPECT_FALSE(Find<QPushButton>(d, "cmdApply")->isEnabled());
    return 0;
  };
  press("cmdBitTimingAssistant");
  EXPECT_EQ(regs(), before);
}

TEST_F(CanWindow, IdentifiersTypedByValue) {
  w->showRegisterSet();
  show();
  auto enter = [&](const char* entry, const char* keys) {
    auto* e = Find<QLineEdit>(w, entry);
    e->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(e, keys);
    QTest::keyClick(e, Qt::Key_Return);
  };
  enter("txtIDValue_5", "1abcdef5");
  EXPECT_EQ(
      texts({"txtRXFilter_9", "txtRXFilter_10", "txtRXFilter_11", "txtRXFilter_12", "lblRXF1"}),
      "D5 E8 DE F5 1ABCDEF5");
  press("chkIDType_1");  // standard
  const RegisterSet before = regs();
  enter("txtIDValue_1", "800");
  ASSERT_EQ(testSeam().messages.size(), 1u);
  EXPECT_TRUE(testSeam().messages[0].text.contains("above 7FF"));
  EXPECT_EQ(regs(), before);
  Find<QLineEdit>(w, "txtIDValue_1")->setText("");
  QTest::keyClicks(Find<QLineEdit>(w, "txtIDValue_1"), "123");
  Find(w, "cmdOK")->setFocus(Qt::TabFocusReason);  // leaving writes too
  EXPECT_EQ(std::vector<int>({regs()[TXID1SIDH], regs()[TXID1SIDL], regs()[TXID1EID8]}),
            std::vector<int>({0x24, 0x63, 0xFF}));
  EXPECT_EQ(texts({"lblTXID1", "txtCANReg_6", "txtIDValue_1"}), "123 63 ");
}

TEST_F(CanWindow, FilterDesignAppliedThenTested) {
  testSeam().onModal = [](QDialog* d) {
    QTest::keyClicks(Find<QLineEdit>(d, "txtDesignIDs"), "120 121 12A");
    Click(d, "cmdApply");
    return d->result();
  };
  press("cmdAcceptanceFilters");
  EXPECT_EQ(texts({"chkIDType_4", "lblRXM", "lblRXF0", "lblRXF1"}), "Std ID 7FE 120 12A");
  show();
  Screenshot(w, "can");
  EXPECT_EQ(regs()[RXF1SIDL] & kSIDLExtended, 0);
  const RegisterSet applied = regs();
  testSeam().onModal = [&](QDialog* d) {
    EXPECT_TRUE(Text(d, "lblFilters").contains("4 standard and 0 extended"));
    auto* id = Find<QLineEdit>(d, "txtTestID");
    QStringList results;
    for (const char* t : {"12B", "122"}) {
      id->setText(t);
      results << Text(d, "lblTestResult");
    }
    EXPECT_EQ(results.join(", "), "Taken by RXF1, Not taken");
    Find<QLineEdit>(d, "txtDesignIDs")->setText("100 101 102 103 110 111");
    Screenshot(d, "filters");
    Click(d, "cmdCancel");
    return d->result();
  };
  press("cmdAcceptanceFilters");
  EXPECT_EQ(regs(), applied);
}

// Both dialogs answer the keys as platform dialogs do: Tab leaves the assistant's table without
// moving the chosen row, Enter applies the chosen row there, Enter in the filter dialog runs the
// field's own action and never Apply, Escape cancels both.
TEST_F(CanWindow, AssistantDialogsAnswerTheKeysAsPlatformDialogsDo) {
  App().Fosc = 20e6;
  const RegisterSet before = regs();
  // Each run: the dialog is active, keys go to its field, and whether it is still open is noted.
  bool open = false;
  const auto keys = [&](const char* field, const std::function<void(QDialog*, QWidget*)>& work) {
    testSeam().onModal = [&open, field, work](QDialog* d) {
      QApplication::setActiveWindow(d);
      EXPECT_TRUE(QTest::qWaitForWindowActive(d));
      auto* w = Find(d, field);
      w->setFocus(Qt::TabFocusReason);
      work(d, w);
      open = d->isVisible();
      return d->result();
    };
  };
  keys("tblSettings", [](QDialog*, QWidget* table) {
    for (auto mod : {Qt::ControlModifier, Qt::NoModifier}) QTest::keyClick(table, Qt::Key_Tab, mod);
    EXPECT_FALSE(table->hasFocus());
    auto* t = static_cast<QTableWidget*>(table);
    EXPECT_EQ(t->selectionModel()->selectedRows().value(0).row(), 0);
    QTest::keyClick(table, Qt::Key_Escape);
  });
  press("cmdBitTimingAssistant");
  EXPECT_FALSE(open);
  EXPECT_EQ(regs(), before);
  std::optional<BitTimingSetting> second;
  keys("tblSettings", [&](QDialog* d, QWidget* table) {
    QTest::keyClick(table, Qt::Key_Down);
    second = static_cast<frmBitTiming*>(d)->chosen();
    QTest::keyClick(table, Qt::Key_Return);
  });
  press("cmdBitTimingAssistant");
  ASSERT_TRUE(second);
  ASSERT_FALSE(second->recommended);
  const auto cnf = EncodeBitTiming(*second, before[CNF2], before[CNF3]);
  EXPECT_EQ(std::vector<int>({regs()[CNF1], regs()[CNF2], regs()[CNF3]}),
            std::vector<int>(cnf.begin(), cnf.end()));

  const RegisterSet applied = regs();
  keys("txtTestID", [](QDialog* d, QWidget* id) {
    QTest::keyClicks(id, "800");
    QTest::keyClick(id, Qt::Key_Return);
    // The error sentence wraps, at any font size, instead of running off the dialog's edge.
    auto* result = Find<QLabel>(d, "lblTestResult");
    EXPECT_TRUE(result->text().contains("above 7FF")) << result->text().toStdString();
    EXPECT_LT(result->minimumSizeHint().width(),
              result->fontMetrics().horizontalAdvance(result->text()) / 2);
    auto* list = Find(d, "txtDesignIDs");
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(list, "120 121");
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(Find<QPushButton>(d, "cmdApply")->isEnabled());
    QTest::keyClick(list, Qt::Key_Escape);
  });
  press("cmdAcceptanceFilters");
  EXPECT_FALSE(open);
  EXPECT_EQ(regs(), applied);
}

// On a screen narrower than the window (the test screen is 1024 x 600), the contents scroll
// inside a window that fits, laid out as ever; a window that fits is left as it is.
TEST_F(CanWindow, OnASmallScreenTheWindowFitsAndItsContentsScroll) {
  w->layout()->activate();
  const QSize fixed = w->size();
  for (int shown = 0; shown < 2; ++shown) {  // shown again: the same fit, one scroll area
    show();
    ASSERT_GT(fixed.width(), w->screen()->availableGeometry().width());
    ASSERT_NE(w->scrollArea(), nullptr);
    EXPECT_TRUE(w->screen()->availableGeometry().contains(w->frameGeometry()));
    EXPECT_EQ(w->scrollArea()->widget()->size(), fixed);
    auto* ok = Find<QPushButton>(w, "cmdOK");
    w->scrollArea()->ensureWidgetVisible(ok);
    EXPECT_FALSE(ok->visibleRegion().isEmpty());
    Click(w, "cmdOK");
  }
  EXPECT_EQ(w->findChildren<QScrollArea*>().size(), 1);
  EditorWindow* small = Windows::instance().get(WindowId::STCON);
  small->layout()->activate();
  const QSize before = small->size();
  small->show();
  EXPECT_EQ(small->scrollArea(), nullptr);
  EXPECT_EQ(small->size(), before);
  small->hide();
}
