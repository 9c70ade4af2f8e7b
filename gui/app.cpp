// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/app.h"

AppState& App() {
  static AppState state;
  return state;
}
