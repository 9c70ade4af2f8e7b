#include "shell/uitext.h"

#include <QLocale>

#include "model/format.h"

char LocaleDecimalPoint() {
  const QString dp = QLocale().decimalPoint();
  return dp.size() == 1 && dp.at(0).unicode() < 0x80 ? static_cast<char>(dp.at(0).unicode()) : '.';
}

QString DecimalText(double value) {
  return Q(zk7::FormatNumber(value, LocaleDecimalPoint()));
}
