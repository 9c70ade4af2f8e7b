// The production commands: program (with the pre-burn check, serial numbers,
// the log and several chips), check, set and diff.
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <ostream>

#include "cli/cli_support.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "model/can_timing.h"
#include "model/format.h"
#include "model/named_fields.h"
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
  return args.positional.empty() ? "the default configuration" : args.positional[0];
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
  const auto outcome =
      zk7::ProgramChip(*chip.programmer, config.regs, config.image, !args.flag("--no-check"),
                       TerminalCallbacks(io, *chip.programmer, true));
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
      code = UsageError(io, "program", "--serial: " + error);
      return false;
    }
    if (!args.has("--log")) {
      code = UsageError(io, "program", "--serial needs --log: the log keeps the values given");
      return false;
    }
    plan.serial = rule;
  } else if (args.flag("--reuse-failed")) {
    code = UsageError(io, "program", "--reuse-failed goes with --serial");
    return false;
  }
  if (args.has("--count") && !ParseCount(args.get("--count"), plan.count)) {
    code = UsageError(io, "program", "--count needs a number of chips from 1");
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
  hooks.flow = TerminalCallbacks(io, *chip.programmer, true);
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

}  // namespace

int RunProgram(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "program";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"--port", "--serial", "--log", "--count"}, args, error,
                 {"--no-check", "--reuse-failed", "--allow-lp"}))
    return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog program [FILE] --port PORT [--no-check]\n"
              "         [--serial NAME=START[:STEP][..LAST] --log LOG.csv] [--count N]\n"
              "         [--reuse-failed] [--allow-lp]\n"
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
              "          --log station1.csv --count 256\n"
           << kPortHelp;
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 1, code)) return code;
  zk7::ProductionPlan plan;
  if (!BuildPlan(io, args, plan, code)) return code;
  Configuration config;
  if (!LoadConfiguration(io, args.positional.empty() ? "" : args.positional[0], config))
    return kExitUsage;
  ChipAccess chip;
  if (!OpenChip(io, cmd, args.get("--port"), chip, code)) return code;
  if (args.has("--serial") || args.has("--log") || args.has("--count"))
    return ProgramMany(io, args, plan, config, chip);
  return ProgramOne(io, args, config, chip);
}

int RunCheck(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "check";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"--port"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog check [FILE] --port PORT\n"
              "Reads the chip and says whether it can take FILE (a device file or an Intel\n"
              "HEX file; the default configuration without it): every word must already be\n"
              "the wanted word or have only bits to clear. A blank chip can. Lists every word\n"
              "that cannot (position, register, chip word, wanted word); a read of all 0000\n"
              "means no chip answered. Nothing is burnt.\n"
              "Exit status: 0 it can, 1 it cannot, 2 usage, file or port error.\n"
              "Example:\n"
              "  zk7prog check node.hex --port 378\n"
           << kPortHelp;
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 1, code)) return code;
  Configuration config;
  if (!LoadConfiguration(io, args.positional.empty() ? "" : args.positional[0], config))
    return kExitUsage;
  ChipAccess chip;
  if (!OpenChip(io, cmd, args.get("--port"), chip, code)) return code;
  const auto check = zk7::CheckChip(*chip.programmer, config.regs, config.image,
                                    TerminalCallbacks(io, *chip.programmer, false));
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

namespace {

// NAME=VALUE into config; false with error (config may be half changed: the caller drops it).
bool Assign(const std::string& text, Configuration& config, char separator, std::string& error) {
  const auto eq = text.find('=');
  const std::string name = text.substr(0, eq), value = text.substr(eq + 1);
  std::uint64_t v = 0;
  if (const auto id = zk7::IdentifierByName(name)) {
    zk7::Identifier identifier;
    if (!zk7::ParseIdentifier(value, identifier, error)) return false;
    zk7::WriteIdentifier(config.regs, *id, identifier);
  } else if (const auto entry = zk7::EntryByName(name); entry && *entry != zk7::kChecksumEntry) {
    if (!zk7::ParseHexNumber(value, 0xFF, v)) {
      error = name + ": '" + value + "' is not a byte in hex (00 to FF)";
      return false;
    }
    config.regs.setEntry(*entry, static_cast<long long>(v));
  } else if (name == "CONFIG") {
    if (!zk7::ParseHexNumber(value, 0xFFFF, v)) {
      error = "CONFIG: '" + value + "' is not a word in hex (0 to FFFF)";
      return false;
    }
    config.regs.setConfigWord(static_cast<std::int16_t>(v));
  } else if (name == "FOSC_KHZ") {
    double kHz = 0;
    if (!zk7::ParseFrequencyKHz(value, kHz, separator) || kHz < 0) {
      error = "FOSC_KHZ: '" + value + "' is not a frequency in kHz";
      return false;
    }
    config.foscText = value;
    config.foscHz = kHz * 1000.0;
    config.foscKnown = true;
  } else {
    error = name == "checksum" ? "the checksum is computed, not set"
                               : "'" + name +
                                     "' is not a register, reserved3/18/19, USER0..USER15, "
                                     "CONFIG, FOSC_KHZ or TXID0..RXF1";
    return false;
  }
  return true;
}

}  // namespace

