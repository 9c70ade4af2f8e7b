// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers every window shares: the user's decimal separator, the display
// text of a derived quantity, and the row of buttons at a window's foot.
#pragma once

#include <QString>
#include <initializer_list>
#include <string>

class QHBoxLayout;
class QPushButton;

// The locale's decimal separator as one ASCII character; "." when the
// locale's separator is not a single ASCII character.
char LocaleDecimalPoint();

// A derived quantity in the shortest decimal form, with the user's separator.
QString DecimalText(double value);

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

class QPalette;
class QColor;

// A red for warning text on the palette's window colour, light or dark.
QColor WarningColour(const QPalette& palette);

// Accessible names, so a screen reader says what a control sets, built from
// the register table's names: "GPDDR register" for a register's box,
// "GP3 input (GPDDR bit 3)" for a control of one bit.
QString RegisterBoxName(const QString& registerName);
QString BitControlName(const QString& what, int reg, int bit);

// The buttons at a window's foot, kept to the right; none is an auto default,
// so Enter in an entry box never presses one.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons);
