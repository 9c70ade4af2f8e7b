#include "shell/windows.h"

void RegisterGpioAtoDWindows(Windows& /*w*/) {}
