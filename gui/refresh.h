// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The summary refresh: every window shows the current register set.
#pragma once

#include <functional>

class QWidget;

// Visits the main window, then GPIO, CAN, A/D, PWM1 and PWM2, creating those
// windows (hidden) when they do not exist yet.
void RefreshAll();

// The refresh at the end of the main window's load: the main window's section
// at once; the editors' sections, which create the editors as they would at
// the load, as soon as the window is on the screen, so it shows sooner. They
// run earlier when anything needs them first (FinishLoadRefresh): nothing
// sees an editor, a register or a message that differs from creating the
// editors during the load.
void RefreshAllAtLoad(QWidget* window);
// Runs the editors' part of the load's refresh if it has not run yet: every
// refresh, every editor's first use and every user input does this first.
void FinishLoadRefresh();

// The main window's own section (oscillator option, configuration word label,
// frequency box); set by the main window when it loads.
void SetMainRefreshSection(std::function<void()> section);
