// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The two PWM modules: register fields and the quantities that follow from
// them and the oscillator frequency. Times are in seconds, Fosc in hertz.
#pragma once

#include <cstdint>

#include "model/registers.h"

namespace zk7 {

// Bit fields of T1CON / T2CON.
constexpr int kPwmOutputOn = 0x80;      // PWM output on
constexpr int kPwmPrescaleMask = 0x30;  // timer prescaler: 00 = 1, 01 = 4, 10 and 11 = 16
constexpr int kPwmDutyLowMask = 0x03;   // duty-cycle code bits 1..0
// What a new duty-cycle code keeps of TxCON: output on and prescaler (bits 7, 5, 4).
constexpr int kPwmDutyKeepMask = 0xB0;

// The registers of one module.
struct PwmModule {
  int number;  // 1 or 2
  Reg con;     // T1CON / T2CON
  Reg pr;      // PR1 / PR2
  Reg dch;     // PWM1DCH / PWM2DCH
};
// Module 1 or 2; any other number gives module 1.
const PwmModule& PwmModuleOf(int number);

// Prescale factor selected by TxCON bits 5:4 (1, 4 or 16; 11 reads as 16).
int PwmPrescale(std::uint8_t con);
// TxCON with its prescaler field set for factor 1, 4 or 16, every other bit kept.
// Choosing 16 writes 10, also over a stored 11.
std::uint8_t WithPwmPrescale(std::uint8_t con, int prescale);
// The 10-bit duty-cycle code DC = PWMxDCH * 4 + (TxCON and 3).
int PwmDutyCode(std::uint8_t dch, std::uint8_t con);
// PWMxDCH and TxCON for duty code dc (0..1023): the high eight bits, and TxCON
// keeping bits 7, 5, 4 with the low two bits of dc.
std::uint8_t PwmDutyHigh(int dc);
std::uint8_t WithPwmDutyLow(std::uint8_t con, int dc);

// PWM period P = (PR + 1) * 4 * prescale / Fosc.
double PwmPeriod(int pr, int prescale, double fosc);
// PWM frequency in kHz: 1 / P / 1000.
double PwmFrequencyKHz(double period);
// Resolution in bits, log2(Fosc / (1 / P)), capped at 10 bits for display.
double PwmResolution(double period, double fosc);
double PwmResolutionShown(double resolution);
// Duty-cycle time D = DC * prescale / Fosc.
double PwmDutyTime(int dc, int prescale, double fosc);
// Duty cycle in percent, D / P * 100 (above 100 when DC exceeds 4 * (PR + 1)).
double PwmDutyPercent(double dutyTime, double period);

// Everything a PWM display shows for one module, from the register set.
struct PwmFigures {
  double periodUs;      // P * 1e6
  double frequencyKHz;  //
  double resolution;    // capped at 10
  double dutyUs;        // D * 1e6
  double dutyPercent;
};
// False (figures untouched) when Fosc is 0: every quantity divides by it.
bool ComputePwmFigures(const RegisterSet& rs, int module, int prescale, double fosc,
                       PwmFigures& out);

}  // namespace zk7
