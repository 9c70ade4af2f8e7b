#include "shell/guiflow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

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
  if (ms <= 0) return;
  QElapsedTimer clock;
  clock.start();
  const qint64 deadline = static_cast<qint64>(ms) * 1000000;
  // A precise timer brings the loop back close to the deadline; the last
  // fraction of a millisecond is spun so the wait overshoots by very little.
  if (ms > 1) {
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms - 1);
    loop.exec();
  }
  while (clock.nsecsElapsed() < deadline) QApplication::processEvents(QEventLoop::AllEvents, 0);
}

zk7::FlowCallbacks GuiFlowCallbacks() {
  zk7::FlowCallbacks cb;
  cb.wait = [](int ms) { GuiDelayMs(ms); };
  cb.processEvents = [] { QApplication::processEvents(); };
  return cb;
}
