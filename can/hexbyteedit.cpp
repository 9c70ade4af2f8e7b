// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/hexbyteedit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QValidator>

#include "model/hex.h"

namespace {

// Guards what the key filter cannot see: pasted or dropped text. Lower-case
// digits are raised; anything that is not hex is refused as a whole, so a
// paste never turns into a different number.
class HexByteValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    if (input.size() > 2) return Invalid;
    return input.isEmpty() || zk7::IsHexText(input.toStdString()) ? Acceptable : Invalid;
  }
};

}  // namespace

HexByteEdit::HexByteEdit(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(2);
  setAlignment(Qt::AlignCenter);
  setValidator(new HexByteValidator(this));
}

void HexByteEdit::keyPressEvent(QKeyEvent* e) {
  const QString t = e->text();
  // Editing and navigation keys without a character, shortcuts (copy, paste,
  // undo) and Escape (closes the window) pass; every typed character goes
  // through the hex key filter.
  if (t.isEmpty() ||
      (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ||
      e->key() == Qt::Key_Escape || e->key() == Qt::Key_Delete) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  const int code = t.at(0).unicode();
  const int key = zk7::HexKeyFilter(code);
  if (key == 0) {
    e->accept();  // discarded, also keeps Enter from pressing a button
    return;
  }
  if (key == code) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  QKeyEvent upper(e->type(), e->key(), e->modifiers(), QString(QChar(key)), e->isAutoRepeat(),
                  static_cast<ushort>(e->count()));
  QLineEdit::keyPressEvent(&upper);
  e->setAccepted(upper.isAccepted());
}

void HexByteEdit::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  selectAll();
  // A mouse press places the cursor after the focus arrives; select once it has.
  if (e->reason() == Qt::MouseFocusReason)
    QTimer::singleShot(0, this, [this] {
      if (hasFocus()) selectAll();
    });
}

void HexByteEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  if (e->reason() != Qt::PopupFocusReason) emit left();
}
