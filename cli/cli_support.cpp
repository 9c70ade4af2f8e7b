#include "cli/cli_support.h"

#include <algorithm>
#include <cctype>
#include <ostream>

#include "files/atomicfile.h"
#include "files/configfile.h"
#include "files/devicefile.h"
#include "files/intelhex.h"

namespace zk7cli {

bool ParseArgs(const std::vector<std::string>& words, const std::set<std::string>& valueOptions,
               Args& args, std::string& error, const std::set<std::string>& flagOptions) {
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
    if (flagOptions.count(name)) {
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
    if (!valueOptions.count(name)) {
      error = "unknown option " + name;
      return false;
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

bool CheckPositionals(Io& io, const std::string& command, const Args& args, std::size_t min,
                      std::size_t max, int& code) {
  if (args.positional.size() < min) {
    code = UsageError(io, command, "missing argument");
    return false;
  }
  if (args.positional.size() > max) {
    code = UsageError(io, command, "unexpected argument '" + args.positional[max] + "'");
    return false;
  }
  return true;
}

bool LoadConfiguration(Io& io, const std::string& path, Configuration& config) {
  if (path.empty()) {
    zk7::SetDefaultRegisters(config.regs);
  } else {
    zk7::ConfigurationFile file;
    std::string error;
    if (!zk7::ReadConfigurationFile(path, file, error, io.decimalSeparator)) {
      Fail(io, "cannot load " + path + ": " + error, kExitUsage);
      return false;
    }
    config.regs = file.registers;
    config.foscKnown = file.foscText.has_value();
    if (file.oldVersion)
      io.err << kProgramName << ": " << path
             << ": file is old version, Fosc frequency was not loaded; using " << kDefaultFoscText
             << " kHz\n";
    if (file.configWordDefaulted)
      io.err << kProgramName << ": " << path << ": " << zk7::ConfigWordDefaultedNote() << "\n";
    if (const std::string note = zk7::ChecksumNote(file); !note.empty())
      io.err << kProgramName << ": " << path << ": " << note << "\n";
    if (!file.interruptedWriteNote.empty())
      io.err << kProgramName << ": warning: " << file.interruptedWriteNote << "\n";
    if (file.foscText) {
      config.foscText = *file.foscText;
      config.foscHz = file.foscHz;
    }
  }
  zk7::BuildMemoryImage(config.regs, config.image);
  return true;
}

bool OpenChip(Io& io, const std::string& command, const std::string& portText, ChipAccess& chip,
              int& code) {
  if (portText.empty()) {
    code = UsageError(io, command, "--port PORT is required");
    return false;
  }
  zk7::PortChoice choice;
  std::uint16_t base = 0x378;
  std::string error;
  if (!zk7::ParsePortChoice(portText, choice, base, error)) {
    code = UsageError(io, command, error);
    return false;
  }
  chip.port.setChoice(choice);
  chip.programmer = std::make_unique<zk7::Programmer>(chip.port);
  chip.programmer->InitLPTPort(base);
  // A port that cannot be reached is never replaced by anything else.
  if (!chip.port.accessProblem().empty()) {
    code = Fail(io, chip.port.accessProblem(), kExitUsage);
    return false;
  }
  std::string title, text;
  const bool claimed =
      chip.programmer->CheckLPT([&](const std::string& checkTitle, const std::string& checkText) {
        title = checkTitle;
        text = TerminalLines(checkText);
      });
  if (!claimed) {
    code = Fail(io, title + ": " + text, kExitUsage);
    return false;
  }
  // No cable, or no port at this address: a run would read an invented chip.
  if (!text.empty() && chip.port.capabilities().cableCheck) {
    code = Fail(io, title + ": " + text + " (nothing was powered)", kExitUsage);
    return false;
  }
  if (!text.empty()) io.err << kProgramName << ": warning: " << title << ": " << text << "\n";
  if (const zk7::PortDriver* driver = chip.port.driver(); driver && !driver->warning().empty())
    io.err << kProgramName << ": warning: " << driver->warning() << "\n";
  return true;
}

namespace {

void DrawProgress(Io& io, int position) {
  constexpr int kWidth = 35;
  const int done = std::clamp((position + 1) * kWidth / zk7::kImageSize, 0, kWidth);
  io.err << "\r[" << std::string(static_cast<std::size_t>(done), '#')
         << std::string(static_cast<std::size_t>(kWidth - done), '.') << "] " << position + 1 << '/'
         << zk7::kImageSize << std::flush;
}

}  // namespace

zk7::FlowCallbacks TerminalCallbacks(Io& io, zk7::Programmer& /*programmer*/, bool progress) {
  zk7::FlowCallbacks cb;  // the core's precise sleep
  if (progress && io.progressBar) {
    Io* pio = &io;
    cb.progress = [pio](int position) { DrawProgress(*pio, position); };
  }
  return cb;
}

void EndProgress(Io& io) {
  if (io.progressBar) io.err << '\r' << std::string(48, ' ') << '\r' << std::flush;
}

std::string TerminalLines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string Extension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

int WriteConfigurationAs(Io& io, const std::string& out, const zk7::MemoryImage& image,
                         std::int16_t configWord, const std::string& foscText) {
  std::string error;
  const bool ok = Extension(out) == "dvs"
                      ? zk7::WriteDeviceFile(out, image, configWord, foscText, error)
                      : zk7::WriteIntelHexFile(out, image.ProgramImage, configWord, error);
  return Written(io, out, ok, error);
}

int Written(Io& io, const std::string& out, bool ok, const std::string& error) {
  if (!ok) return Fail(io, "cannot write " + out + ": " + error, kExitUsage);
  if (const std::string note = zk7::InterruptedWriteNote(out); !note.empty())
    io.err << kProgramName << ": warning: " << note << '\n';
  return kExitOk;
}

}  // namespace zk7cli
