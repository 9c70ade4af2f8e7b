// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The production log reader: any text is refused or read; read in two pieces
// split anywhere it gives what it gives whole; a record appended to a log it
// reads comes back as the last record, also as a spreadsheet saves it.
#include <cassert>
#include <string_view>

#include "production/log.h"

namespace {

bool Same(const zk7::LogContents& a, const zk7::LogContents& b) {
  return a.totals == b.totals && a.damagedCount == b.damagedCount &&
         a.openReservationCount == b.openReservationCount && a.use.held == b.use.held &&
         a.use.failed == b.use.failed && a.recent == b.recent && a.lines == b.lines &&
         a.formatTwo == b.formatTwo;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zk7::LogContents whole, split;
  std::string error;
  const bool read = zk7::ParseLog(text, whole, error);
  assert(read || !error.empty());

  const std::size_t cut = size ? data[0] % (size + 1) : 0;
  zk7::LogReader reader;
  const bool readSplit = reader.feed(text.substr(0, cut), error) &&
                         reader.feed(text.substr(cut), error) && reader.finish(split, error);
  assert(readSplit == read);
  if (!read) return 0;
  assert(Same(whole, split));
  assert(whole.recent.size() <= zk7::LogContents::kRecent);

  zk7::LogRecord r;
  r.time = "2024-05-02T09:14:03Z";
  r.serial = 0x101;
  r.result = zk7::ChipResult::Reserved;
  std::string appended(text);
  if (!appended.empty() && appended.back() != '\n') appended += '\n';
  if (appended.empty()) appended = zk7::LogHeader();
  zk7::LogContents after;
  assert(zk7::ParseLog(appended + zk7::FormatLogLine(r), after, error));
  assert(!after.recent.empty() && after.recent.back() == r);
  // As a spreadsheet saves it back: every field quoted, a space after each comma.
  std::string line = zk7::FormatLogLine(r), quoted = "\"";
  line.pop_back();
  for (char c : line) quoted += c == ',' ? std::string("\", \"") : std::string(1, c);
  assert(zk7::ParseLog(appended + quoted + "\"\r\n", after, error));
  assert(!after.recent.empty() && after.recent.back() == r);
  return 0;
}
