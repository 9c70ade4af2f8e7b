// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog: the command-line face of the programmer; the commands live in
// the zk7cli library.
#include <unistd.h>

#include <clocale>
#include <iostream>

#include "cli/commands.h"
#include "port/signals.h"

int main(int argc, char** argv) {
  // A signal during a run stops it with the chip out of programming mode,
  // then ends the process by that signal.
  zk7::InstallTerminationHandlers("zk7prog", zk7::IdleTermination::EndAtOnce);
  // Only to learn the user's decimal separator; all output stays in the C locale.
  std::setlocale(LC_NUMERIC, "");
  const char separator = *std::localeconv()->decimal_point;
  std::setlocale(LC_NUMERIC, "C");
  zk7cli::Io io{std::cout, std::cerr, isatty(STDERR_FILENO) == 1, separator};
  return zk7cli::Run(std::vector<std::string>(argv + 1, argv + argc), io);
}
