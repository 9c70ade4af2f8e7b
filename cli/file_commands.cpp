// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that write a configuration file: export-hex, write-dvs and set.
#include <ostream>

#include "cli/configuration.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "model/can_timing.h"
#include "model/format.h"
#include "model/named_fields.h"

namespace zk7cli {

namespace {

int RunExportHex(const Args& args, Io& io) {
  Configuration config;
  if (!LoadConfiguration(io, args.file(), config)) return kExitUsage;
  const std::string out = args.get("-o");
  std::string error;
  return Written(
      io, out,
      zk7::WriteIntelHexFile(out, config.image.ProgramImage, config.regs.ConfigWord(), error),
      error);
}

int RunWriteDvs(const Args& args, Io& io) {
  std::string foscText;
  if (args.has("--fosc-khz")) {
    foscText = args.get("--fosc-khz");
    if (!zk7::FoscHzFromText(foscText, io.decimalSeparator))
      return UsageError(io, args.command,
                        "--fosc-khz '" + foscText + "' is not a frequency in kHz");
  }
  Configuration config;
  if (!LoadConfiguration(io, args.file(), config)) return kExitUsage;
  if (foscText.empty()) foscText = config.foscText;
  const std::string out = args.get("-o");
  std::string error;
  return Written(io, out,
                 zk7::WriteDeviceFile(out, config.image, config.regs.ConfigWord(), foscText, error),
                 error);
}

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

int RunSet(const Args& args, Io& io) {
  std::string input;
  std::vector<std::string> assignments;
  for (const auto& p : args.positional) {
    if (p.find('=') != std::string::npos)
      assignments.push_back(p);
    else if (input.empty() && assignments.empty())
      input = p;
    else
      return UsageError(io, args.command, "unexpected argument '" + p + "' (not NAME=VALUE)");
  }
  if (assignments.empty()) return UsageError(io, args.command, "no NAME=VALUE given");
  const std::string out = args.get("-o");
  if (!HasConfigurationExtension(out))
    return UsageError(io, args.command, "-o needs a file ending in .dvs or .hex");
  Configuration config;
  if (!LoadConfiguration(io, input, config)) return kExitUsage;
  std::string error;
  for (const auto& a : assignments)
    if (!Assign(a, config, io.decimalSeparator, error)) return UsageError(io, args.command, error);
  zk7::BuildMemoryImage(config.regs, config.image);
  return WriteConfigurationAs(io, out, config.image, config.regs.ConfigWord(), config.foscText);
}

}  // namespace

extern const Command kExportHexCommand = {
    "export-hex",
    {"[FILE] -o OUT.hex"},
    "Intel HEX export",
    {{"-o", "OUT.hex", true}},
    0,
    1,
    "Writes the Intel HEX export of FILE (the default configuration without\n"
    "it): the 70 program words from address 0 and the configuration word at 0x400E.\n",
    false,
    RunExportHex};

extern const Command kWriteDvsCommand = {
    "write-dvs",
    {"[FILE] -o OUT.dvs [--fosc-khz TEXT]"},
    "write a device file (checksum recomputed)",
    {{"-o", "OUT.dvs", true}, {"--fosc-khz", "TEXT"}},
    0,
    1,
    "Writes a device file as the Save command does: image rebuilt, checksum\n"
    "recomputed. The frequency line is TEXT, else the one of FILE, else 4000.\n",
    false,
    RunWriteDvs};

extern const Command kSetCommand = {
    "set",
    {"[FILE] NAME=VALUE... -o OUT.dvs|OUT.hex"},
    "change fields and write the result",
    {{"-o", "OUT.dvs|OUT.hex"}},
    0,
    kAnyNumber,
    "Changes fields of FILE (a device file or an Intel HEX file; the default\n"
    "configuration without it) and writes the result, checksum recomputed, as a\n"
    "device file or an Intel HEX export by OUT's extension. NAME is a register\n"
    "name or reserved3/18/19 (VALUE a byte in hex), USER0..USER15 (a byte in hex),\n"
    "CONFIG (the configuration word in hex), FOSC_KHZ (the frequency text), or\n"
    "TXID0, TXID1, TXID2, RXM, RXF0, RXF1 (std:HEX or ext:HEX). On any error\n"
    "nothing is written.\n"
    "Examples:\n"
    "  zk7prog set node.dvs CNF1=03 TXID0=std:123 -o node2.dvs\n"
    "  zk7prog set USER0=12 CONFIG=5 FOSC_KHZ=8000 -o custom.hex\n",
    false,
    RunSet};

}  // namespace zk7cli
