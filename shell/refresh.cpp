#include "shell/refresh.h"

#include "shell/windows.h"

namespace {
std::function<void()>& mainSection() {
  static std::function<void()> f;
  return f;
}
}  // namespace

void SetMainRefreshSection(std::function<void()> section) {
  mainSection() = std::move(section);
}

void RefreshAll() {
  if (mainSection()) mainSection()();
  for (WindowId id :
       {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1, WindowId::PWM2})
    if (EditorWindow* w = Windows::instance().get(id)) w->showRegisterSet();
}
