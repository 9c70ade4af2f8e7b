// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The CAN editor window: bit timing (CNF1..CNF3), the three transmit
// identifiers, the receive mask and filters, the OPTREG2 option bits and a
// table of the 28 CAN register bytes.
#pragma once

#include <array>

#include "gui/windows.h"

class HexByteEdit;
class frmBitTiming;
class frmFilters;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;

class frmCAN : public EditorWindow {
  Q_OBJECT
 public:
  frmCAN();
  ~frmCAN() override;

  // This window's section of the summary refresh: OPTREG2, the identifiers,
  // then the bit timing. Changes no register byte, except that a type box that
  // changes state stores its SIDL byte normalised.
  void showRegisterSet() override;
  // Rewrites the register table and the derived timing values.
  void RefreshCANDisp();
  // Shows the raw identifier of identifier Index (0..5); any other index is
  // reported as "Not Valid" and changes nothing.
  void CalcRawID(int Index);

  // Bit-timing state: SegTQ(1..3) lengths of the propagation segment and the
  // two phase segments in TQ, NumTQ the TQ in one bit.
  int segTQ(int k) const { return SegTQ[k]; }
  int numTQ() const { return NumTQ; }
  // The segment bar, left edge and width of lblBitTime(k) in twips.
  float barLeftTwips(int k) const { return barLeft_[k]; }
  float barWidthTwips(int k) const { return barWidth_[k]; }

  // Controls, named as their objectNames; arrays are indexed as their names
  // (txtTXIDn[1..12], txtCANReg[1..28]; index 0 unused where the names start at 1).
  QComboBox* cmbSJW;
  QSlider* sldrBRP;
  QLabel* lblNumBRP;
  std::array<QSlider*, 3> sldrSegment;
  std::array<QLabel*, 3> lblNumTQ;
  QCheckBox* chkSamPoint;
  QCheckBox* chkBTLMODE;
  QCheckBox* chkWAKFIL;
  QLineEdit* txtNumTQ;
  QLineEdit* txtBitTime;
  QLineEdit* txtSamplePoint;
  QLineEdit* txtBitRate;
  QLabel* lblTimingWarning;
  std::array<QLabel*, 4> lblBitTime;
  QPushButton* cmdBitTimingAssistant;  // opens frmBitTiming

  std::array<HexByteEdit*, 13> txtTXIDn{};
  std::array<HexByteEdit*, 13> txtRXFilter{};
  std::array<QLabel*, 5> lblTXIDn{};
  std::array<QLabel*, 5> lblRXFilter{};
  std::array<QCheckBox*, 6> chkIDType;
  QLabel* lblTXID0;
  QLabel* lblTXID1;
  QLabel* lblTXID2;
  QLabel* lblRXM;
  QLabel* lblRXF0;
  QLabel* lblRXF1;
  // Identifier values typed in hexadecimal, one per identifier (0..5);
  // Enter or leaving the entry writes the four bytes.
  std::array<QLineEdit*, 6> txtIDValue;
  QPushButton* cmdAcceptanceFilters;  // opens frmFilters

  std::array<QCheckBox*, 8> chkOPTREG2;
  std::array<QLabel*, 8> lblOPTREG2bit;
  std::array<QLineEdit*, 29> txtCANReg{};
  std::array<QLabel*, 29> lblAddr{};
  QPushButton* cmdOK;
  QPushButton* cmdCancel;

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  QWidget* buildBitTiming();
  QWidget* buildIdentifiers();
  QWidget* buildOptReg2();
  QWidget* buildRegisterTable();

  // Bit timing.
  void sjwChosen(int line);
  void sliderAction(int slider);
  void sliderValueChanged(int slider, int value);
  void userMovedSlider(int slider, int value);
  void showBRP(int value);
  void showSegment(int i, int tq);
  void layoutBar();
  void setCaptions();

  // Identifiers: box k (1..12) of the transmit (rx false) or receive array.
  HexByteEdit* byteBox(int id, int byte) const;
  void byteBoxLeft(int id, int byte);
  void idTypeChanged(int id);
  void showIdentifierBytes(int firstId);
  void showIdentifierTypes(int firstId);
  void idValueEntered(int id);
  void openBitTimingAssistant();
  void openAcceptanceFilters();

  void optRegChanged(int bit);

  std::array<int, 4> SegTQ{0, 1, 1, 2};
  int NumTQ = 5;
  std::array<float, 4> barLeft_{};
  std::array<float, 4> barWidth_{};
  QWidget* bar_ = nullptr;
  std::array<QLabel*, 6> rawLabels_{};
  // The slider whose user action is being applied (-1 none); 3 is sldrBRP.
  int userSlider_ = -1;
  frmBitTiming* bitTimingDialog_ = nullptr;  // created on first use
  frmFilters* filtersDialog_ = nullptr;
};
