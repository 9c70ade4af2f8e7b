#include "shell/windows.h"

void RegisterMemoryWindows(Windows& /*w*/) {}
