// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The scheduled transmission editor: the one register STCON and the period
// it gives. Every time the window comes up it reloads its controls from STCON.
#pragma once

#include "gui/windows.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QSlider;

class frmSTCON : public EditorWindow {
  Q_OBJECT
 public:
  frmSTCON();
  // Shows STCON in hexadecimal and the scheduled period in ms.
  void RefreshSTCONDisp();

  QCheckBox* chkSTEN;
  QComboBox* cmbBaseFreq;
  QSlider* sldrTxMult;
  QLineEdit* txtSTCONRate;
  QRadioButton* optNoData;
  QRadioButton* optAtoDRegs;
  QLabel* lblAddr;      // element 0
  QLineEdit* txtSTCON;  // element 0
  QPushButton* cmdOK;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void loadFromRegister();
  void showEnableLook();
  // STCON := (STCON and keep) or set, then the display.
  void write(int keep, int set);
};