int RunSet(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "set";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"-o"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog set [FILE] NAME=VALUE... -o OUT.dvs|OUT.hex\n"
              "Changes fields of FILE (a device file or an Intel HEX file; the default\n"
              "configuration without it) and writes the result, checksum recomputed, as a\n"
              "device file or an Intel HEX export by OUT's extension. NAME is a register\n"
              "name or reserved3/18/19 (VALUE a byte in hex), USER0..USER15 (a byte in hex),\n"
              "CONFIG (the configuration word in hex), FOSC_KHZ (the frequency text), or\n"
              "TXID0, TXID1, TXID2, RXM, RXF0, RXF1 (std:HEX or ext:HEX). On any error\n"
              "nothing is written.\n"
              "Examples:\n"
              "  zk7prog set node.dvs CNF1=03 TXID0=std:123 -o node2.dvs\n"
              "  zk7prog set USER0=12 CONFIG=5 FOSC_KHZ=8000 -o custom.hex\n";
    return kExitOk;
  }
  std::string input;
  std::vector<std::string> assignments;
  for (const auto& p : args.positional) {
    if (p.find('=') != std::string::npos)
      assignments.push_back(p);
    else if (input.empty() && assignments.empty())
      input = p;
    else
      return UsageError(io, cmd, "unexpected argument '" + p + "' (not NAME=VALUE)");
  }
  if (assignments.empty()) return UsageError(io, cmd, "no NAME=VALUE given");
  const std::string out = args.get("-o");
  const std::string ext = Extension(out);
  if (ext != "dvs" && ext != "hex")
    return UsageError(io, cmd, "-o needs a file ending in .dvs or .hex");
  Configuration config;
  if (!LoadConfiguration(io, input, config)) return kExitUsage;
  for (const auto& a : assignments)
    if (!Assign(a, config, io.decimalSeparator, error)) return UsageError(io, cmd, error);
  zk7::BuildMemoryImage(config.regs, config.image);
  return WriteConfigurationAs(io, out, config.image, config.regs.ConfigWord(), config.foscText);
}

namespace {

// What the CAN window shows of the bit timing, in one line.
std::string BitTimingMeaning(const Configuration& c) {
  const auto t = zk7::DecodeBitTiming(c.regs);
  const int numTQ = zk7::NumTQ(t.prop, t.ps1, t.ps2);
  const double bitTime = zk7::BitTimeUs(t.brp, numTQ, c.foscHz);
  return "BRP " + std::to_string(t.brp + 1) + ", SJW " + std::to_string(t.sjw) + ", " +
         std::to_string(t.prop) + "+" + std::to_string(t.ps1) + "+" + std::to_string(t.ps2) +
         " TQ, SAM " + (t.sam ? "3X" : "1X") + ", " + zk7::FormatNumber(zk7::BitRateKbps(bitTime)) +
         " kbit/s";
}

std::string IdentifierMeaning(const Configuration& c, int id) {
  return zk7::IdentifierText(zk7::ReadIdentifier(c.regs, id));
}

std::string ConfigMeaning(std::int16_t word) {
  const auto m = zk7::DescribeConfigWord(static_cast<std::uint16_t>(word));
  return std::string("OSC ") + m.oscillator + ", GP7 " + m.gp7;
}

// The decoded meaning of entry i on both sides, for the fields the windows decode.
std::string EntryMeaning(int i, const Configuration& a, const Configuration& b) {
  if (i >= zk7::CNF1 && i <= zk7::CNF3)
    return "bit timing: " + BitTimingMeaning(a) + " -> " + BitTimingMeaning(b);
  for (int id = 0; id < zk7::kCanIdCount; ++id)
    if (i >= zk7::CanIdReg(id, zk7::SIDH) && i <= zk7::CanIdReg(id, zk7::EID0))
      return std::string(zk7::kCanIdName[static_cast<std::size_t>(id)]) + ": " +
             IdentifierMeaning(a, id) + " -> " + IdentifierMeaning(b, id);
  return "";
}

struct Side {
  std::string name;
  Configuration config;
};

bool LoadChipSide(Io& io, const std::string& portText, Side& side, int& code) {
  ChipAccess chip;
  if (!OpenChip(io, "diff", portText, chip, code)) return false;
  zk7::MemoryImage read;
  std::uint16_t word = 0;
  if (!ReadChip(io, chip, read, word, code)) return false;
  // Taken over whole, as the windows' "Load to Memory" does.
  zk7::TakeOverChipImage(read, word, side.config.regs);
  side.config.foscKnown = false;
  zk7::BuildMemoryImage(side.config.regs, side.config.image);
  side.name = "the chip on " + portText;
  return true;
}

void Row(Io& io, const std::string& name, const std::string& a, const std::string& b,
         const std::string& meaning) {
  std::string line = "  " + name;
  line.resize(std::max<std::size_t>(line.size() + 1, 14), ' ');
  line += a;
  line.resize(std::max<std::size_t>(line.size() + 1, 22), ' ');
  line += b;
  if (!meaning.empty()) {
    line.resize(std::max<std::size_t>(line.size() + 1, 30), ' ');
    line += meaning;
  }
  io.out << line << '\n';
}

}  // namespace

