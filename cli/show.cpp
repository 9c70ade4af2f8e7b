// zk7prog show: the configuration of a device file in words and numbers.
#include <iomanip>
#include <ostream>

#include "cli/cli_support.h"
#include "model/format.h"

namespace zk7cli {

namespace {

void PrintRegisters(Io& io, const zk7::RegisterSet& rs) {
  io.out << "Registers (position, name, value):\n";
  for (const auto& r : zk7::RegisterTable())
    io.out << "  " << zk7::Hex2(static_cast<unsigned>(r.index)) << "  " << std::left
           << std::setw(10) << (*r.name ? r.name : "reserved") << std::right << ' '
           << zk7::Hex2(rs.reg(r.index)) << '\n';
  io.out << "User memory:";
  for (int k = 0; k < zk7::kUserMemorySize; ++k) io.out << ' ' << zk7::Hex2(rs.user(k));
  io.out << "\nChecksum: " << zk7::Hex2(rs.ImageChecksum()) << '\n';
}

void PrintConfigWord(Io& io, std::int16_t value) {
  static const char* const kOsc[] = {"LP", "XT", "INVALID", "HS"};
  const unsigned word = static_cast<std::uint16_t>(value);
  io.out << "Config word: " << value << " (0x" << zk7::HexNoPad(word) << ")\n"
         << "  OSC Setting = " << kOsc[word & 3] << '\n'
         << "  GP7 = " << ((word & 4) ? "RESET Pin" : "Digital Input") << '\n';
}

}  // namespace

int RunShow(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "show";
  Args args;
  std::string error;
  if (!ParseArgs(words, {}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog show [FILE.dvs]\n"
              "Shows every register of FILE.dvs (the default configuration at 4000 kHz\n"
              "without it) in hexadecimal, the user memory, the checksum, the configuration\n"
              "word, and the values that follow from them at the file's frequency.\n";
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 1, code)) return code;
  Configuration config;
  const std::string path = args.positional.empty() ? "" : args.positional[0];
  if (!LoadConfiguration(io, path, config)) return kExitUsage;

  io.out << "Configuration: " << (path.empty() ? "default" : path) << '\n'
         << "Fosc = " << config.foscText << " kHz\n";
  PrintRegisters(io, config.regs);
  PrintConfigWord(io, config.regs.ConfigWord());
  return kExitOk;
}

}  // namespace zk7cli
