// The summary refresh: every window shows the current register set.
#pragma once

#include <functional>

// Visits the main window, then GPIO, CAN, A/D, PWM1 and PWM2, creating those
// windows (hidden) when they do not exist yet.
void RefreshAll();

// The main window's own section (oscillator option, configuration word label,
// frequency box); set by the main window when it loads.
void SetMainRefreshSection(std::function<void()> section);
