#include "shell/windows.h"

void RegisterPwmWindows(Windows& /*w*/) {}
