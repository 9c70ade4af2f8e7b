// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/windows.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/focus.h"
#include "gui/refresh.h"

void EditorWindow::showEvent(QShowEvent* event) {
  InstallFocusRules();
  QDialog::showEvent(event);
  if (QScreen* s = screen()) fitInto(WorkArea(s));
}

void LayOutBeforeCreation(QWidget* window) {
  if (window->testAttribute(Qt::WA_WState_Created)) return;
  window->ensurePolished();
  if (QLayout* l = window->layout()) l->activate();
}

void EditorWindow::setVisible(bool visible) {
  if (visible && !testAttribute(Qt::WA_WState_Created)) {
    LayOutBeforeCreation(this);
    if (QScreen* s = screen()) fitInto(WorkArea(s));  // the frame's real size is fitted at the show
  }
  QDialog::setVisible(visible);
}

QRect WorkAreaOf(const QRect& available, const QRect& screen, bool panelsReported) {
  if (panelsReported || available != screen) return available;
  return available.adjusted(0, 0, 0, -kUnknownPanelHeight);
}

QRect WorkArea(const QScreen* screen) {
  // X11 window managers report their panels (_NET_WORKAREA); Wayland
  // compositors do not.
  const bool reported = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  return WorkAreaOf(screen->availableGeometry(), screen->geometry(), reported);
}

QMargins WindowFrame(const QWidget* window) {
  const QRect inside = window->geometry(), outside = window->frameGeometry();
  QMargins frame(inside.left() - outside.left(), inside.top() - outside.top(),
                 outside.right() - inside.right(), outside.bottom() - inside.bottom());
  if (!frame.isNull()) return frame;
  // Not shown yet, so the frame is not known. On Wayland, Qt draws the frame
  // itself (weston and GNOME leave it to the client): 3 pixels around and a
  // 30-pixel title bar. Elsewhere the window manager's title bar is about the
  // style's.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
    return QMargins(3, 30, 3, 3);
  frame.setTop(window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window));
  return frame;
}

void EditorWindow::fitInto(const QRect& area) {
  const QMargins frame = WindowFrame(this);
  const QSize room = area.size().shrunkBy(frame);
  QWidget* content = scroll_ ? scroll_->widget() : this;
  if (!scroll_) {
    if (!layout()) return;
    layout()->activate();
    const QSize need = size().expandedTo(minimumSize());
    if (need.width() <= room.width() && need.height() <= room.height()) return;
    // The window's own layout, with its size constraint, moves to a content
    // widget inside the scroll area; the window itself becomes resizable.
    // Its margins as they were around the window (a child's are narrower).
    const QMargins margins = layout()->contentsMargins();
    content = new QWidget;
    content->setObjectName("scrollContent");
    content->setLayout(layout());
    content->layout()->setContentsMargins(margins);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    scroll_ = new QScrollArea;
    scroll_->setObjectName("scrollArea");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll_);
    content->layout()->activate();
  }
  // As large as the contents and their scroll bars ask, and no larger than the room.
  const QSize bars(scroll_->verticalScrollBar()->sizeHint().width(),
                   scroll_->horizontalScrollBar()->sizeHint().height());
  const QSize full = content->size();
  QSize size = full.boundedTo(room);
  if (size.height() < full.height())
    size.rwidth() = std::min(room.width(), full.width() + bars.width());
  if (size.width() < full.width())
    size.rheight() = std::min(room.height(), full.height() + bars.height());
  setMaximumSize(full + bars);
  resize(size);
  // Keep the frame inside the area.
  QRect placed(pos(), size.grownBy(frame));
  placed.moveRight(std::min(placed.right(), area.right()));
  placed.moveBottom(std::min(placed.bottom(), area.bottom()));
  placed.moveLeft(std::max(placed.left(), area.left()));
  placed.moveTop(std::max(placed.top(), area.top()));
  move(placed.topLeft());
}

Windows& Windows::instance() {
  static Windows w;
  return w;
}

void Windows::registerFactory(WindowId id, Factory factory) {
  factories_[id] = std::move(factory);
}

EditorWindow* Windows::get(WindowId id) {
  FinishLoadRefresh();  // the editors the load's refresh makes come first, as at the load
  auto it = windows_.find(id);
  if (it != windows_.end()) return it->second;
  auto f = factories_.find(id);
  if (f == factories_.end()) return nullptr;
  EditorWindow* w = f->second();
  windows_[id] = w;
  return w;
}

EditorWindow* Windows::existing(WindowId id) const {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : it->second;
}

void Windows::destroyAll() {
  auto ws = std::move(windows_);
  windows_.clear();
  for (auto& [id, w] : ws) delete w;
}
