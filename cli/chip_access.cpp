// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/chip_access.h"

#include <algorithm>
#include <ostream>

#include "programmer/check.h"

namespace zk7cli {

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

zk7::FlowCallbacks TerminalCallbacks(Io& io, bool progress) {
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
  const auto cb = TerminalCallbacks(io, false);
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

}  // namespace zk7cli
