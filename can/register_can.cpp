#include "can/frmCAN.h"
#include "shell/windows.h"

void RegisterCanWindow(Windows& w) {
  w.registerFactory(WindowId::CAN, [] { return new frmCAN; });
}
