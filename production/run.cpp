#include "production/run.h"

#include <algorithm>
#include <chrono>

#include "port/signals.h"

namespace zk7 {

namespace {

// value + step, or none past max.
std::optional<std::uint64_t> After(std::uint64_t value, const SerialRule& rule) {
  if (value > rule.max() || rule.max() - value < rule.step) return std::nullopt;
  return value + rule.step;
}

}  // namespace

ChipOutcome ProgramChip(Programmer& programmer, RegisterSet& rs, MemoryImage& image, bool check,
                        const FlowCallbacks& cb) {
  const auto started = std::chrono::steady_clock::now();
  ChipOutcome out;
  BuildMemoryImage(rs, image);
  out.record.checksum = rs.ImageChecksum();
  out.record.configWord = static_cast<std::uint16_t>(rs.ConfigWord());
  bool refused = false;
  if (check) {
    ChipCheck c = CheckChip(programmer, rs, image, cb);
    out.flow = c.read;
    refused = out.flow.ok() && !c.fit();
    out.noChip = c.noChip;
    out.unfit = std::move(c.unfit);
  }
  if (out.flow.ok() && !refused) out.flow = programmer.ProgramDevice(rs, image, cb);
  // A port that failed during the run (a driver error, an emulated chip whose
  // file could not be written) spoils a pass: the chip does not hold what was said.
  if (out.flow.ok() && !programmer.port().accessProblem().empty()) {
    out.flow.status = FlowResult::Failed;
    out.flow.title = "Check Parallel Port";
    out.flow.text = programmer.port().accessProblem();
  }

  if (refused) {
    out.record.result = ChipResult::Refused;
    out.record.position = out.noChip ? NoChipPosition() : PositionText(out.unfit.front().position);
  } else if (out.flow.status == FlowResult::Passed) {
    out.record.result = ChipResult::Passed;
  } else if (out.flow.status == FlowResult::Failed) {
    out.record.result = ChipResult::Failed;
    if (out.flow.failedPosition) out.record.position = PositionText(*out.flow.failedPosition);
  } else {
    out.record.result = ChipResult::Aborted;
  }
  out.record.time = LogTimeNow();
  out.record.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  return out;
}

std::optional<std::uint64_t> FirstSerial(const SerialRule& rule, const LogContents& log,
                                         bool reuseFailed) {
  std::optional<std::uint64_t> next = rule.start;
  auto used = [&](std::uint64_t value) {
    if (!next || value < *next) return;
    next = After(value, rule);
  };
  for (const auto& r : log.records) {
    if (!r.serial) continue;
    if (r.result == ChipResult::Passed ||
        (!reuseFailed && (r.result == ChipResult::Failed || r.result == ChipResult::Aborted)))
      used(*r.serial);
  }
  if (!reuseFailed)
    for (auto v : log.damagedSerials) used(v);
  return next;
}

ProductionSummary RunProduction(Programmer& programmer, const RegisterSet& configuration,
                                const ProductionPlan& plan, const ProductionHooks& hooks) {
  ProductionSummary summary;
  ProductionLog log;
  const bool logged = !plan.logPath.empty();
  if (logged && !log.open(plan.logPath, summary.error)) return summary;
  if (hooks.warning)
    for (int line : log.contents().damagedLines)
      hooks.warning(plan.logPath + ": line " + std::to_string(line) +
                    " is not a whole record (torn while it was written?); skipped");

  std::optional<std::uint64_t> next;
  if (plan.serial) next = FirstSerial(*plan.serial, log.contents(), plan.reuseFailed);
  for (int number = 1; number <= plan.count; ++number) {
    RegisterSet rs = configuration;
    // The value is checked before the chip is asked for, so nothing is burnt with it.
    if (plan.serial && !next) {
      summary.error = "the serial values of " + plan.serial->name + " are used up (the last is " +
                      SerialText(*plan.serial, plan.serial->max()) + "); nothing more was burnt";
      return summary;
    }
    if (plan.serial && !ApplySerial(*plan.serial, *next, rs, summary.error)) return summary;
    if (hooks.nextChip && !hooks.nextChip(number)) break;
    // One chip, its log line and its report form one bracket: a termination
    // signal during the chip stops its flow, and the process ends only once
    // the chip's line is in the log.
    if (!EnterPortFlow()) break;
    MemoryImage image;
    ChipOutcome outcome = ProgramChip(programmer, rs, image, plan.check, hooks.flow);
    outcome.number = number;
    outcome.record.serial = next;
    const bool written = !logged || log.append(outcome.record, summary.error);
    switch (outcome.record.result) {
      case ChipResult::Passed:
        ++summary.passed;
        break;
      case ChipResult::Failed:
        ++summary.failed;
        break;
      case ChipResult::Refused:
        ++summary.refused;
        break;
      case ChipResult::Aborted:
        ++summary.aborted;
        break;
    }
    if (hooks.chipDone) hooks.chipDone(outcome);
    LeavePortFlow();
    if (!written || outcome.record.result == ChipResult::Aborted) return summary;
    const bool consumed = outcome.record.result == ChipResult::Passed ||
                          (outcome.record.result == ChipResult::Failed && !plan.reuseFailed);
    if (next && consumed) next = After(*next, *plan.serial);
  }
  return summary;
}

}  // namespace zk7
