// Pieces the zk7prog commands share: option parsing, loading the
// configuration to work on, opening the programmer port.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "model/image.h"
#include "model/registers.h"
#include "programmer/programmer.h"

namespace zk7cli {

constexpr const char* kProgramName = "zk7prog";
constexpr const char* kDefaultFoscText = "4000";

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // by canonical name ("-o", "--port", ...)
  std::set<std::string> flags;                 // options without a value ("--json", ...)
  bool help = false;
  bool has(const std::string& name) const { return options.count(name) != 0; }
  bool flag(const std::string& name) const { return flags.count(name) != 0; }
  std::string get(const std::string& name) const {
    auto it = options.find(name);
    return it == options.end() ? std::string() : it->second;
  }
};

// Splits words into options and positionals. valueOptions are the options
// that take a value ("--port X" or "--port=X"); "--output" is read as "-o".
// flagOptions take no value ("--json"). False with error for an unknown
// option, a missing value, a value given to a flag, or an option given twice.
bool ParseArgs(const std::vector<std::string>& words, const std::set<std::string>& valueOptions,
               Args& args, std::string& error, const std::set<std::string>& flagOptions = {});

// Prints "zk7prog CMD: message" and the hint to --help; returns kExitUsage.
int UsageError(Io& io, const std::string& command, const std::string& message);
// Prints "zk7prog: message" on err and returns code.
int Fail(Io& io, const std::string& message, int code);

// The configuration a command works on: a device file, a HEX file or the defaults.
struct Configuration {
  zk7::RegisterSet regs;
  zk7::MemoryImage image;
  std::string foscText = kDefaultFoscText;
  double foscHz = 4e6;
  bool foscKnown = true;  // false when the file carries no frequency (HEX, old device file)
};
// Loads path (or the defaults when path is empty), a device file or an Intel
// HEX file by content, and builds the image, as the load command of the
// windows does. False after printing the error.
bool LoadConfiguration(Io& io, const std::string& path, Configuration& config);

// Checks the positional count: at most max (and at least min).
bool CheckPositionals(Io& io, const std::string& command, const Args& args, std::size_t min,
                      std::size_t max, int& code);

// The port and the programmer on it, opened for a chip command.
struct ChipAccess {
  zk7::Port port;
  std::unique_ptr<zk7::Programmer> programmer;
};
// Opens PORT text and runs the cable check; on failure prints why and returns
// false with code set to kExitUsage (a port text it cannot parse, a port that
// is not accessible or that another program holds, a failed cable check).
// What puts a chip at risk on a port that works (the printer driver lp
// sharing it) is printed as a warning.
bool OpenChip(Io& io, const std::string& command, const std::string& portText, ChipAccess& chip,
              int& code);

// Flow callbacks for the terminal: precise sleeps and a progress bar when
// enabled. Ctrl-C and the other signals that end the process stop a flow
// through port/signals.h (installed by main).
zk7::FlowCallbacks TerminalCallbacks(Io& io, zk7::Programmer& programmer, bool progress);
// Removes the progress bar line again.
void EndProgress(Io& io);

// The chip commands' shared pieces. kPortHelp explains PORT in a usage text.
extern const char* const kPortHelp;
// Prints a flow's refusal or failure on err; returns kExitUsage for Busy, else kExitChip.
int FlowFailure(Io& io, const zk7::FlowResult& r);
// The exit code after a flow on chip: a port that failed during the run spoils
// whatever the flow reported (exit 2 with the port's problem).
int AfterFlow(Io& io, ChipAccess& chip, const zk7::FlowResult& r);
// Reads the chip's 70 image bytes and its configuration word (Ctrl-C stops the read);
// false with code set after printing why. A read in which every word is 0000
// or 3FFF is no chip (kExitChip).
bool ReadChip(Io& io, ChipAccess& chip, zk7::MemoryImage& image, std::uint16_t& word, int& code);

// "a\r\nb" -> "a\nb" for the terminal.
std::string TerminalLines(const std::string& text);
// Extension in lower case without the dot ("" when none).
std::string Extension(const std::string& path);
// Writes image and configWord to out as a device file (.dvs, with foscText)
// or an Intel HEX export (.hex); the exit code, after saying why it failed.
// The exit code after writing out: a failure said, or the copy an earlier
// interrupted write left beside it (files/atomicfile.h) said as a warning.
int Written(Io& io, const std::string& out, bool ok, const std::string& error);
int WriteConfigurationAs(Io& io, const std::string& out, const zk7::MemoryImage& image,
                         std::int16_t configWord, const std::string& foscText);

}  // namespace zk7cli
