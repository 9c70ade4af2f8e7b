// The summary refresh: every window shows the current register set.
#pragma once

// Visits the main window, then GPIO, CAN, A/D, PWM1 and PWM2, creating those
// windows (hidden) when they do not exist yet.
void RefreshAll();
