// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The PWM editor: one class serving both PWM modules (frmPWM1, frmPWM2).
#pragma once

#include <QPointF>
#include <QString>

#include "gui/uitext.h"
#include "gui/windows.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;

// The PWM state shared by both PWM windows and the slider dialogs: the module
// the slider dialogs act on and the prescale factor of each module.
struct PwmShared {
  int PWMSelect = 1;
  int Prescale1 = 1;
  int Prescale2 = 1;
  int& prescale(int module) { return module == 2 ? Prescale2 : Prescale1; }
};
PwmShared& PwmState();

// The look of an on/off state box: the caption, on green or off red.
void ShowOnOff(QCheckBox* box, bool on, const QString& onText, const QString& offText);

// Texts of the division-by-zero message a PWM display shows while Fosc is 0.
QString DivisionByZeroText();

class frmPWM : public EditorWindow {
  Q_OBJECT
 public:
  explicit frmPWM(int module);

  int module() const { return module_; }
  void showRegisterSet() override;
  // Recomputes the value boxes and rewrites the register display. While Fosc
  // is 0 the value boxes show "--"; report says whether this refresh (a user
  // action) also shows the division-by-zero message.
  void RefreshPWMDisp(bool report = true);

  QLabel* lblCaption;
  QLabel* lblHint;
  QCheckBox* chkPWMEnable;
  QRadioButton* opt1;
  QRadioButton* opt4;
  QRadioButton* opt16;
  QLineEdit* txtPWMPeriod;
  QLineEdit* txtPWMFreq;
  QLineEdit* txtDCPeriod;
  QLineEdit* txtPWMResolution;
  QLineEdit* txtDC;
  QWidget* picPWM;  // the waveform picture, objectName picPWM1 / picPWM2
  // Its period and duty-cycle labels as Tab stops (Enter or Space opens their dialogs).
  QAbstractButton* cmdPeriod;
  QAbstractButton* cmdDuty;
  QLineEdit* txtPWMReg[4];  // 0 is the hidden template
  QLabel* lblAddr[4];
  QPushButton* cmdOK;
  QPushButton* cmdCancel;

  // Label areas of the waveform picture, in twips from its top-left corner
  // (open bounds): the period label and the duty-cycle label.
  static bool inPeriodLabel(QPointF twips);
  static bool inDutyLabel(QPointF twips);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void activate(bool deferMessage);
  void enableClicked(bool on);
  void prescaleChosen(int prescale);
  void picturePressed(QPointF twips);
  void showEnableLook();

  int module_;
};

// The two instances, created on first use.
frmPWM* frmPWM1();
frmPWM* frmPWM2();
