// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmAtoD.h"
#include "editors/frmGPIO.h"
#include "gui/windows.h"

void RegisterGpioAtoDWindows(Windows& w) {
  w.registerFactory(WindowId::GPIO, [] { return new frmGPIO; });
  w.registerFactory(WindowId::AtoD, [] { return new frmAtoD; });
}
