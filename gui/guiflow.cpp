// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/guiflow.h"

#include <QApplication>
#include <QSocketNotifier>

#include "port/signals.h"

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

void WatchTerminationSignals(QObject* parent) {
  zk7::InstallTerminationHandlers("zk7-programmer", zk7::IdleTermination::Notify);
  if (zk7::TerminationSignalFd() < 0) return;
  auto* notifier = new QSocketNotifier(zk7::TerminationSignalFd(), QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, [] { zk7::HandleTerminationNotice(); });
}
