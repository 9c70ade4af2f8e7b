// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A box for one register byte typed in hexadecimal: two characters at most,
// the hex key filter with upper-casing, the whole text selected when the box
// gets the focus, and left() when it loses the focus.
#pragma once

#include <QLineEdit>

class HexByteEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit HexByteEdit(QWidget* parent = nullptr);

 signals:
  // The focus moved away from the box (not to a popup such as the context menu).
  void left();

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
};
