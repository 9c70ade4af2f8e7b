// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/frmCAN.h"
#include "gui/windows.h"

void RegisterCanWindow(Windows& w) {
  w.registerFactory(WindowId::CAN, [] { return new frmCAN; });
}
