// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The duty-cycle slider dialog (see frmPWMSlider.h for the shared behaviour).
#pragma once

#include "editors/frmPWMSlider.h"

class frmDCSlider : public PwmSliderDialog {
  Q_OBJECT
 public:
  frmDCSlider();
  QSlider* DCSlider;
  QLabel* lblDCRegVal;
  QLabel* lblDCResult;

 protected:
  double seconds(int v, int prescale, double fosc) const override;
  void store(int module, int v) override;
};
