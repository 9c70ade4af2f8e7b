// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The table of zk7prog's commands. One row per command says everything the
// command line knows of it before the command's own work starts: its name,
// its synopsis, the line 'zk7prog --help' gives it, the options it takes
// (with a value or without), how many words besides options it takes, its
// help text and its handler. Parsing, '--help' of the program and of each
// command, and the usage errors all come from the rows; the tests check the
// man page, the bash completion and the documentation against them.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace zk7cli {

constexpr const char* kProgramName = "zk7prog";

// A command line after parsing: the words that are not options, the options
// with a value by canonical name ("--output" is "-o"), and the flags.
struct Args {
  std::string command;  // the command's name, for its usage errors
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::set<std::string> flags;
  bool help = false;
  bool has(const std::string& name) const { return options.count(name) != 0; }
  bool flag(const std::string& name) const { return flags.count(name) != 0; }
  std::string get(const std::string& name) const {
    auto it = options.find(name);
    return it == options.end() ? std::string() : it->second;
  }
  // The first positional word, or "" (the default configuration) without one.
  std::string file() const { return positional.empty() ? std::string() : positional[0]; }
};

struct Option {
  const char* name;       // "--port", "-o" (which "--output" also names)
  const char* value;      // what the synopsis calls its value ("PORT"); null for a flag
  bool required = false;  // a usage error names it when it is missing
};

constexpr std::size_t kAnyNumber = static_cast<std::size_t>(-1);

struct Command {
  const char* name;
  // The forms of the command line after the command's name, one for most
  // commands ("[FILE] -o OUT.hex"); every option below appears in them.
  std::vector<const char*> forms;
  const char* summary;  // the line of 'zk7prog --help'
  std::vector<Option> options;
  std::size_t minWords, maxWords;  // positional words; maxWords may be kAnyNumber
  const char* help;                // what '--help' says after the usage lines
  bool portHelp;                   // '--help' ends with what PORT may be
  int (*run)(const Args& args, Io& io);
};

// The rows, each defined beside its handler.
extern const Command kShowCommand, kExportHexCommand, kWriteDvsCommand, kSetCommand, kDiffCommand,
    kCheckCommand, kProgramCommand, kReadCommand, kVerifyCommand, kPortsCommand, kBitTimingCommand,
    kFilterCommand, kFilterDesignCommand;

// Every command, in the order 'zk7prog --help' lists them.
const std::vector<const Command*>& Commands();
const Command* FindCommand(const std::string& name);

// "Usage: zk7prog diff A B\n       zk7prog diff A --port PORT\n": each form
// wrapped at 80 columns between bracketed groups, continuation lines under
// the first word after the command's name. prefix stands where "Usage: " does.
std::string UsageLines(const Command& command, const std::string& prefix = "Usage: ");

// Splits words into options and positionals by the command's options
// ("--port X" or "--port=X"; "--output" is read as "-o"). False with error for
// an unknown option, a missing value, a value given to a flag, or an option
// given twice.
bool ParseArgs(const Command& command, const std::vector<std::string>& words, Args& args,
               std::string& error);

// Prints "zk7prog CMD: message" and the hint to --help; returns kExitUsage.
int UsageError(Io& io, const std::string& command, const std::string& message);
// Prints "zk7prog: message" on err and returns code.
int Fail(Io& io, const std::string& message, int code);

// The row's command run on words: parsed, '--help' answered, the number of
// positional words and the required options checked, then its handler.
int RunCommand(const Command& command, const std::vector<std::string>& words, Io& io);

}  // namespace zk7cli