int RunDiff(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "diff";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"--port"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog diff A B\n"
              "       zk7prog diff A --port PORT\n"
              "Compares two configurations: device files, Intel HEX files, or the chip on\n"
              "PORT. Lists each register, user-memory byte, the configuration word (its\n"
              "bits 2:0, the ones with a meaning) and the frequency (where both sides carry\n"
              "one) that differ, with both values, and for bit timing, identifiers and the\n"
              "oscillator mode what they mean. Exit status: 0 equal, 1 they differ, 2 usage,\n"
              "file or port error.\n"
              "Examples:\n"
              "  zk7prog diff old.dvs new.hex\n"
              "  zk7prog diff node.dvs --port 378\n"
           << kPortHelp;
    return kExitOk;
  }
  int code = kExitOk;
  const std::size_t files = args.has("--port") ? 1 : 2;
  if (!CheckPositionals(io, cmd, args, files, files, code)) return code;
  Side a{args.positional[0], {}}, b;
  if (!LoadConfiguration(io, a.name, a.config)) return kExitUsage;
  if (files == 2) {
    b.name = args.positional[1];
    if (!LoadConfiguration(io, b.name, b.config)) return kExitUsage;
  } else if (!LoadChipSide(io, args.get("--port"), b, code)) {
    return code;
  }

  int differences = 0;
  auto row = [&](const std::string& name, const std::string& va, const std::string& vb,
                 const std::string& meaning) {
    if (differences++ == 0) {
      io.out << "A: " << a.name << "\nB: " << b.name << '\n';
      Row(io, "Field", "A", "B", "");
    }
    Row(io, name, va, vb, meaning);
  };
  for (int i = 0; i < zk7::kChecksumEntry; ++i) {
    const unsigned va = a.config.regs.entry(i), vb = b.config.regs.entry(i);
    if (va != vb)
      row(zk7::EntryName(i), zk7::Hex2(va), zk7::Hex2(vb), EntryMeaning(i, a.config, b.config));
  }
  const auto wa = static_cast<std::uint16_t>(a.config.regs.ConfigWord());
  const auto wb = static_cast<std::uint16_t>(b.config.regs.ConfigWord());
  // Only bits 2:0 carry meaning (a chip reads the others back as ones).
  if (((wa ^ wb) & 7) != 0)
    row("CONFIG", zk7::HexNoPad(wa), zk7::HexNoPad(wb),
        ConfigMeaning(a.config.regs.ConfigWord()) + " -> " +
            ConfigMeaning(b.config.regs.ConfigWord()));
  // A frequency is compared only where both sides carry one.
  if (a.config.foscKnown && b.config.foscKnown && a.config.foscHz != b.config.foscHz)
    row("FOSC_KHZ", a.config.foscText, b.config.foscText, "");
  if (differences == 0) {
    io.out << "No differences.\n";
    return kExitOk;
  }
  io.out << differences << (differences == 1 ? " difference\n" : " differences\n");
  return kExitChip;
}

}  // namespace zk7cli
