// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/uitext.h"

#include <QColor>
#include <QHBoxLayout>
#include <QLocale>
#include <QPalette>
#include <QPushButton>

#include "model/format.h"
#include "model/registers.h"

char LocaleDecimalPoint() {
  const QString dp = QLocale().decimalPoint();
  return dp.size() == 1 && dp.at(0).unicode() < 0x80 ? static_cast<char>(dp.at(0).unicode()) : '.';
}

QString DecimalText(double value) {
  return Q(zk7::FormatNumber(value, LocaleDecimalPoint()));
}

QString RegisterBoxName(const QString& registerName) {
  return registerName + " register";
}

QString BitControlName(const QString& what, int reg, int bit) {
  return QString("%1 (%2 bit %3)").arg(what, zk7::RegisterName(reg)).arg(bit);
}

QColor WarningColour(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128 ? QColor(255, 120, 120)
                                                           : QColor(170, 0, 0);
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QPushButton* b : buttons) {
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  return row;
}
