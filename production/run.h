// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Programming chips on a production line: one chip at a time, each checked
// before it is burnt (unless told otherwise), given the next serial number,
// reserved in the log before its first programming pulse and recorded with
// its result before the next chip is asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/image.h"
#include "model/registers.h"
#include "production/log.h"
#include "production/serial.h"
#include "production/state.h"
#include "programmer/check.h"
#include "programmer/programmer.h"

namespace zk7 {

struct ChipOutcome {
  int number = 0;                // 1-based within the run
  LogRecord record;              // its result record
  FlowResult flow;               // the flow that decided: the programming run, or the check's reads
  std::vector<UnfitWord> unfit;  // REFUSED: the words the chip cannot take
  bool noChip = false;           // REFUSED: nothing answered (every word read 0000 or 3FFF)
  std::uint16_t noChipWord = 0;  // what every word read then
  std::string error;             // why beforeBurn kept the chip from being burnt
};

// What happens between the check and the first programming pulse (the
// reservation of the chip's value): false, with error, keeps the chip from
// being burnt.
using BeforeBurn = std::function<bool(std::string& error)>;

// One chip: builds the image of rs once, runs the pre-burn check on it when
// check is set (an unfit chip is REFUSED and gets no programming pulse), then
// beforeBurn, then burns the same image. The record carries the result
// (UNUSED when the chip got no programming pulse after all: stopped, the port
// held by another program, beforeBurn refused), position, checksum,
// configuration word and time; the serial value is the caller's.
// The whole sequence is one bracket for the signals (port/signals.h): a stop
// request (Ctrl-Z) waits until it has ended with the lines unpowered.
ChipOutcome ProgramChip(Programmer& programmer, RegisterSet& rs, MemoryImage& image, bool check,
                        const FlowCallbacks& cb, const BeforeBurn& beforeBurn = {});

// The first serial value to give after the values a log shows used: after
// the highest value a chip may hold and, unless reuseFailed, the highest
// FAILED value; START when that is higher. None when the values are used up
// (past rule.end()).
std::optional<std::uint64_t> FirstSerial(const SerialRule& rule, const SerialUse& use,
                                         bool reuseFailed);
// The values of the rule a log counts: START to its end.
SerialRange RangeOf(const SerialRule& rule);

struct ProductionPlan {
  std::optional<SerialRule> serial;
  std::string logPath;  // empty: no log
  int count = 1;
  bool check = true;
  bool reuseFailed = false;
  // Starts even on a port whose driver warns of a risk to the chip (the
  // printer driver lp sharing it); otherwise such a run is refused.
  bool acceptPortWarning = false;
};

struct ProductionSummary {
  int passed = 0, failed = 0, refused = 0, aborted = 0, unused = 0;
  // The log was opened (or there is none): the run got as far as its chips.
  bool opened = false;
  // Why the run stopped early on its own account: a log that cannot be opened
  // or written, serial values used up. Empty otherwise (the user's quit and an
  // abort are not errors).
  std::string error;
};

// A production run that a face drives one chip at a time: holds the log's
// lock from open() to its end, knows the next value and how many are left,
// and keeps this session's counts.
class ProductionSession {
 public:
  ProductionSession(Programmer& programmer, const RegisterSet& configuration, ProductionPlan plan);

  // Refuses a port whose driver warns of a risk to the chip (lp sharing
  // it) unless the plan accepts it, then locks and reads the log (when the
  // plan has one) and, with a serial rule, its serial state
  // (production/state.h). False with error.
  bool open(std::string& error);
  // The value the next chip gets; none without a rule or once used up.
  std::optional<std::uint64_t> nextSerial() const { return next_; }
  // Values left from the next one to the rule's end; none without a rule.
  std::optional<std::uint64_t> valuesLeft() const;
  // Why no further chip can be programmed: the values are used up, a record
  // could not be written. Empty while one can.
  std::string stopReason() const;
  // Programs the next chip: reads the log again if it was replaced, the
  // check, the reservation record (on disk before the first pulse), the
  // flow, the result record. report gets the outcome before the chip's
  // signal bracket closes (a signal during the chip ends the process only
  // after it). False when no chip was programmed or no further one can be
  // (stopReason() says why).
  bool programChip(const FlowCallbacks& cb,
                   const std::function<void(const ChipOutcome&)>& report = {});
  // This session's chips.
  const ProductionSummary& counts() const { return counts_; }
  // The log's counts and last records; null without a log.
  const LogContents* log() const;
  // Damaged lines and open reservations found, a replaced log read again, a
  // log and a state that disagree.
  std::vector<std::string> takeNotes();
  // Checks once more that the log's name still names the file written (and
  // appends this run's records to a new one). False with error.
  bool finish(std::string& error);

 private:
  void updateNext();
  SerialUse use() const;  // the log's and the state's, the larger of each

  Programmer& programmer_;
  RegisterSet configuration_;
  ProductionPlan plan_;
  ProductionLog log_;
  SerialState state_;
  bool logged_ = false;
  bool stated_ = false;
  std::vector<std::string> notes_;
  std::optional<std::uint64_t> next_;
  int number_ = 0;
  ProductionSummary counts_;
  std::string error_;
};

struct ProductionHooks {
  FlowCallbacks flow;
  // Asked before chip number (1..count) is programmed; false ends the run.
  std::function<bool(int number)> nextChip;
  // Told after each chip, once its records are in the log.
  std::function<void(const ChipOutcome&)> chipDone;
  // Told of what the log showed: damaged lines, open reservations, a replaced log.
  std::function<void(const std::string&)> warning;
};

// The command line's loop on a session: up to plan.count chips, asking for
// each. A failed chip gets the next value after it unless reuseFailed; an
// aborted or unused chip ends the run; a log record that cannot be written
// ends it before the next chip.
ProductionSummary RunProduction(Programmer& programmer, const RegisterSet& configuration,
                                const ProductionPlan& plan, const ProductionHooks& hooks);

}  // namespace zk7
