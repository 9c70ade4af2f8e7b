// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/refresh.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "gui/windows.h"

namespace {
std::function<void()>& mainSection() {
  static std::function<void()> f;
  return f;
}

// The editors' part of the load's refresh has not run yet.
bool g_loadRefreshPending = false;

void RefreshEditors() {
  for (WindowId id :
       {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1, WindowId::PWM2})
    if (EditorWindow* w = Windows::instance().get(id)) w->showRegisterSet();
}

// Waits for the window's first exposure, then finishes the load's refresh
// from the event loop; any input before then finishes it first.
class WhenExposed : public QObject {
 public:
  explicit WhenExposed(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
    qApp->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Show:
        if (watched == window_ && window_->windowHandle())
          window_->windowHandle()->installEventFilter(this);
        break;
      case QEvent::Expose:
        if (watched == window_->windowHandle() && window_->windowHandle()->isExposed())
          QTimer::singleShot(0, [] { FinishLoadRefresh(); });
        break;
      case QEvent::KeyPress:
      case QEvent::ShortcutOverride:
      case QEvent::MouseButtonPress:
      case QEvent::Wheel:
        FinishLoadRefresh();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;
};
QPointer<WhenExposed> g_waiting;

}  // namespace

void SetMainRefreshSection(std::function<void()> section) {
  mainSection() = std::move(section);
  if (!mainSection()) g_loadRefreshPending = false;
}

void RefreshAll() {
  if (mainSection()) mainSection()();
  if (g_waiting) g_waiting->deleteLater();
  g_loadRefreshPending = false;
  RefreshEditors();
}

void RefreshAllAtLoad(QWidget* window) {
  if (mainSection()) mainSection()();
  g_loadRefreshPending = true;
  delete g_waiting;
  g_waiting = new WhenExposed(window);
}

void FinishLoadRefresh() {
  if (!g_loadRefreshPending) return;
  g_loadRefreshPending = false;
  if (g_waiting) g_waiting->deleteLater();
  RefreshEditors();
}
