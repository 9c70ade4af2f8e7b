// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The serial state beside a production log: LOG.state, next to the file the
// log's name leads to. The log is a report people handle (editors save it in
// place, logrotate moves it away, cleanup scripts delete it, spreadsheets
// save it back); the values given to chips must survive all of that. So
// each reservation and each result is also written, with one write() and an
// fsync, to this small file, which a run reads with the log: where the two
// disagree the larger values win. A run holds an flock on the state file
// itself and on the log, and an address in the kernel named after the state
// file's path, so another name for the log, a deleted or rotated file cannot
// let a second run in.
//
//   # zk7prog serial state, format 1: rule,held,failed,reserved
//   TXID0=std:100..std:1FF,104,,105
//   TXID0=std:100..std:1FF,105,,
//
// One line per event, each the whole state of one rule (NAME=START[:STEP]..LAST)
// after it: held is the highest value a chip may hold (PASSED, ABORTED),
// failed the highest FAILED one, reserved a value whose result has not been
// written yet (it counts as held). The last whole line of a rule holds; a torn
// last line is ignored. When the file grows large it is written anew with one
// line per rule. To give a range's values again on purpose, delete (or move
// away) both the log and its state file, or use a new log name.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "production/log.h"
#include "production/serial.h"

namespace zk7 {

// The rule as the state file keys it: "TXID0=std:100..std:1FF", "RXF0=ext:10:16..ext:1FFFFFF0".
std::string SerialRuleKey(const SerialRule& rule);

// What the state file says of one rule.
struct SerialEntry {
  std::optional<std::uint64_t> held, failed, reserved;
  bool operator==(const SerialEntry& o) const {
    return held == o.held && failed == o.failed && reserved == o.reserved;
  }
};

// The state file's text: entries by rule key. False with error when the text
// is not a serial state file (its first line is not the header).
bool ParseSerialState(const std::string& text, std::map<std::string, SerialEntry>& out,
                      std::string& error);
std::string FormatSerialStateLine(const std::string& key, const SerialEntry& entry);

// What the entries mean for rule: its own entry as it is; another rule's
// values from its START to the highest it gave count as held where they fall
// within rule's range, since that rule may have given each of them.
SerialUse SerialUseFromState(const SerialRule& rule,
                             const std::map<std::string, SerialEntry>& entries);

class SerialState {
 public:
  SerialState() = default;
  ~SerialState();
  SerialState(const SerialState&) = delete;
  SerialState& operator=(const SerialState&) = delete;

  // Opens (or creates, with the log's permissions and owner) the state file
  // for the log whose file is logFile, locks it and reads it. Refuses a state
  // file that is a link or has other names, one another run holds, one that
  // is not a state file, and says exactly what is missing when it cannot be
  // created or written.
  bool open(const std::string& logRealPath, const struct stat& logFile, const SerialRule& rule,
            std::string& error);
  const std::string& path() const { return path_; }
  // The rule's use as the file shows it (see SerialUseFromState).
  SerialUse use() const { return SerialUseFromState(rule_, entries_); }
  // The rule's entry with the log's values merged in (the larger win), written
  // when that changes it.
  bool merge(const SerialUse& fromLog, std::string& error);
  // A value reserved for the chip about to be burnt / that chip's result.
  bool reserve(std::uint64_t value, std::string& error);
  bool result(std::uint64_t value, ChipResult result, std::string& error);
  // Sentences for the user: a state file removed or replaced during the run
  // (and written again).
  std::vector<std::string> takeNotes();

 private:
  bool write(const SerialEntry& entry, std::string& error);
  // The file at path_ is still the one locked; if it was removed or replaced,
  // a new one is made, locked and given every entry. False when another run
  // holds the new one, or it cannot be made.
  bool ensureOwnFile(std::string& error);
  bool create(std::string& error);  // opens or makes the file at path_, locked
  bool rewrite(std::string& error);
  bool lockName(std::string& error);

  std::string path_;
  SerialRule rule_;
  std::string key_;
  struct stat logFile_ {};
  int fd_ = -1;
  int nameLock_ = -1;  // see lockName
  std::map<std::string, SerialEntry> entries_;
  std::vector<std::string> notes_;
};

}  // namespace zk7
