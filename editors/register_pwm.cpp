// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmDCSlider.h"
#include "editors/frmPWM.h"
#include "editors/frmPWMSlider.h"
#include "editors/frmSTCON.h"
#include "gui/windows.h"

void RegisterPwmWindows(Windows& w) {
  w.registerFactory(WindowId::PWM1, [] { return new frmPWM(1); });
  w.registerFactory(WindowId::PWM2, [] { return new frmPWM(2); });
  w.registerFactory(WindowId::PWMSlider, [] { return new frmPWMSlider; });
  w.registerFactory(WindowId::DCSlider, [] { return new frmDCSlider; });
  w.registerFactory(WindowId::STCON, [] { return new frmSTCON; });
}
