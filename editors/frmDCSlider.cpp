// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmDCSlider.h"

#include "gui/app.h"
#include "model/pwm.h"

frmDCSlider::frmDCSlider()
    : PwmSliderDialog("frmDCSlider", "Set Duty Cycle", "DCSlider", 1023, 64, "lblDCRegVal",
                      "lblDCResult", "Duty cycle code") {
  DCSlider = slider_;
  lblDCRegVal = value_;
  lblDCResult = result_;
}

double frmDCSlider::seconds(int v, int prescale, double fosc) const {
  return zk7::PwmDutyTime(v, prescale, fosc);
}

void frmDCSlider::store(int module, int v) {
  const zk7::PwmModule& m = zk7::PwmModuleOf(module);
  App().regs.set(m.dch, zk7::PwmDutyHigh(v));
  App().regs.set(m.con, zk7::WithPwmDutyLow(App().regs[m.con], v));
}
