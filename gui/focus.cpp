// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/focus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>

namespace {

// The ring: the window's text colour (which contrasts with the window's own
// background, light or dark) around the outside of the control.
class FocusRing : public QFocusFrame {
 public:
  using QFocusFrame::QFocusFrame;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QPen pen(palette().color(QPalette::WindowText), 2);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
};

// The checked option of an exclusive group b belongs to; nullptr when none is
// checked or b is in no exclusive group.
QAbstractButton* CheckedInGroup(QAbstractButton* b) {
  if (QButtonGroup* g = b->group()) return g->exclusive() ? g->checkedButton() : nullptr;
  if (!b->autoExclusive() || !b->parentWidget()) return nullptr;
  for (auto* sibling :
       b->parentWidget()->findChildren<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
    if (sibling->autoExclusive() && !sibling->group() && sibling->isChecked()) return sibling;
  return nullptr;
}

// A control whose palette was set to colours of its own.
bool HasFixedColours(const QWidget* w) {
  return w->testAttribute(Qt::WA_SetPalette) && w->focusPolicy() != Qt::NoFocus;
}

bool ByKeyboard(Qt::FocusReason reason) {
  return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
         reason == Qt::ShortcutFocusReason;
}

class FocusRules : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::FocusIn) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->isWindow()) return false;
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    auto* option = qobject_cast<QRadioButton*>(w);
    if (option && ByKeyboard(reason) && !option->isChecked()) {
      QAbstractButton* checked = CheckedInGroup(option);
      if (checked && checked->isVisible() && checked->isEnabled()) {
        checked->setFocus(reason);
        return true;
      }
    }
    showRing(w, ByKeyboard(reason) && HasFixedColours(w));
    return false;
  }

 private:
  void showRing(QWidget* w, bool show) {
    // One ring per window; it moves into the parent of the control it surrounds.
    QWidget* window = w->window();
    auto* ring = window->findChild<FocusRing*>("focusRing");
    if (!show) {
      if (ring) ring->setWidget(nullptr);
      return;
    }
    if (!ring) {
      ring = new FocusRing(window);
      ring->setObjectName("focusRing");
    }
    ring->setWidget(w);
  }
};

}  // namespace

void InstallFocusRules() {
  static QPointer<FocusRules> rules;
  if (rules || !qApp) return;
  rules = new FocusRules;
  rules->setParent(qApp);
  qApp->installEventFilter(rules);
}

QWidget* FocusRingTarget(const QWidget* window) {
  auto* ring = window->findChild<QFocusFrame*>("focusRing");
  return ring && ring->isVisible() ? ring->widget() : nullptr;
}
