// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that read a chip: read and verify (check and program are with
// the commands that burn).
#include <ostream>

#include "cli/chip_access.h"
#include "cli/configuration.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "model/format.h"
#include "model/named_fields.h"
#include "programmer/check.h"

namespace zk7cli {

namespace {

void PrintMemoryMap(Io& io, const zk7::MemoryImage& image, std::uint16_t word) {
  constexpr int kColumns = 8;
  for (int row = 0; row * kColumns < zk7::kImageSize; ++row) {
    io.out << zk7::Hex2(static_cast<unsigned>(row * kColumns)) << ':';
    for (int c = 0; c < kColumns && row * kColumns + c < zk7::kImageSize; ++c)
      io.out << ' ' << zk7::Hex2(static_cast<unsigned>(image.MemMap[row * kColumns + c]));
    io.out << '\n';
  }
  const auto meaning = zk7::DescribeConfigWord(word);
  io.out << "OSC Setting = " << meaning.oscillator << '\n'
         << "GP7 = " << meaning.gp7 << '\n'
         << "Config Word = 0x0" << meaning.meaningfulBits << '\n'
         << "Configuration word read = " << zk7::HexNoPad(word) << '\n';
}

int RunRead(const Args& args, Io& io) {
  const std::string out = args.get("-o");
  if (args.has("-o") && !HasConfigurationExtension(out))
    return UsageError(io, args.command, "-o needs a file ending in .dvs or .hex");
  int code = kExitOk;
  ChipAccess chip;
  if (!OpenChip(io, args.command, args.get("--port"), chip, code)) return code;
  zk7::MemoryImage image;
  std::uint16_t word = 0;
  if (!ReadChip(io, chip, image, word, code)) return code;
  PrintMemoryMap(io, image, word);
  if (!args.has("-o")) return kExitOk;

  // Taken over as the windows' "Load to Memory" does, then saved or exported.
  zk7::RegisterSet rs;
  zk7::TakeOverChipImage(image, word, rs);
  const int chipChecksum = rs.ImageChecksum();
  zk7::BuildMemoryImage(rs, image);
  if (rs.ImageChecksum() != chipChecksum)
    io.err << kProgramName << ": note: the chip's checksum " << zk7::Hex2(chipChecksum)
           << " does not match its contents; " << out << " carries "
           << zk7::Hex2(rs.ImageChecksum()) << "\n";
  return WriteConfigurationAs(io, out, image, rs.ConfigWord(), kDefaultFoscText);
}

int RunVerify(const Args& args, Io& io) {
  Configuration config;
  if (!LoadConfiguration(io, args.positional[0], config)) return kExitUsage;
  int code = kExitOk;
  ChipAccess chip;
  if (!OpenChip(io, args.command, args.get("--port"), chip, code)) return code;
  zk7::MemoryImage read;
  std::uint16_t word = 0;
  if (!ReadChip(io, chip, read, word, code)) return code;

  int differences = 0;
  for (int i = 0; i < zk7::kImageSize; ++i) {
    const unsigned expected = static_cast<unsigned>(config.image.MemMap[i]) & 0xFFu;
    const unsigned got = static_cast<unsigned>(read.MemMap[i]) & 0xFFu;
    if (expected == got) continue;
    if (differences++ == 0) io.out << "Position  Expected  Read\n";
    io.out << "  " << zk7::Hex2(static_cast<unsigned>(i)) << "        " << zk7::Hex2(expected)
           << "      " << zk7::Hex2(got) << '\n';
  }
  // Only bits 2:0 of the configuration word mean anything, as when programming.
  const unsigned expectedWord = static_cast<std::uint16_t>(config.regs.ConfigWord());
  if (((expectedWord ^ word) & 7u) != 0) {
    ++differences;
    io.out << "Config word bits 2:0: expected " << (expectedWord & 7u) << ", read " << (word & 7u)
           << '\n';
  }
  if (differences != 0) {
    io.out << "FAILED: " << differences << " difference" << (differences == 1 ? "" : "s") << '\n';
    return kExitChip;
  }
  io.out << "Verified: the chip matches " << args.positional[0] << '\n';
  return kExitOk;
}

}  // namespace

extern const Command kReadCommand = {
    "read",
    {"--port PORT [-o OUT.dvs | -o OUT.hex]"},
    "read a chip back",
    {{"--port", "PORT", true}, {"-o", "OUT.dvs"}},
    0,
    0,
    "Reads the chip's 70 image bytes (shown 8 to a row, the row's first position\n"
    "in front) and its configuration word. -o takes what was read over as the\n"
    "configuration and saves it (checksum recomputed), as a device file with the\n"
    "frequency 4000 kHz or as an Intel HEX export, by the file's extension.\n",
    true,
    RunRead};

extern const Command kVerifyCommand = {
    "verify",
    {"FILE --port PORT"},
    "compare a chip with a configuration",
    {{"--port", "PORT", true}},
    1,
    1,
    "Reads the chip and lists every image byte that differs from FILE\n"
    "(position, expected, read), and the configuration word when its bits 2:0\n"
    "differ. Exits with 1 on any difference.\n",
    true,
    RunVerify};

}  // namespace zk7cli
