#include "editors/frmAtoD.h"
#include "editors/frmGPIO.h"
#include "gui/windows.h"

void RegisterGpioAtoDWindows(Windows& w) {
  w.registerFactory(WindowId::GPIO, [] { return new frmGPIO; });
  w.registerFactory(WindowId::AtoD, [] { return new frmAtoD; });
}
