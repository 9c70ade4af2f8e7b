#include "shell/windows.h"

void RegisterCanWindow(Windows& /*w*/) {}
