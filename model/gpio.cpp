// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/gpio.h"

#include <stdexcept>
#include <string>

namespace zk7 {

namespace {

constexpr int kPwmEnable = 0x80;  // T1CON / T2CON bit 7
constexpr int kVrefMinus = 5;     // ADCON1 bit: GP4 is Vref-
constexpr int kVrefPlus = 4;      // ADCON1 bit: GP5 is Vref+
constexpr int kGP6Digital = 6;    // OPTREG1 bit: GP6 is digital, not CLK

void CheckPin(int pin) {
  if (pin < 0 || pin >= kPinCount) throw std::out_of_range("pin " + std::to_string(pin));
}

// The PWM enable register of GP2 (T1CON) and GP3 (T2CON), -1 for other pins.
int PwmRegister(int pin) {
  return pin == 2 ? T1CON : pin == 3 ? T2CON : -1;
}

void SetPwm(RegisterSet& rs, int pin, bool on) {
  if (int r = PwmRegister(pin); r >= 0) SetRegisterBit(rs, r, 7, on);
}

void SetGP7Reset(RegisterSet& rs, bool reset) {
  rs.setConfigWord(WithGP7Reset(rs.ConfigWord(), reset));
}

void MakeDigital(RegisterSet& rs, int pin) {
  if (pin <= 3) {
    SetRegisterBit(rs, ADCON1, pin, true);
    SetPwm(rs, pin, false);
  } else if (pin == 4) {
    SetRegisterBit(rs, ADCON1, kVrefMinus, false);
  } else if (pin == 5) {
    SetRegisterBit(rs, ADCON1, kVrefPlus, false);
  } else if (pin == 6) {
    SetRegisterBit(rs, OPTREG1, kGP6Digital, true);
  } else {
    SetGP7Reset(rs, false);
  }
}

}  // namespace

const char* PinFuncCaption(int pin, PinFunc f) {
  static const char* const captions[kPinCount][3] = {
      {"GP0", "AN0", nullptr}, {"GP1", "AN1", nullptr},   {"GP2", "AN2", "PWM1"},
      {"GP3", "AN3", "PWM2"},  {"GP4", nullptr, "Vref-"}, {"GP5", nullptr, "Vref+"},
      {"GP6", nullptr, "CLK"}, {"GP7", nullptr, "nRST"},
  };
  if (pin < 0 || pin >= kPinCount) return nullptr;
  return captions[pin][static_cast<int>(f)];
}

PinFunc ReadPinFunction(const RegisterSet& rs, int pin) {
  CheckPin(pin);
  if (pin <= 3) {
    if (int r = PwmRegister(pin); r >= 0 && (rs.reg(r) & kPwmEnable)) return PinFunc::Special;
    return (rs[ADCON1] >> pin) & 1 ? PinFunc::Digital : PinFunc::Analog;
  }
  bool special = false;
  switch (pin) {
    case 4:
      special = (rs[ADCON1] >> kVrefMinus) & 1;
      break;
    case 5:
      special = (rs[ADCON1] >> kVrefPlus) & 1;
      break;
    case 6:
      special = !((rs[OPTREG1] >> kGP6Digital) & 1);
      break;
    default:
      special = (rs.ConfigWord() & kConfigGP7Reset) != 0;
      break;
  }
  return special ? PinFunc::Special : PinFunc::Digital;
}

bool EdgeDetectAvailable(const RegisterSet& rs, int pin) {
  if (!PinIsInput(rs, pin)) return false;
  return !(pin == 7 && ReadPinFunction(rs, 7) == PinFunc::Special);
}

void SetRegisterBit(RegisterSet& rs, int reg, int bit, bool on) {
  int mask = 1 << bit;
  int v = rs.reg(reg);
  rs.set(reg, on ? (v | mask) : (v & ~mask & 0xFF));
}

void SelectPinFunction(RegisterSet& rs, int pin, PinFunc f) {
  CheckPin(pin);
  if (!PinOffers(pin, f)) return;
  switch (f) {
    case PinFunc::Digital:
      MakeDigital(rs, pin);
      break;
    case PinFunc::Analog:
      SetRegisterBit(rs, GPDDR, pin, true);
      SetRegisterBit(rs, ADCON1, pin, false);
      SetPwm(rs, pin, false);
      break;
    case PinFunc::Special:
      switch (pin) {
        case 2:
        case 3:
          SetRegisterBit(rs, GPDDR, pin, false);
          SetPwm(rs, pin, true);
          break;
        case 4:
          SetRegisterBit(rs, ADCON1, kVrefMinus, true);
          SetRegisterBit(rs, GPDDR, pin, true);
          break;
        case 5:
          SetRegisterBit(rs, ADCON1, kVrefPlus, true);
          SetRegisterBit(rs, GPDDR, pin, true);
          break;
        case 6:
          SetRegisterBit(rs, OPTREG1, kGP6Digital, false);
          SetRegisterBit(rs, GPDDR, pin, false);
          break;
        default:
          SetGP7Reset(rs, true);
          SetRegisterBit(rs, GPDDR, pin, true);
          break;
      }
      break;
  }
}

void SetPinDirection(RegisterSet& rs, int pin, bool input) {
  CheckPin(pin);
  if (input) {
    if (pin <= 3 || pin >= 6) MakeDigital(rs, pin);
  } else {
    bool analog = pin <= 3 && ReadPinFunction(rs, pin) == PinFunc::Analog;
    if (analog || pin == 4 || pin == 5) MakeDigital(rs, pin);
  }
  SetRegisterBit(rs, GPDDR, pin, input);
}

void SetClockPrescalerLine(RegisterSet& rs, int line) {
  if (line < 0 || line > 3) throw std::out_of_range("clock prescaler line " + std::to_string(line));
  rs.set(OPTREG1, (rs[OPTREG1] & 0xCF) | (line << 4));
}

}  // namespace zk7
