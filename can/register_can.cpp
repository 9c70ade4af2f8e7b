#include "can/frmCAN.h"
#include "gui/windows.h"

void RegisterCanWindow(Windows& w) {
  w.registerFactory(WindowId::CAN, [] { return new frmCAN; });
}
