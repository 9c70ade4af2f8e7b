// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The serial state reader: any text is refused or read; a rule's line
// appended to a state it reads is what it then holds for that rule, and
// what that gives a rule never goes below what the line says.
#include <cassert>
#include <string>

#include "production/state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::map<std::string, zk7::SerialEntry> entries;
  std::string error;
  if (!zk7::ParseSerialState(text, entries, error)) {
    assert(!error.empty());
    return 0;
  }
  zk7::SerialRule rule;
  assert(zk7::ParseSerialRule("TXID0=std:100:2..std:1FF", rule, error));
  const std::string key = zk7::SerialRuleKey(rule);
  zk7::SerialEntry e;
  e.held = 0x104;
  e.reserved = 0x106;
  // Without a whole line the text held nothing: a new file starts with its header.
  std::string appended =
      text.find('\n') == std::string::npos ? "# zk7prog serial state, format 1: x\n" : text;
  if (appended.back() != '\n') appended += '\n';
  assert(zk7::ParseSerialState(appended + zk7::FormatSerialStateLine(key, e), entries, error));
  assert(entries[key] == e);
  const zk7::SerialUse use = zk7::SerialUseFromState(rule, entries);
  assert(use.held && *use.held >= 0x106);
  return 0;
}
