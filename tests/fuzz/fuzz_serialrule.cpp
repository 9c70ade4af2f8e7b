// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A serial rule as --serial and the production window take it: refused with
// a reason, or a range within its field that reads back from its own text.
#include <cassert>

#include "model/registers.h"
#include "production/serial.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zk7::SerialRule rule;
  std::string error;
  if (!zk7::ParseSerialRule(text, rule, error)) {
    assert(!error.empty());
    return 0;
  }
  assert(rule.step >= 1 && rule.start <= rule.end() && rule.end() <= rule.max());
  assert(zk7::SerialValuesFrom(rule, rule.start) >= 1);
  assert(zk7::SerialValuesFrom(rule, rule.end()) == 1);
  zk7::RegisterSet rs;
  assert(zk7::ApplySerial(rule, rule.end(), rs, error));
  // The range as the window and the used-up sentence write it is a rule again.
  zk7::SerialRule back;
  const std::string again =
      rule.name + "=" + zk7::SerialRangeText(rule) + ":" + std::to_string(rule.step);
  const std::string::size_type dots = again.find("..");
  const std::string withStep = again.substr(0, dots) + again.substr(again.rfind(':')) + ".." +
                               again.substr(dots + 2, again.rfind(':') - dots - 2);
  assert(zk7::ParseSerialRule(withStep, back, error));
  assert(back.start == rule.start && back.end() == rule.end() && back.step == rule.step &&
         back.extended == rule.extended);
  return 0;
}
