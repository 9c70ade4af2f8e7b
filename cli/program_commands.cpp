// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that burn: check (can the chip take the configuration?) and
// program (that check, then the burn; with serial numbers, the log and
// several chips, a production run).
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <ostream>

#include "cli/chip_access.h"
#include "cli/configuration.h"
#include "port/signals.h"
#include "production/run.h"

namespace zk7cli {

namespace {

constexpr int kMaxCount = 1000000;

// Why a chip was refused: nothing answered, or the words it cannot take.
void PrintUnfit(std::ostream& os, bool noChip, std::uint16_t noChipWord,
                const std::vector<zk7::UnfitWord>& unfit) {
  if (noChip) {
    os << zk7::NoChipSummary(noChipWord) << '\n';
    return;
  }
  os << zk7::UnfitText() << '\n';
  for (const auto& line : zk7::UnfitWordLines(unfit)) os << line << '\n';
}

std::string ConfigurationName(const Args& args) {
  return args.positional.empty() ? "the default configuration" : args.file();
}

// The answer at the prompt before a chip: trailing spaces, CR and LF removed,
// case ignored. Empty goes on; q, quit and exit quit; anything else asks again.
enum class Answer { Go, Quit, Again };
Answer PromptAnswer(std::string line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (line.empty()) return Answer::Go;
  return line == "q" || line == "quit" || line == "exit" ? Answer::Quit : Answer::Again;
}

// A positive whole number of chips.
bool ParseCount(const std::string& text, int& count) {
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  count = std::stoi(text);
  return count >= 1 && count <= kMaxCount;
}

// One chip, no serial number and no log: the check, then the programming run.
int ProgramOne(Io& io, const Args& args, Configuration& config, ChipAccess& chip) {
  const auto outcome = zk7::ProgramChip(*chip.programmer, config.regs, config.image,
                                        !args.flag("--no-check"), TerminalCallbacks(io, true));
  EndProgress(io);
  if (outcome.record.result == zk7::ChipResult::Refused) {
    io.err << zk7::RefusalTitle(outcome.noChip) << '\n';
    PrintUnfit(io.err, outcome.noChip, outcome.noChipWord, outcome.unfit);
    io.err << zk7::NothingBurntText() << '\n';
    return kExitChip;
  }
  if (const int code = AfterFlow(io, chip, outcome.flow); code != kExitOk) return code;
  io.out << "PASSED\n";
  return kExitOk;
}

// The production options; false after printing a usage error.
bool BuildPlan(Io& io, const Args& args, zk7::ProductionPlan& plan, int& code) {
  std::string error;
  if (args.has("--serial")) {
    zk7::SerialRule rule;
    if (!zk7::ParseSerialRule(args.get("--serial"), rule, error)) {
      code = UsageError(io, args.command, "--serial: " + error);
      return false;
    }
    if (!args.has("--log")) {
      code = UsageError(io, args.command, "--serial needs --log: the log keeps the values given");
      return false;
    }
    plan.serial = rule;
  } else if (args.flag("--reuse-failed")) {
    code = UsageError(io, args.command, "--reuse-failed goes with --serial");
    return false;
  }
  if (args.has("--count") && !ParseCount(args.get("--count"), plan.count)) {
    code = UsageError(io, args.command, "--count needs a number of chips from 1");
    return false;
  }
  plan.logPath = args.get("--log");
  plan.check = !args.flag("--no-check");
  plan.reuseFailed = args.flag("--reuse-failed");
  plan.acceptPortWarning = args.flag("--allow-lp");
  return true;
}

int ProgramMany(Io& io, const Args& args, const zk7::ProductionPlan& plan, Configuration& config,
                ChipAccess& chip) {
  const bool counted = args.has("--count");
  std::istream& in = io.in ? *io.in : std::cin;
  const bool terminal = io.in ? io.inputTerminal : isatty(STDIN_FILENO) == 1;

  zk7::ProductionHooks hooks;
  hooks.flow = TerminalCallbacks(io, true);
  hooks.warning = [&io](const std::string& text) {
    io.err << kProgramName << ": warning: " << text << '\n';
  };
  hooks.nextChip = [&](int number) {
    if (!counted) return true;
    for (;;) {
      if (terminal)
        io.err << "Insert chip " << number << " of " << plan.count
               << " and press Enter (q quits): " << std::flush;
      std::string line;
      if (!std::getline(in, line) || zk7::PendingTerminationSignal() != 0) return false;
      const Answer answer = PromptAnswer(line);
      if (answer != Answer::Again) return answer == Answer::Go;
      io.err << kProgramName << ": press Enter for the next chip, or q to quit\n";
    }
  };
  hooks.chipDone = [&](const zk7::ChipOutcome& c) {
    EndProgress(io);
    io.out << "chip " << c.number << '/' << plan.count;
    if (plan.serial)
      io.out << "  " << plan.serial->name << '=' << zk7::SerialText(*plan.serial, *c.record.serial);
    io.out << "  " << zk7::ResultText(c.record.result);
    if (!c.record.position.empty())
      io.out << (c.record.result == zk7::ChipResult::Unused ? " (" + c.record.position + ")"
                                                            : " at " + c.record.position);
    io.out << "  " << c.record.ms << " ms\n" << std::flush;
    if (c.record.result == zk7::ChipResult::Refused) {
      PrintUnfit(io.err, c.noChip, c.noChipWord, c.unfit);
      io.err << zk7::NothingBurntText() << '\n';
    } else if (!c.flow.ok()) {
      FlowFailure(io, c.flow);
    }
  };
  const auto s = zk7::RunProduction(*chip.programmer, config.regs, plan, hooks);
  EndProgress(io);
  if (!s.opened) return Fail(io, s.error, kExitUsage);  // a log that cannot be used: no run
  io.out << "Summary: " << s.passed << " passed, " << s.failed << " failed, " << s.refused
         << " refused" << (s.aborted ? ", " + std::to_string(s.aborted) + " aborted" : "")
         << (s.unused ? ", " + std::to_string(s.unused) + " unused" : "") << '\n';
  if (!s.error.empty()) return Fail(io, s.error, kExitUsage);
  if (!chip.port.accessProblem().empty()) return Fail(io, chip.port.accessProblem(), kExitUsage);
  return s.failed + s.refused + s.aborted + s.unused == 0 ? kExitOk : kExitChip;
}

int RunProgram(const Args& args, Io& io) {
  int code = kExitOk;
  zk7::ProductionPlan plan;
  if (!BuildPlan(io, args, plan, code)) return code;
  Configuration config;
  if (!LoadConfiguration(io, args.file(), config)) return kExitUsage;
  ChipAccess chip;
  if (!OpenChip(io, args.command, args.get("--port"), chip, code)) return code;
  if (args.has("--serial") || args.has("--log") || args.has("--count"))
    return ProgramMany(io, args, plan, config, chip);
  return ProgramOne(io, args, config, chip);
}

int RunCheck(const Args& args, Io& io) {
  Configuration config;
  if (!LoadConfiguration(io, args.file(), config)) return kExitUsage;
  int code = kExitOk;
  ChipAccess chip;
  if (!OpenChip(io, args.command, args.get("--port"), chip, code)) return code;
  const auto check =
      zk7::CheckChip(*chip.programmer, config.regs, config.image, TerminalCallbacks(io, false));
  if (!check.read.ok()) return FlowFailure(io, check.read);
  if (check.fit()) {
    io.out << "The chip can take " << ConfigurationName(args) << ".\n";
    return kExitOk;
  }
  PrintUnfit(io.out, check.noChip, check.noChipWord, check.unfit);
  if (!check.noChip)
    io.out << "The chip cannot take " << ConfigurationName(args) << ": " << check.unfit.size()
           << (check.unfit.size() == 1 ? " word.\n" : " words.\n");
  return kExitChip;
}

}  // namespace

extern const Command kCheckCommand = {
    "check",
    {"[FILE] --port PORT"},
    "can the chip take the configuration?",
    {{"--port", "PORT", true}},
    0,
    1,
    "Reads the chip and says whether it can take FILE (a device file or an Intel\n"
    "HEX file; the default configuration without it): every word must already be\n"
    "the wanted word or have only bits to clear. A blank chip can. Lists every word\n"
    "that cannot (position, register, chip word, wanted word); a read of all 0000\n"
    "means no chip answered. Nothing is burnt.\n"
    "Exit status: 0 it can, 1 it cannot, 2 usage, file or port error.\n"
    "Example:\n"
    "  zk7prog check node.hex --port 378\n",
    true,
    RunCheck};

extern const Command kProgramCommand = {
    "program",
    {"[FILE] --port PORT [--no-check] [--serial NAME=START[:STEP][..LAST] --log LOG.csv] "
     "[--count N] [--reuse-failed] [--allow-lp]"},
    "check, program and verify chips",
    {{"--port", "PORT", true},
     {"--no-check", nullptr},
     {"--serial", "NAME=START[:STEP][..LAST]"},
     {"--log", "LOG.csv"},
     {"--count", "N"},
     {"--reuse-failed", nullptr},
     {"--allow-lp", nullptr}},
    0,
    1,
    "Burns FILE (a device file or an Intel HEX file; the default configuration\n"
    "without it) into the chip: the configuration word, then the 70 image words,\n"
    "each verified as it is burnt. Prints PASSED, or the failure and exits with 1.\n"
    "First the chip is read: a chip whose words would need bits to rise from 0 to 1\n"
    "(it holds another configuration) is refused before any programming pulse.\n"
    "--no-check skips that.\n"
    "--serial gives each chip the next value of a CAN identifier (TXID0, TXID1,\n"
    "TXID2, RXF0, RXF1; START as std:HEX or ext:HEX) or of user-memory bytes i..j\n"
    "(USERi-j, big-endian, START in hex); STEP is decimal, 1 unless given.\n"
    "..LAST ends the range (written as START is, std:/ext: included); each station\n"
    "of a line takes its own range. Once the next value would pass LAST (or the\n"
    "field's largest value), nothing is burnt and the run ends with exit status 2.\n"
    "--log keeps every value given in LOG.csv: reserved on disk before a chip's\n"
    "first programming pulse, then its result; the next run continues after the\n"
    "values it holds (a failed chip's value is used again only with\n"
    "--reuse-failed). --count N programs N chips, asking for each (Enter goes on;\n"
    "q, quit or exit quits).\n"
    "A run with --serial, --log or --count does not start on a port the printer\n"
    "driver lp shares (a print job would get the port between two chips and put\n"
    "print data on the programmer's lines); --allow-lp starts it all the same.\n"
    "Exit status: 0 every chip passed, 1 a chip failed or was refused, 2 usage,\n"
    "file, log or port error.\n"
    "Examples:\n"
    "  zk7prog program node.dvs --port 378\n"
    "  zk7prog program node.dvs --port /dev/parport0 --serial TXID0=std:100 \\\n"
    "          --log nodes.csv --count 20\n"
    "  zk7prog program node.dvs --port 378 --serial TXID0=std:100..std:1FF \\\n"
    "          --log station1.csv --count 256\n",
    true,
    RunProgram};

}  // namespace zk7cli
