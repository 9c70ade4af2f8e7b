// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// General-purpose pins GP0..GP7: each pin's function as the registers encode
// it, and the register writes that choosing a function or a direction makes.
// The GPIO window and the command line share these.
#pragma once

#include "model/registers.h"

namespace zk7 {

constexpr int kPinCount = 8;

// The three functions a pin can offer: digital GPn, analog ANn, or a special
// function (PWM1, PWM2, Vref-, Vref+, CLK, nRST).
enum class PinFunc { Digital = 0, Analog = 1, Special = 2 };

// Caption of a pin function ("GP2", "AN2", "PWM1"); nullptr when the pin
// does not offer it.
const char* PinFuncCaption(int pin, PinFunc f);
inline bool PinOffers(int pin, PinFunc f) {
  return PinFuncCaption(pin, f) != nullptr;
}

// The function the registers give a pin: GP0/GP1 analog when their ADCON1
// bit is 0; GP2/GP3 PWM when T1CON/T2CON bit 7 is set, else analog or digital
// by ADCON1; GP4/GP5 Vref-/Vref+ by ADCON1 bits 5/4; GP6 CLK when OPTREG1
// bit 6 is 0; GP7 nRST when ConfigWord bit 2 is set.
PinFunc ReadPinFunction(const RegisterSet& rs, int pin);

inline bool PinIsInput(const RegisterSet& rs, int pin) {
  return (rs[GPDDR] >> pin) & 1;
}
// Whether a change on the pin can be detected: an input that is not the
// reset input.
bool EdgeDetectAvailable(const RegisterSet& rs, int pin);

// Sets or clears one bit of a register.
void SetRegisterBit(RegisterSet& rs, int reg, int bit, bool on);

// Chooses a pin function. Digital and analog clear the PWM enable of GP2/GP3
// so the pin no longer reads as PWM. Analog, Vref-, Vref+ and nRST make the
// pin an input, PWM1, PWM2 and CLK an output; the direction is the only other
// bit written. The nRST choice rewrites ConfigWord with its high byte
// cleared. A function the pin does not offer writes nothing.
void SelectPinFunction(RegisterSet& rs, int pin, PinFunc f);

// Sets a pin's direction. Making GP0..GP3, GP6 or GP7 an input makes it
// digital (taking GP2/GP3 off PWM, GP6 off CLK, GP7 off nRST); GP4/GP5 keep
// their function. Making GP0..GP3 an output takes an analog pin digital,
// GP4/GP5 become digital; PWM, CLK and nRST stay.
void SetPinDirection(RegisterSet& rs, int pin, bool input);

// Clock output prescaler, OPTREG1 bits 5:4: line 0..3 = Fosc / 1, 2, 4, 8.
inline int ClockPrescalerLine(const RegisterSet& rs) {
  return (rs[OPTREG1] >> 4) & 3;
}
void SetClockPrescalerLine(RegisterSet& rs, int line);

}  // namespace zk7
