// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The zk7prog commands. Each takes the words after its name and writes to the
// streams of an Io, so tests can call it directly.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace zk7 {
struct PortCandidate;
}

namespace zk7cli {

enum ExitCode : int {
  kExitOk = 0,     // done, chip verified
  kExitChip = 1,   // the chip failed to program or does not match
  kExitUsage = 2,  // bad usage, a file that cannot be read or written, port not accessible
};

struct Io {
  std::ostream& out;
  std::ostream& err;
  // Draw a progress bar on err (only when err is a terminal).
  bool progressBar = false;
  // The user's decimal separator, accepted beside "." in frequency texts.
  char decimalSeparator = '.';
  // Standard input for commands that wait for the user (program --count);
  // std::cin when null. inputTerminal says whether a person types it.
  std::istream* in = nullptr;
  bool inputTerminal = false;
};

// Whole command line without the program name: "program", "x.dvs", "--port", "378".
// The commands are the rows of cli/command_table.h.
int Run(const std::vector<std::string>& args, Io& io);

// The listing of 'zk7prog ports' for these ports (tests give it a fake machine's).
int ReportPorts(const std::vector<zk7::PortCandidate>& ports, bool json, Io& io,
                const std::vector<std::uint16_t>& directOff = {});

}  // namespace zk7cli
