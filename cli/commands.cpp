#include "cli/commands.h"

#include <ostream>

#include "cli/cli_support.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "port/emulator.h"
#include "zk7_version.h"

namespace zk7cli {

namespace {

void PrintTopHelp(std::ostream& os) {
  os << "Usage: zk7prog COMMAND [ARGS]\n"
        "Works on ZK7A/ZK7B device files (*.dvs) and on chips in the\n"
        "parallel-port programmer adapter.\n\n"
        "Commands:\n"
        "  show [FILE] [--json]                    registers, configuration word and derived "
        "values\n"
        "  export-hex [FILE] -o OUT.hex            Intel HEX export\n"
        "  write-dvs [FILE] -o OUT.dvs [--fosc-khz TEXT]\n"
        "                                          write a device file (checksum recomputed)\n"
        "  set [FILE] NAME=VALUE... -o OUT.dvs|OUT.hex\n"
        "                                          change fields and write the result\n"
        "  diff A B | diff A --port PORT           list the fields that differ\n"
        "  check [FILE] --port PORT                can the chip take the configuration?\n"
        "  program [FILE] --port PORT [--serial NAME=START[:STEP][..LAST] --log LOG.csv]\n"
        "          [--count N] [--no-check]        check, program and verify chips\n"
        "  read --port PORT [-o OUT.dvs|OUT.hex]   read a chip back\n"
        "  verify FILE --port PORT                 compare a chip with a configuration\n"
        "  ports [--json]                          every port found, its holder and access\n"
        "  bittiming --fosc-khz F --bitrate B [--sample-point P] [--sjw N] [--tolerance PCT]\n"
        "            [--json]                      CAN bit timing for a bit rate\n"
        "  filter [FILE] --test ID [--ext] [--filters ID:MASK[,ID:MASK]]\n"
        "                                          does the chip take this CAN identifier?\n"
        "  filter-design ID... [--ext] [--json]    mask and filters for a list of identifiers\n\n"
        "FILE is a device file (*.dvs) or an Intel HEX file, told apart by content;\n"
        "without FILE the default configuration at 4000 kHz is used.\n"
        "PORT is a base address in hex (278, 378, 3BC, D010, ...), /dev/parportN,\n"
        "  ftdi[:VID:PID[:SERIAL]][@USBPATH] (USB adapter) or\n  "
     << zk7::EmulatorOptionsSummary()
     << "\n  (CHIPFILE is read again as each chip starts: replacing or deleting it\n"
        "  between chips inserts another chip; a missing file is a blank chip)"
        "\n\nExit status: 0 success, 1 the chip failed or differs, 2 usage, file or port error.\n"
        "'zk7prog COMMAND --help' describes a command, 'zk7prog --version' the version.\n";
}

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>&, Io&);
};

const Command kCommands[] = {
    {"show", RunShow},          {"export-hex", RunExportHex},
    {"write-dvs", RunWriteDvs}, {"program", RunProgram},
    {"read", RunRead},          {"verify", RunVerify},
    {"ports", RunPorts},        {"bittiming", RunBitTiming},
    {"filter", RunFilter},      {"filter-design", RunFilterDesign},
    {"check", RunCheck},        {"set", RunSet},
    {"diff", RunDiff},
};

}  // namespace

int Run(const std::vector<std::string>& args, Io& io) {
  if (args.empty()) {
    PrintTopHelp(io.err);
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || name == "help") {
    if (name == "help" && args.size() > 1) return Run({args[1], "--help"}, io);
    PrintTopHelp(io.out);
    return kExitOk;
  }
  if (name == "--version") {
    io.out << kProgramName << " " ZK7_VERSION "\n";
    return kExitOk;
  }
  for (const auto& c : kCommands)
    if (name == c.name) return c.run(std::vector<std::string>(args.begin() + 1, args.end()), io);
  io.err << kProgramName << ": unknown command '" << name << "'\n"
         << "Try '" << kProgramName << " --help'.\n";
  return kExitUsage;
}

int RunExportHex(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "export-hex";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"-o"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog export-hex [FILE] -o OUT.hex\n"
              "Writes the Intel HEX export of FILE (the default configuration without\n"
              "it): the 70 program words from address 0 and the configuration word at 0x400E.\n";
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 1, code)) return code;
  if (!args.has("-o")) return UsageError(io, cmd, "-o OUT.hex is required");
  Configuration config;
  if (!LoadConfiguration(io, args.positional.empty() ? "" : args.positional[0], config))
    return kExitUsage;
  const std::string out = args.get("-o");
  return Written(
      io, out,
      zk7::WriteIntelHexFile(out, config.image.ProgramImage, config.regs.ConfigWord(), error),
      error);
}

int RunWriteDvs(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "write-dvs";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"-o", "--fosc-khz"}, args, error)) return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog write-dvs [FILE] -o OUT.dvs [--fosc-khz TEXT]\n"
              "Writes a device file as the Save command does: image rebuilt, checksum\n"
              "recomputed. The frequency line is TEXT, else the one of FILE, else 4000.\n";
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 1, code)) return code;
  if (!args.has("-o")) return UsageError(io, cmd, "-o OUT.dvs is required");
  std::string foscText;
  if (args.has("--fosc-khz")) {
    foscText = args.get("--fosc-khz");
    if (!zk7::FoscHzFromText(foscText, io.decimalSeparator))
      return UsageError(io, cmd, "--fosc-khz '" + foscText + "' is not a frequency in kHz");
  }
  Configuration config;
  if (!LoadConfiguration(io, args.positional.empty() ? "" : args.positional[0], config))
    return kExitUsage;
  if (foscText.empty()) foscText = config.foscText;
  const std::string out = args.get("-o");
  return Written(io, out,
                 zk7::WriteDeviceFile(out, config.image, config.regs.ConfigWord(), foscText, error),
                 error);
}

}  // namespace zk7cli
