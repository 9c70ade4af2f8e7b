// Text helpers every window shares: the user's decimal separator and the
// display text of a derived quantity.
#pragma once

#include <QString>
#include <string>

// The locale's decimal separator as one ASCII character; "." when the
// locale's separator is not a single ASCII character.
char LocaleDecimalPoint();

// A derived quantity in the shortest decimal form, with the user's separator.
QString DecimalText(double value);

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
