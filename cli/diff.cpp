// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog diff: the fields in which two configurations differ, from files or
// read from a chip, with what they mean.
#include <algorithm>
#include <ostream>

#include "cli/chip_access.h"
#include "cli/configuration.h"
#include "model/can_timing.h"
#include "model/format.h"
#include "model/named_fields.h"
#include "programmer/check.h"

namespace zk7cli {

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

int RunDiff(const Args& args, Io& io) {
  int code = kExitOk;
  const std::size_t files = args.has("--port") ? 1 : 2;
  if (args.positional.size() < files) return UsageError(io, args.command, "missing argument");
  if (args.positional.size() > files)
    return UsageError(io, args.command, "unexpected argument '" + args.positional[files] + "'");
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

}  // namespace

extern const Command kDiffCommand = {
    "diff",
    {"A B", "A --port PORT"},
    "list the fields that differ",
    {{"--port", "PORT"}},
    1,
    2,
    "Compares two configurations: device files, Intel HEX files, or the chip on\n"
    "PORT. Lists each register, user-memory byte, the configuration word (its\n"
    "bits 2:0, the ones with a meaning) and the frequency (where both sides carry\n"
    "one) that differ, with both values, and for bit timing, identifiers and the\n"
    "oscillator mode what they mean. Exit status: 0 equal, 1 they differ, 2 usage,\n"
    "file or port error.\n"
    "Examples:\n"
    "  zk7prog diff old.dvs new.hex\n"
    "  zk7prog diff node.dvs --port 378\n",
    true,
    RunDiff};

}  // namespace zk7cli
