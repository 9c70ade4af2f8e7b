// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/windows.h"

// Each group of windows registers its factories in its own folder.
void RegisterGpioAtoDWindows(Windows& w);  // editors/: GPIO, A/D
void RegisterPwmWindows(Windows& w);       // editors/: PWM1, PWM2, sliders, scheduled TX
void RegisterMemoryWindows(Windows& w);    // editors/: user memory, memory map
void RegisterCanWindow(Windows& w);        // can/

void RegisterAllWindows() {
  static bool done = false;
  if (done) return;
  done = true;
  Windows& w = Windows::instance();
  RegisterGpioAtoDWindows(w);
  RegisterPwmWindows(w);
  RegisterMemoryWindows(w);
  RegisterCanWindow(w);
}
