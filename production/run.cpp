// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/run.h"

#include <chrono>

#include "model/named_fields.h"
#include "port/signals.h"

namespace zk7 {

namespace {

// The first value of the rule's grid (START + k * STEP) above value, or none
// past the rule's end. value may lie off the grid: another rule's, on a shared log.
std::optional<std::uint64_t> After(std::uint64_t value, const SerialRule& rule) {
  if (value < rule.start) return rule.start;
  const std::uint64_t steps = (value - rule.start) / rule.step;
  if (steps >= (rule.end() - rule.start) / rule.step) return std::nullopt;
  return rule.start + (steps + 1) * rule.step;
}

// One chip's sequence as one bracket for the signals: a termination signal
// stops its flow and ends the process when the bracket closes; a stop
// request waits for that too.
struct ChipBracket {
  const bool entered = EnterPortFlow();
  ~ChipBracket() {
    if (entered) LeavePortFlow();
  }
};

constexpr int kReserveTries = 3;

}  // namespace

ChipOutcome ProgramChip(Programmer& programmer, RegisterSet& rs, MemoryImage& image, bool check,
                        const FlowCallbacks& cb, const BeforeBurn& beforeBurn) {
  const auto started = std::chrono::steady_clock::now();
  ChipOutcome out;
  BuildMemoryImage(rs, image);
  out.record.checksum = rs.ImageChecksum();
  out.record.configWord = static_cast<std::uint16_t>(rs.ConfigWord());
  const std::uint64_t pulsesBefore = programmer.pulseCount();
  bool refused = false;
  const ChipBracket bracket;
  // The chip checked is the chip burnt.
  const ChipSequence sequence(programmer);
  if (!bracket.entered) {
    out.flow.status = FlowResult::Aborted;  // the process is ending
  } else if (check) {
    ChipCheck c = CheckImage(programmer, image, rs.ConfigWord(), cb);
    out.flow = c.read;
    refused = out.flow.ok() && !c.fit();
    out.noChip = c.noChip;
    out.noChipWord = c.noChipWord;
    out.unfit = std::move(c.unfit);
  }
  bool held = false;
  if (out.flow.ok() && !refused && beforeBurn && !beforeBurn(out.error)) held = true;
  if (bracket.entered && out.flow.ok() && !refused && !held)
    out.flow = programmer.ProgramImage(image, rs.ConfigWord(), cb);
  // A port that failed during the run (a driver error, an emulated chip whose
  // file could not be written) spoils a pass: the chip does not hold what was said.
  if (out.flow.ok() && !held && !programmer.port().accessProblem().empty()) {
    out.flow.status = FlowResult::Failed;
    out.flow.title = PortTitle(programmer.port());
    out.flow.text = programmer.port().accessProblem();
  }

  const bool pulsed = programmer.pulseCount() != pulsesBefore;
  if (refused) {
    out.record.result = ChipResult::Refused;
    out.record.position = out.noChip ? NoChipPosition() : PositionText(out.unfit.front().position);
  } else if (held) {
    out.record.result = ChipResult::Unused;
  } else if (out.flow.status == FlowResult::Passed) {
    out.record.result = ChipResult::Passed;
  } else if (out.flow.status == FlowResult::Failed) {
    out.record.result = ChipResult::Failed;
    if (out.flow.failedPosition) out.record.position = PositionText(*out.flow.failedPosition);
  } else if (pulsed) {
    out.record.result = ChipResult::Aborted;
  } else {
    // Stopped before the first pulse, the port held by another program, or
    // no guard to look after the run: nothing changed.
    out.record.result = ChipResult::Unused;
    out.record.position = out.flow.guardFailed                  ? "guard"
                          : out.flow.status == FlowResult::Busy ? "busy"
                                                                : "stopped";
  }
  out.record.time = LogTimeNow();
  out.record.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  return out;
}

SerialRange RangeOf(const SerialRule& rule) {
  return {rule.start, rule.end()};
}

std::optional<std::uint64_t> FirstSerial(const SerialRule& rule, const SerialUse& use,
                                         bool reuseFailed) {
  std::optional<std::uint64_t> last = use.held;
  if (!reuseFailed && use.failed && (!last || *use.failed > *last)) last = use.failed;
  if (rule.start > rule.end()) return std::nullopt;
  if (!last) return rule.start;
  return After(*last, rule);
}

ProductionSession::ProductionSession(Programmer& programmer, const RegisterSet& configuration,
                                     ProductionPlan plan)
    : programmer_(programmer), configuration_(configuration), plan_(std::move(plan)) {}

bool ProductionSession::open(std::string& error) {
  // A print job waiting for a port lp shares gets it the moment a chip is
  // done: over a line's worth of chips one will come.
  const PortDriver* driver = programmer_.port().driver();
  if (!plan_.acceptPortWarning && driver && !driver->warning().empty()) {
    error = driver->warning() + " A production run does not start on this port (zk7prog program " +
            "--allow-lp starts it all the same).";
    return false;
  }
  logged_ = !plan_.logPath.empty();
  if (logged_ &&
      !log_.open(plan_.logPath, plan_.serial ? RangeOf(*plan_.serial) : SerialRange{}, error))
    return false;
  stated_ = logged_ && plan_.serial;
  if (stated_) {
    if (!state_.open(log_.realPath(), log_.fileStat(), *plan_.serial, error)) return false;
    // Where the log and the state disagree (a log edited, truncated or
    // rotated; a state file lost) the larger values hold, and are kept.
    const SerialUse fromLog = log_.use(), fromState = state_.use();
    if (fromLog.held != fromState.held || fromLog.failed != fromState.failed) {
      const auto text = [](const SerialUse& u) {
        return "used up to " + (u.held ? HexText(*u.held) : std::string("none")) +
               (u.failed ? ", failed up to " + HexText(*u.failed) : std::string());
      };
      notes_.push_back(plan_.logPath + " and its serial state " + state_.path() +
                       " disagree (the log: " + text(fromLog) + "; the state: " + text(fromState) +
                       "): the larger values are kept");
    }
    if (!state_.merge(fromLog, error)) return false;
  }
  updateNext();
  return true;
}

SerialUse ProductionSession::use() const {
  SerialUse use = log_.use();
  if (stated_) {
    const SerialUse fromState = state_.use();
    const SerialRange all;
    if (fromState.held) use.add(use.held, *fromState.held, all);
    if (fromState.failed) use.add(use.failed, *fromState.failed, all);
  }
  return use;
}

void ProductionSession::updateNext() {
  if (!plan_.serial) return;
  const auto fromLog = FirstSerial(*plan_.serial, use(), plan_.reuseFailed);
  // The run's own progress and every state read: the later value wins, and
  // values used up stay used up.
  if (number_ == 0)
    next_ = fromLog;
  else if (!fromLog || (next_ && *fromLog > *next_))
    next_ = fromLog;
}

std::optional<std::uint64_t> ProductionSession::valuesLeft() const {
  if (!plan_.serial) return std::nullopt;
  return next_ ? SerialValuesFrom(*plan_.serial, *next_) : 0;
}

std::string ProductionSession::stopReason() const {
  if (!error_.empty()) return error_;
  if (plan_.serial && !next_) return SerialUsedUpText(*plan_.serial);
  return "";
}

const LogContents* ProductionSession::log() const {
  return logged_ ? &log_.contents() : nullptr;
}

std::vector<std::string> ProductionSession::takeNotes() {
  std::vector<std::string> notes;
  notes.swap(notes_);
  for (auto& note : log_.takeNotes()) notes.push_back(std::move(note));
  for (auto& note : state_.takeNotes()) notes.push_back(std::move(note));
  return notes;
}

bool ProductionSession::finish(std::string& error) {
  return !logged_ || log_.refresh(error);
}

bool ProductionSession::programChip(const FlowCallbacks& cb,
                                    const std::function<void(const ChipOutcome&)>& report) {
  if (!error_.empty()) return false;
  // The records belong to the chip's bracket: a signal during the chip ends
  // the process only once they are on disk and reported.
  const ChipBracket bracket;
  if (!bracket.entered) return false;
  ChipOutcome outcome;
  for (int attempt = 1;; ++attempt) {
    // A log replaced while the run waited for this chip is read before its value is chosen.
    if (logged_ && !log_.refresh(error_)) return false;
    updateNext();
    if (plan_.serial && !next_) {
      error_ = SerialUsedUpText(*plan_.serial);
      return false;
    }
    RegisterSet rs = configuration_;
    if (plan_.serial && !ApplySerial(*plan_.serial, *next_, rs, error_)) return false;
    bool retry = false;
    auto reserve = [&](std::string& error) {
      if (!logged_) return true;
      // The value may have been taken in a log replaced during the check.
      const auto chosen = next_;
      if (!log_.refresh(error)) return false;
      updateNext();
      if (next_ != chosen) {
        retry = true;
        error = "the log was replaced during the check and the value was taken meanwhile";
        return false;
      }
      LogRecord r;
      r.time = LogTimeNow();
      r.serial = next_;
      r.result = ChipResult::Reserved;
      r.checksum = rs.ImageChecksum();
      r.configWord = static_cast<std::uint16_t>(rs.ConfigWord());
      // The state first: a value reserved there is never given again, whatever becomes of the log.
      return (!stated_ || state_.reserve(*next_, error)) && log_.append(r, error);
    };
    MemoryImage image;
    outcome = ProgramChip(programmer_, rs, image, plan_.check, cb, reserve);
    if (outcome.error.empty()) break;
    if (!retry || attempt == kReserveTries) {
      error_ = outcome.error + "; nothing was burnt";
      return false;
    }
  }
  outcome.number = ++number_;
  outcome.record.serial = next_;
  // Without a guard no further chip is burnt: the run ends with its reason.
  if (outcome.flow.guardFailed)
    error_ = outcome.flow.status == FlowResult::Busy
                 ? "the run stopped: its guard could not be started"
                 : "the run stopped: the guard process ended";
  const bool reserved = outcome.record.result != ChipResult::Refused;
  std::string recordError;
  if (logged_ && !log_.append(outcome.record, recordError)) {
    error_ = recordError + "; the result of chip " + std::to_string(number_) + " is not in the log";
    if (reserved) error_ += " (its value stays reserved: a chip may hold it)";
  } else if (stated_ && reserved && !state_.result(*next_, outcome.record.result, recordError)) {
    error_ = recordError + "; the result of chip " + std::to_string(number_) +
             " is not in the serial state (its value stays reserved: a chip may hold it)";
  }
  switch (outcome.record.result) {
    case ChipResult::Passed:
      ++counts_.passed;
      break;
    case ChipResult::Failed:
      ++counts_.failed;
      break;
    case ChipResult::Refused:
      ++counts_.refused;
      break;
    case ChipResult::Aborted:
      ++counts_.aborted;
      break;
    case ChipResult::Reserved:
    case ChipResult::Unused:
      ++counts_.unused;
      break;
  }
  const ChipResult r = outcome.record.result;
  const bool consumed = r == ChipResult::Passed || r == ChipResult::Aborted ||
                        (r == ChipResult::Failed && !plan_.reuseFailed);
  if (next_ && consumed) next_ = After(*next_, *plan_.serial);
  if (report) report(outcome);
  return error_.empty();
}

ProductionSummary RunProduction(Programmer& programmer, const RegisterSet& configuration,
                                const ProductionPlan& plan, const ProductionHooks& hooks) {
  ProductionSession session(programmer, configuration, plan);
  ProductionSummary summary;
  auto warn = [&] {
    for (const auto& note : session.takeNotes())
      if (hooks.warning) hooks.warning(note);
  };
  summary.opened = session.open(summary.error);
  warn();
  if (!summary.opened) return summary;
  bool ended = false;
  std::string error;
  for (int number = 1; number <= plan.count && !ended; ++number) {
    // The value is checked before the chip is asked for, so nothing is burnt with it.
    if (error = session.stopReason(); !error.empty()) break;
    if (hooks.nextChip && !hooks.nextChip(number)) break;
    const bool goesOn = session.programChip(hooks.flow, [&](const ChipOutcome& outcome) {
      warn();
      const ChipResult r = outcome.record.result;
      ended = r == ChipResult::Aborted || r == ChipResult::Unused;
      if (hooks.chipDone) hooks.chipDone(outcome);
    });
    warn();
    if (!goesOn) {
      error = session.stopReason();
      break;
    }
  }
  if (!session.finish(summary.error) && error.empty()) error = summary.error;
  warn();
  summary = session.counts();
  summary.opened = true;
  summary.error = error;
  return summary;
}

}  // namespace zk7
