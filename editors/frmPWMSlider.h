// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The slider dialogs that set a PWM module's period register and duty-cycle
// code. One instance of each serves both modules: PwmState().PWMSelect says
// which module they act on.
#pragma once

#include "gui/windows.h"

class QLabel;
class QPushButton;
class QShowEvent;
class QSlider;

// What the two dialogs share: a slider with its hexadecimal value and the
// resulting time, "Set" and "Cancel", and the slider value saved when the
// dialog comes up, which "Cancel" puts back.
class PwmSliderDialog : public EditorWindow {
  Q_OBJECT
 public:
  // Rewrites the value label and the time label.
  void RefreshSliderDisp();
  void reject() override;  // "Cancel", also the window's close button and Esc

  QPushButton* cmdSet;
  QPushButton* cmdCancel;

 protected:
  PwmSliderDialog(const char* name, const QString& title, const char* sliderName, int maximum,
                  int pageStep, const char* valueName, const char* resultName, const QString& what);
  // The time in seconds that slider value v gives with this prescale factor.
  virtual double seconds(int v, int prescale, double fosc) const = 0;
  // Writes slider value v into the registers of module 1 or 2.
  virtual void store(int module, int v) = 0;
  void showEvent(QShowEvent* event) override;

  QSlider* slider_;
  QLabel* value_;
  QLabel* result_;

 private:
  void set();
  int saved_ = 0;
};

class frmPWMSlider : public PwmSliderDialog {
  Q_OBJECT
 public:
  frmPWMSlider();
  QSlider* PWMSlider;
  QLabel* lblPRegVal;
  QLabel* lblPWMResult;

 protected:
  double seconds(int v, int prescale, double fosc) const override;
  void store(int module, int v) override;
};
