#include "shell/uitext.h"

#include <QHBoxLayout>
#include <QLocale>
#include <QPushButton>

#include "model/format.h"

char LocaleDecimalPoint() {
  const QString dp = QLocale().decimalPoint();
  return dp.size() == 1 && dp.at(0).unicode() < 0x80 ? static_cast<char>(dp.at(0).unicode()) : '.';
}

QString DecimalText(double value) {
  return Q(zk7::FormatNumber(value, LocaleDecimalPoint()));
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
