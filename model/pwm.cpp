// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/pwm.h"

#include <cmath>

namespace zk7 {

const PwmModule& PwmModuleOf(int number) {
  static const PwmModule modules[2] = {{1, T1CON, PR1, PWM1DCH}, {2, T2CON, PR2, PWM2DCH}};
  return modules[number == 2 ? 1 : 0];
}

int PwmPrescale(std::uint8_t con) {
  switch ((con & kPwmPrescaleMask) >> 4) {
    case 0:
      return 1;
    case 1:
      return 4;
    default:
      return 16;
  }
}

std::uint8_t WithPwmPrescale(std::uint8_t con, int prescale) {
  // Each choice clears the bit the other choices set and sets its own.
  switch (prescale) {
    case 4:
      return static_cast<std::uint8_t>((con & 0xDF) | 0x10);
    case 16:
      return static_cast<std::uint8_t>((con & 0xEF) | 0x20);
    default:
      return static_cast<std::uint8_t>(con & 0xCF);
  }
}

int PwmDutyCode(std::uint8_t dch, std::uint8_t con) {
  return dch * 4 + (con & kPwmDutyLowMask);
}

std::uint8_t PwmDutyHigh(int dc) {
  return static_cast<std::uint8_t>((dc / 4) & 0xFF);
}

std::uint8_t WithPwmDutyLow(std::uint8_t con, int dc) {
  return static_cast<std::uint8_t>((con & kPwmDutyKeepMask) + (dc & 3));
}

double PwmPeriod(int pr, int prescale, double fosc) {
  return (pr + 1.0) * 4.0 * prescale / fosc;
}

double PwmFrequencyKHz(double period) {
  return 1.0 / period / 1000.0;
}

double PwmResolution(double period, double fosc) {
  return std::log(fosc / (1.0 / period)) / std::log(2.0);
}

double PwmResolutionShown(double resolution) {
  // NaN stays NaN (shown as "--"), everything above 10 bits shows 10.
  return resolution > 10.0 ? 10.0 : resolution;
}

double PwmDutyTime(int dc, int prescale, double fosc) {
  return static_cast<double>(dc) * prescale / fosc;
}

double PwmDutyPercent(double dutyTime, double period) {
  return dutyTime / period * 100.0;
}

bool ComputePwmFigures(const RegisterSet& rs, int module, int prescale, double fosc,
                       PwmFigures& out) {
  if (fosc == 0) return false;
  const PwmModule& m = PwmModuleOf(module);
  double p = PwmPeriod(rs[m.pr], prescale, fosc);
  double d = PwmDutyTime(PwmDutyCode(rs[m.dch], rs[m.con]), prescale, fosc);
  out.periodUs = p * 1000000.0;
  out.frequencyKHz = PwmFrequencyKHz(p);
  out.resolution = PwmResolutionShown(PwmResolution(p, fosc));
  out.dutyUs = d * 1000000.0;
  out.dutyPercent = PwmDutyPercent(d, p);
  return true;
}

}  // namespace zk7
