// The commands that reach a chip: read, verify (program is with the production commands).
#include <ostream>

#include "cli/cli_support.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "model/format.h"
#include "model/named_fields.h"
#include "programmer/check.h"

namespace zk7cli {

const char* const kPortHelp =
    "PORT is a base address in hex (278, 378, 3BC, D010, ...), /dev/parportN,\n"
    "  ftdi[:VID:PID[:SERIAL]][@USBPATH] or emulator[:OPTIONS] (see 'zk7prog --help');\n"
    "  'zk7prog ports' lists the ports found.\n";

int FlowFailure(Io& io, const zk7::FlowResult& r) {
  if (r.status == zk7::FlowResult::Aborted)
    io.err << "Interrupted: the chip left programming mode.\n";
  if (!r.title.empty()) io.err << r.title << "\n";
  if (!r.text.empty()) io.err << TerminalLines(r.text) << "\n";
  return r.status == zk7::FlowResult::Busy || r.guardFailed ? kExitUsage : kExitChip;
}

// The exit code after a flow. A port that failed during the run (a driver
// error, an emulated chip whose file could not be written) spoils whatever
// the flow reported: the chip does not hold what was said.
int AfterFlow(Io& io, ChipAccess& chip, const zk7::FlowResult& r) {
  if (r.status != zk7::FlowResult::Aborted && !chip.port.accessProblem().empty()) {
    if (!r.ok() && r.text != chip.port.accessProblem()) FlowFailure(io, r);
    return Fail(io, chip.port.accessProblem(), kExitUsage);
  }
  return r.ok() ? kExitOk : FlowFailure(io, r);
}

// Reads the 70 image bytes and the configuration word.
bool ReadChip(Io& io, ChipAccess& chip, zk7::MemoryImage& image, std::uint16_t& word, int& code) {
  const auto cb = TerminalCallbacks(io, *chip.programmer, false);
  auto r = chip.programmer->ReadImageWords(image, cb);
  if (r.ok()) r = chip.programmer->ReadChipConfigWord(word, cb);
  code = AfterFlow(io, chip, r);
  if (code != kExitOk) return false;
  // Nothing answered: what was read is no chip's, and is neither shown nor saved.
  if (const auto silent = zk7::NoChipWord(*chip.programmer->lastImageWords(), word)) {
    code = Fail(io, zk7::NoChipSummary(*silent), kExitChip);
    return false;
  }
  return true;
}

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

}  // namespace

int RunRead(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "read";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"--port", "-o"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog read --port PORT [-o OUT.dvs | -o OUT.hex]\n"
              "Reads the chip's 70 image bytes (shown 8 to a row, the row's first position\n"
              "in front) and its configuration word. -o takes what was read over as the\n"
              "configuration and saves it (checksum recomputed), as a device file with the\n"
              "frequency 4000 kHz or as an Intel HEX export, by the file's extension.\n"
           << kPortHelp;
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 0, code)) return code;
  const std::string out = args.get("-o");
  const std::string ext = Extension(out);
  if (args.has("-o") && ext != "dvs" && ext != "hex")
    return UsageError(io, cmd, "-o needs a file ending in .dvs or .hex");
  ChipAccess chip;
  if (!OpenChip(io, cmd, args.get("--port"), chip, code)) return code;
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

int RunVerify(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "verify";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"--port"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog verify FILE --port PORT\n"
              "Reads the chip and lists every image byte that differs from FILE\n"
              "(position, expected, read), and the configuration word when its bits 2:0\n"
              "differ. Exits with 1 on any difference.\n"
           << kPortHelp;
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 1, 1, code)) return code;
  Configuration config;
  if (!LoadConfiguration(io, args.positional[0], config)) return kExitUsage;
  ChipAccess chip;
  if (!OpenChip(io, cmd, args.get("--port"), chip, code)) return code;
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

}  // namespace zk7cli
