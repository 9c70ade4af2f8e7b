// Programming chips on a production line: one chip at a time, each checked
// before it is burnt (unless told otherwise), given the next serial number,
// and recorded in the log before the next chip is asked for.
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
#include "programmer/check.h"
#include "programmer/programmer.h"

namespace zk7 {

struct ChipOutcome {
  int number = 0;                // 1-based within the run
  LogRecord record;              // what the log gets
  FlowResult flow;               // the flow that decided: the programming run, or the check's reads
  std::vector<UnfitWord> unfit;  // REFUSED: the words the chip cannot take
  bool noChip = false;           // REFUSED: nothing answered (every word read 0000)
};

// One chip: builds the image of rs, runs the pre-burn check when check is set
// (an unfit chip is REFUSED and gets no programming pulse), then ProgramDevice.
// The record carries the result, position, checksum, configuration word and
// time; the serial value is the caller's.
ChipOutcome ProgramChip(Programmer& programmer, RegisterSet& rs, MemoryImage& image, bool check,
                        const FlowCallbacks& cb);

// The first serial value of a run that continues the log: after every value
// a chip PASSED with and, unless reuseFailed, every value that went into a
// FAILED or ABORTED chip or a damaged line; START when that is higher. A
// REFUSED chip got nothing, so its value is free. None when the values are
// used up.
std::optional<std::uint64_t> FirstSerial(const SerialRule& rule, const LogContents& log,
                                         bool reuseFailed);

struct ProductionPlan {
  std::optional<SerialRule> serial;
  std::string logPath;  // empty: no log
  int count = 1;
  bool check = true;
  bool reuseFailed = false;
};

struct ProductionHooks {
  FlowCallbacks flow;
  // Asked before chip number (1..count) is programmed; false ends the run.
  std::function<bool(int number)> nextChip;
  // Told after each chip, once its line is in the log.
  std::function<void(const ChipOutcome&)> chipDone;
  // Told of damaged log lines that were skipped.
  std::function<void(const std::string&)> warning;
};

struct ProductionSummary {
  int passed = 0, failed = 0, refused = 0, aborted = 0;
  // Why the run stopped early on its own account: a log that cannot be opened
  // or written, serial values used up. Empty otherwise (the user's quit and an
  // abort are not errors).
  std::string error;
};

// Opens the log, then programs up to plan.count chips. A failed chip gets the
// next value after it unless reuseFailed; an aborted chip ends the run; a log
// line that cannot be written ends it before the next chip.
ProductionSummary RunProduction(Programmer& programmer, const RegisterSet& configuration,
                                const ProductionPlan& plan, const ProductionHooks& hooks);

}  // namespace zk7
