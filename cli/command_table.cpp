// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_table.h"

#include <ostream>

#include "sim/emulator.h"
#include "zk7_version.h"

namespace zk7cli {

namespace {

constexpr std::size_t kWidth = 80;
constexpr std::size_t kSummaryColumn = 42;

const char* const kPortHelp =
    "PORT is a base address in hex (278, 378, 3BC, D010, ...), /dev/parportN,\n"
    "  ftdi[:VID:PID[:SERIAL]][@USBPATH] or emulator[:OPTIONS] (see 'zk7prog --help');\n"
    "  'zk7prog ports' lists the ports found.\n";

// The words of a synopsis, a bracketed group ("[-o OUT.dvs | -o OUT.hex]") as one.
std::vector<std::string> Groups(const std::string& text) {
  std::vector<std::string> groups;
  std::string group;
  int depth = 0;
  for (const char c : text) {
    if (c == ' ' && depth == 0) {
      if (!group.empty()) groups.push_back(group);
      group.clear();
      continue;
    }
    depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    group += c;
  }
  if (!group.empty()) groups.push_back(group);
  return groups;
}

// lead, then the groups of text, wrapped at kWidth with continuation lines
// under the first group; one line per element, without line ends.
std::vector<std::string> Wrapped(const std::string& lead, const std::string& text) {
  std::vector<std::string> lines{lead};
  const std::string indent(lead.size() + 1, ' ');
  for (const std::string& g : Groups(text)) {
    std::string& line = lines.back();
    if (line.size() > lead.size() && line.size() + 1 + g.size() > kWidth)
      lines.push_back(indent + g);
    else
      line += ' ' + g;
  }
  return lines;
}

void PrintTopHelp(std::ostream& os) {
  os << "Usage: zk7prog COMMAND [ARGS]\n"
        "Works on ZK7A/ZK7B device files (*.dvs) and on chips in the\n"
        "parallel-port programmer adapter.\n\n"
        "Commands:\n";
  for (const Command* c : Commands()) {
    // Every form on one line: "diff A B | diff A --port PORT".
    std::string forms;
    for (const char* form : c->forms)
      forms += (forms.empty() ? "" : std::string(" | ") + c->name + " ") + form;
    auto lines = Wrapped(std::string("  ") + c->name, forms);
    if (lines.back().size() + 2 > kSummaryColumn) lines.emplace_back();
    lines.back().resize(kSummaryColumn, ' ');
    lines.back() += c->summary;
    for (const auto& line : lines) os << line << '\n';
  }
  os << "\nFILE is a device file (*.dvs) or an Intel HEX file, told apart by content;\n"
        "without FILE the default configuration at 4000 kHz is used.\n"
        "PORT is a base address in hex (278, 378, 3BC, D010, ...), /dev/parportN,\n"
        "  ftdi[:VID:PID[:SERIAL]][@USBPATH] (USB adapter) or\n  "
     << zk7::EmulatorOptionsSummary()
     << "\n  (CHIPFILE is read again as each chip starts: replacing or deleting it\n"
        "  between chips inserts another chip; a missing file is a blank chip)"
        "\n\nExit status: 0 success, 1 the chip failed or differs, 2 usage, file or port error.\n"
        "'zk7prog COMMAND --help' describes a command, 'zk7prog --version' the version.\n";
}

const Option* FindOption(const Command& command, const std::string& name) {
  for (const Option& o : command.options)
    if (name == o.name) return &o;
  return nullptr;
}

// "-o OUT.hex is required", or "--fosc-khz and --bitrate are required" when
// the command needs several.
std::string RequiredText(const Command& command) {
  std::vector<const Option*> required;
  for (const Option& o : command.options)
    if (o.required) required.push_back(&o);
  if (required.size() == 1)
    return std::string(required[0]->name) + ' ' + required[0]->value + " is required";
  std::string text;
  for (std::size_t k = 0; k < required.size(); ++k)
    text += (k == 0                     ? ""
             : k + 1 == required.size() ? " and "
                                        : ", ") +
            std::string(required[k]->name);
  return text + " are required";
}

}  // namespace

const std::vector<const Command*>& Commands() {
  static const std::vector<const Command*> commands = {
      &kShowCommand,      &kExportHexCommand, &kWriteDvsCommand,    &kSetCommand,    &kDiffCommand,
      &kCheckCommand,     &kProgramCommand,   &kReadCommand,        &kVerifyCommand, &kPortsCommand,
      &kBitTimingCommand, &kFilterCommand,    &kFilterDesignCommand};
  return commands;
}

const Command* FindCommand(const std::string& name) {
  for (const Command* c : Commands())
    if (name == c->name) return c;
  return nullptr;
}

std::string UsageLines(const Command& command, const std::string& prefix) {
  std::string text;
  for (std::size_t k = 0; k < command.forms.size(); ++k) {
    const std::string lead =
        (k == 0 ? prefix : std::string(prefix.size(), ' ')) + kProgramName + ' ' + command.name;
    for (const auto& line : Wrapped(lead, command.forms[k])) text += line + '\n';
  }
  return text;
}

bool ParseArgs(const Command& command, const std::vector<std::string>& words, Args& args,
               std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (optionsEnded || w.size() < 2 || w[0] != '-') {
      args.positional.push_back(w);
      continue;
    }
    if (w == "--") {
      optionsEnded = true;
      continue;
    }
    if (w == "--help" || w == "-h") {
      args.help = true;
      continue;
    }
    std::string name = w, value;
    bool hasValue = false;
    const auto eq = w.find('=');
    if (w.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = w.substr(0, eq);
      value = w.substr(eq + 1);
      hasValue = true;
    }
    if (name == "--output") name = "-o";
    const Option* option = FindOption(command, name);
    if (!option) {
      error = "unknown option " + name;
      return false;
    }
    if (!option->value) {
      if (hasValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      if (!args.flags.insert(name).second) {
        error = "option " + name + " given twice";
        return false;
      }
      continue;
    }
    if (!hasValue) {
      if (i + 1 >= words.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = words[++i];
    }
    if (args.has(name)) {
      error = "option " + name + " given twice";
      return false;
    }
    args.options[name] = value;
  }
  return true;
}

int UsageError(Io& io, const std::string& command, const std::string& message) {
  io.err << kProgramName << ' ' << command << ": " << message << "\n"
         << "Try '" << kProgramName << ' ' << command << " --help'.\n";
  return kExitUsage;
}

int Fail(Io& io, const std::string& message, int code) {
  io.err << kProgramName << ": " << message << "\n";
  return code;
}

int RunCommand(const Command& command, const std::vector<std::string>& words, Io& io) {
  Args args;
  args.command = command.name;
  std::string error;
  if (!ParseArgs(command, words, args, error)) return UsageError(io, command.name, error);
  if (args.help) {
    io.out << UsageLines(command) << command.help << (command.portHelp ? kPortHelp : "");
    return kExitOk;
  }
  if (args.positional.size() < command.minWords)
    return UsageError(io, command.name, "missing argument");
  if (args.positional.size() > command.maxWords)
    return UsageError(io, command.name,
                      "unexpected argument '" + args.positional[command.maxWords] + "'");
  for (const Option& o : command.options)
    if (o.required && !args.has(o.name)) return UsageError(io, command.name, RequiredText(command));
  return command.run(args, io);
}

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
    io.out << kProgramName << " " ZK7_VERSION "\n" ZK7_VERSION_NOTICE;
    return kExitOk;
  }
  if (const Command* c = FindCommand(name))
    return RunCommand(*c, std::vector<std::string>(args.begin() + 1, args.end()), io);
  io.err << kProgramName << ": unknown command '" << name << "'\n"
         << "Try '" << kProgramName << " --help'.\n";
  return kExitUsage;
}

}  // namespace zk7cli
