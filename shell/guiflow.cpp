#include "shell/guiflow.h"

#include <QApplication>

namespace {
std::function<void(int)>& waitOverride() {
  static std::function<void(int)> f;
  return f;
}
}  // namespace

void SetGuiWait(std::function<void(int ms)> wait) {
  waitOverride() = std::move(wait);
}

void GuiDelayMs(int ms) {
  if (waitOverride()) {
    waitOverride()(ms);
    return;
  }
  // The core's precise sleep, handling pending events between short slices,
  // so the windows stay live and a 1 ms pulse lasts very little more.
  zk7::PreciseSleepMs(ms, [] { QApplication::processEvents(); });
}

zk7::FlowCallbacks GuiFlowCallbacks() {
  zk7::FlowCallbacks cb;
  cb.wait = [](int ms) { GuiDelayMs(ms); };
  cb.processEvents = [] { QApplication::processEvents(); };
  return cb;
}
