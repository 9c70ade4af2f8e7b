// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// What the zk7prog commands that reach a chip share: opening the port and
// the programmer on it, the terminal's flow callbacks, and saying how a flow
// ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/command_table.h"
#include "model/image.h"
#include "programmer/programmer.h"

namespace zk7cli {

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
zk7::FlowCallbacks TerminalCallbacks(Io& io, bool progress);
// Removes the progress bar line again.
void EndProgress(Io& io);

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

}  // namespace zk7cli
