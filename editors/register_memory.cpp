// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmMemoryMap.h"
#include "editors/frmUserReg.h"
#include "gui/windows.h"

void RegisterMemoryWindows(Windows& w) {
  w.registerFactory(WindowId::UserReg, [] { return new frmUserReg; });
  w.registerFactory(WindowId::MemoryMap, [] { return new frmMemoryMap; });
}
