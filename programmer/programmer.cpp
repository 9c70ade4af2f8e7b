// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "programmer/programmer.h"

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "model/format.h"
#include "port/protocol.h"
#include "port/signals.h"

namespace zk7 {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The last stretch of a wait is spun rather than slept: waking from a sleep
// is late by some tens of microseconds. A longer spin buys nothing on a busy
// machine, where a spinning thread loses the processor more often than a
// sleeping one is woken late.
constexpr auto kSpinMargin = std::chrono::microseconds(50);
// Sleep in short slices, so that input stays live while events are processed
// and a signal that ends the process stops a flow within milliseconds.
constexpr auto kEventSlice = std::chrono::milliseconds(2);

// The line groups of the data register, in the order of the shadow masks.
enum Group : int { GnPRG, GVDD, GVPP, GCLKEN, GDATWREN, GCLKOUT, GDATAOUT };

struct LineState {
  const char* name;
  int group;
  std::uint8_t mask;
};

// Every state name with the mask its group takes.
constexpr LineState kLineStates[] = {
    {"nPRG_ON", GnPRG, 0x7F},        {"nPRG_OFF", GnPRG, 0xFF},     {"VDD_ON", GVDD, 0xEF},
    {"VDD_OFF", GVDD, 0xFF},         {"VPP_ON", GVPP, 0xFF},        {"VPP_OFF", GVPP, 0xF7},
    {"CLKEN_ON", GCLKEN, 0xFF},      {"CLKEN_OFF", GCLKEN, 0xDF},   {"DATWREN_ON", GDATWREN, 0xFF},
    {"DATWREN_OFF", GDATWREN, 0xFB}, {"CLKOUT_1", GCLKOUT, 0xFF},   {"CLKOUT_0", GCLKOUT, 0xFD},
    {"DATAOUT_1", GDATAOUT, 0xFF},   {"DATAOUT_0", GDATAOUT, 0xFE},
};
constexpr int kLineStateCount = sizeof kLineStates / sizeof kLineStates[0];

// The masks of all lines off: shadow byte 0xD0.
constexpr std::array<std::uint8_t, 7> kInitialMasks = {0xFF, 0xFF, 0xF7, 0xDF, 0xFB, 0xFD, 0xFE};
static_assert((kInitialMasks[0] & kInitialMasks[1] & kInitialMasks[2] & kInitialMasks[3] &
               kInitialMasks[4] & kInitialMasks[5] & kInitialMasks[6]) == kLinesOff,
              "the initial masks are the all-lines-off byte drivers start from");

constexpr int kImageStartSteps = 16;
constexpr int kConfigWordSteps = 7;
constexpr int kConfigPulses = 100;
constexpr int kMaxPulses = 25;
constexpr int kOverprogramFactor = 3;
constexpr int kProgramWordBase = 0x3400;

// Thrown inside a flow when an abort was requested; caught by the flow itself.
struct FlowAborted {};

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

FlowResult Aborted(const char* text) {
  FlowResult r;
  r.status = FlowResult::Aborted;
  r.title = "Operation Aborted";
  r.text = text;
  return r;
}

FlowResult Failure(int position, std::string title, std::string text) {
  FlowResult r;
  r.status = FlowResult::Failed;
  r.failedPosition = position;
  r.title = std::move(title);
  r.text = std::move(text);
  return r;
}

}  // namespace

// The operations' line names, indices into kLineStates.
enum Programmer::Line : int {
  nPRG_ON,
  nPRG_OFF,
  VDD_ON,
  VDD_OFF,
  VPP_ON,
  VPP_OFF,
  CLKEN_ON,
  CLKEN_OFF,
  DATWREN_ON,
  DATWREN_OFF,
  CLKOUT_1,
  CLKOUT_0,
  DATAOUT_1,
  DATAOUT_0
};

void PreciseSleepMs(int ms) {
  PreciseSleepMs(ms, nullptr);
}

void PreciseSleepMs(int ms, const std::function<void()>& processEvents) {
  if (ms <= 0) return;
  // The kernel may otherwise delay a sleeper's wake-up by 50 us to batch timers.
  static thread_local const bool precise = prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
  (void)precise;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (processEvents) processEvents();
    // A signal that ends the process cuts the wait short; the flow then stops.
    if (PendingTerminationSignal() != 0) return;
    const auto now = SteadyClock::now();
    if (now >= deadline) return;
    const auto remaining = deadline - now;
    if (remaining > kSpinMargin)
      std::this_thread::sleep_for(
          std::min<SteadyClock::duration>(remaining - kSpinMargin, kEventSlice));
  }
}

std::vector<ResultBlinkStep> ResultBlinkSequence(FlowResult::Status status) {
  using S = ResultBlinkStep;
  switch (status) {
    case FlowResult::Passed:
      return {S{S::Black, "", 500}, S{S::Green, "PASSED", 500}, S{S::Green, "", 500},
              S{S::Green, "PASSED", 250}};
    case FlowResult::Failed: {
      std::vector<S> steps;
      for (int k = 0; k < 4; ++k) {
        steps.push_back(S{S::Red, "FAILED", 250});
        steps.push_back(S{S::Red, "", 250});
      }
      return steps;
    }
    default:
      return {};
  }
}

void PlayResultBlink(FlowResult::Status status,
                     const std::function<void(const ResultBlinkStep&)>& show,
                     const FlowCallbacks& cb) {
  for (const auto& step : ResultBlinkSequence(status)) {
    if (show) show(step);
    if (cb.wait)
      cb.wait(step.waitMs);
    else
      PreciseSleepMs(step.waitMs, cb.processEvents);
  }
}

// Marks the programmer busy and installs the flow's callbacks for its span.
struct Programmer::FlowLock {
  Programmer& p;
  FlowCallbacks saved;
  // An abort asked for within a chip's sequence holds until the sequence
  // ends, so a request that falls between its check and its burn still stops
  // the burn; a flow of its own starts and ends without one.
  FlowLock(Programmer& programmer, const FlowCallbacks& cb) : p(programmer), saved(programmer.cb_) {
    p.busy_ = true;
    if (p.sequences_ == 0) p.abort_ = false;
    p.cb_ = cb;
  }
  ~FlowLock() {
    p.cb_ = saved;
    p.busy_ = false;
    if (p.sequences_ == 0) p.abort_ = false;
    LeavePortFlow();  // ends the process here if a signal asked for it
  }
};

// Gives the port back when a flow ends, before the flow's lock is dropped.
struct PortRelease {
  Port& port;
  ~PortRelease() { port.release(); }
};

Programmer::Programmer(Port& port) : port_(port), masks_(kInitialMasks) {}

void Programmer::InitLPTPort(std::uint16_t base) {
  port_.open(base);
}

void Programmer::setLine(int line) {
  if (!shadowInit_) {
    masks_ = kInitialMasks;
    shadowInit_ = true;
  }
  if (line >= 0 && line < kLineStateCount) {
    const LineState& s = kLineStates[line];
    masks_[static_cast<std::size_t>(s.group)] = s.mask;
  }
  std::uint8_t byte = 0xFF;
  for (std::uint8_t m : masks_) byte &= m;
  if (batch_)
    batch_->writes.push_back(byte);
  else
    port_.DlPortWritePortUchar(port_.base(), byte);
}

void Programmer::SetProgLine(std::string_view name) {
  int line = -1;  // a name outside the table rewrites the unchanged byte
  for (int k = 0; k < kLineStateCount; ++k)
    if (name == kLineStates[k].name) line = k;
  setLine(line);
}

const char* PortTitle(const Port& port) {
  if (port.capabilities().emulated ||
      (!port.driver() && port.choice().kind == PortChoice::Emulator))
    return "Check Emulated Chip";
  return port.capabilities().ioAddress ? "Check Parallel Port" : "Check USB Adapter";
}

bool Programmer::CheckLPT(
    const std::function<void(const std::string& title, const std::string& text)>& message) {
  // A USB adapter has no cable-check lines; the documentation says so, once, rather
  // than every run.
  if (!port_.capabilities().cableCheck) return true;
  std::string why;
  if (!port_.claim(why)) {
    if (message) message("Check Parallel Port", why);
    return false;
  }
  const std::uint8_t s = port_.DlPortReadPortUchar(port_.base() + 1) & 0xB0;
  port_.release();
  const char* text = nullptr;
  if (s == 0x30)
    text = "LPT Cable Not Connected";
  else if (s == 0xB0)
    text = "Wrong LPT Address";
  if (text && message) message("Check Parallel Port", text);
  return true;
}

std::uint8_t Programmer::lineShadow() const {
  std::uint8_t byte = 0xFF;
  for (std::uint8_t m : shadowInit_ ? masks_ : kInitialMasks) byte &= m;
  return byte;
}

void Programmer::clockBit(int bit) {
  setLine(CLKOUT_1);
  setLine(bit ? DATAOUT_1 : DATAOUT_0);
  setLine(CLKOUT_0);
}

void Programmer::sendCommand(int code) {
  for (int k = 0; k < 6; ++k) clockBit((code >> k) & 1);
}

void Programmer::EnterProgMode() {
  setLine(nPRG_ON);
  setLine(CLKOUT_0);
  setLine(CLKEN_ON);
  setLine(DATAOUT_0);
  setLine(DATWREN_ON);
  // Programming voltage before supply; the repeated writes are the settling time.
  for (int k = 0; k < 4; ++k) setLine(VPP_ON);
  for (int k = 0; k < 4; ++k) setLine(VDD_ON);
  progMode_ = true;
}

void Programmer::ExitProgMode() {
  setLine(VPP_OFF);
  setLine(VDD_OFF);
  setLine(nPRG_OFF);
  port_.flush();  // the chip is unpowered when this returns, whatever the driver queues
  progMode_ = false;
}

void Programmer::LoadConfig(int value) {
  setLine(DATWREN_ON);
  sendCommand(kCmdLoadConfig);
  clockBit(0);  // start bit
  for (int k = 0; k < 3; ++k) clockBit((value >> k) & 1);
  for (int k = 3; k < 14; ++k) clockBit(1);
  clockBit(0);  // stop bit
}

void Programmer::LoadData(int value) {
  const int word = kProgramWordBase + (value & 0xFF);
  setLine(DATWREN_ON);
  sendCommand(kCmdLoadData);
  clockBit(0);  // start bit
  for (int k = 0; k < 14; ++k) clockBit((word >> k) & 1);
  clockBit(0);  // stop bit
}

int Programmer::ReadData() {
  setLine(DATWREN_ON);
  sendCommand(kCmdReadData);
  setLine(DATWREN_OFF);  // the chip drives the data line now
  eventsPoint();
  setLine(CLKOUT_1);  // start bit, not sampled
  setLine(CLKOUT_0);
  eventsPoint();
  // The 14 bits, the stop bit and the last line change reach the port as one
  // exchange, so an adapter behind USB answers the whole frame in one round trip.
  PortBatch batch;
  batch_ = &batch;
  for (int k = 0; k < 14; ++k) {
    setLine(CLKOUT_1);
    setLine(CLKOUT_0);
    batch.sampleAfter.push_back(batch.writes.size());  // after the falling edge
  }
  setLine(CLKOUT_1);  // stop bit
  setLine(CLKOUT_0);
  setLine(DATWREN_ON);
  batch_ = nullptr;
  const std::vector<std::uint8_t> samples = port_.exchange(port_.base(), batch);
  int result = 0;
  for (int k = 0; k < 14; ++k)
    if (samples[static_cast<std::size_t>(k)] & 0x40) result |= 1 << k;
  return result;
}

void Programmer::IncAddress(int count) {
  setLine(DATWREN_ON);
  for (int k = 0; k < count; ++k) {
    setLine(DATAOUT_0);
    sendCommand(kCmdIncrement);
    setLine(CLKOUT_0);
  }
}

void Programmer::ProgramCycle() {
  setLine(DATWREN_ON);
  ++pulses_;
  sendCommand(kCmdBeginProgramming);
  DelayMs(1);
  sendCommand(kCmdEndProgramming);
}

void Programmer::DelayMs(int ms) {
  port_.noteDelay(ms);
  if (cb_.wait)
    cb_.wait(ms);
  else
    PreciseSleepMs(ms, cb_.processEvents);
  if (stopRequested()) throw FlowAborted{};
}

void Programmer::eventsPoint() {
  if (cb_.processEvents) cb_.processEvents();
  if (stopRequested()) throw FlowAborted{};
}

bool Programmer::stopRequested() const {
  return busy_ && (abort_ || PendingTerminationSignal() != 0 || portFailed() || port_.guardEnded());
}

bool Programmer::portFailed() const {
  const std::string& problem = port_.accessProblem();
  return !problem.empty() && problem != portProblemAtStart_;
}

void Programmer::setCallbacks(const FlowCallbacks& cb) {
  cb_ = cb;
}
const FlowCallbacks& Programmer::callbacks() const {
  return cb_;
}
bool Programmer::busy() const {
  return busy_;
}

void Programmer::requestAbort() {
  if (busy_ || sequences_ > 0) abort_ = true;
}

void Programmer::beginChipSequence() {
  if (sequences_++ == 0 && port_.driver()) port_.driver()->sequenceStarts();
}

void Programmer::endChipSequence() {
  if (sequences_ > 0 && --sequences_ == 0) abort_ = false;
}

void Programmer::leaveForEnding() {
  if (progMode_) ExitProgMode();
}

template <typename Body>
FlowResult Programmer::runFlow(const FlowCallbacks& cb, const char* abortedText, Body body) {
  if (busy_) {
    FlowResult r;
    r.status = FlowResult::Busy;
    r.title = BusyTitle();
    r.text = BusyText();
    return r;
  }
  if (!EnterPortFlow()) return Aborted(abortedText);  // the process is ending
  FlowLock lock(*this, cb);
  const ChipSequence sequence(*this);
  std::string why;
  bool guardFailed = false;
  if (!port_.claimGuarded(why, &guardFailed)) {
    FlowResult r;
    r.status = FlowResult::Busy;
    // A missing guard is no fault of the port.
    r.title = guardFailed ? GuardNotStartedTitle() : PortTitle(port_);
    r.text = why;
    r.guardFailed = guardFailed;
    return r;
  }
  PortRelease release{port_};
  // Asked to stop before it began (between a chip's check and its burn): touch nothing.
  if (abort_) return Aborted(abortedText);
  portProblemAtStart_ = port_.accessProblem();
  // A port that failed during the run (a lost USB transfer, an echo that did
  // not match) stops it and is what the run reports, with whether the chip
  // was switched off.
  const auto portFailure = [&](FlowResult r) {
    if (!portFailed()) return r;
    FlowResult failed;
    failed.status = FlowResult::Failed;
    failed.title = PortTitle(port_);
    failed.text = port_.accessProblem();
    return failed;
  };
  try {
    FlowResult r = body();
    leaveForEnding();
    return portFailure(r);
  } catch (const FlowAborted&) {
    leaveForEnding();
    if (port_.guardEnded()) {
      // The program is its own guard now: it has just switched the lines off.
      FlowResult r = Aborted(abortedText);
      r.title = GuardTitle();
      r.text =
          "The guard process ended, so the run was stopped and the chip left programming "
          "mode. " +
          r.text;
      r.guardFailed = true;
      return r;
    }
    return portFailure(Aborted(abortedText));
  } catch (...) {
    leaveForEnding();
    throw;
  }
}

FlowResult Programmer::ProgramDevice(RegisterSet& rs, MemoryImage& image, const FlowCallbacks& cb) {
  BuildMemoryImage(rs, image);
  return ProgramImage(image, rs.ConfigWord(), cb);
}

FlowResult Programmer::ProgramImage(const MemoryImage& image, std::int16_t configWord,
                                    const FlowCallbacks& cb) {
  return runFlow(cb, "Programming was stopped; the chip may be partly programmed.",
                 [&] { return programImage(image, configWord); });
}

FlowResult Programmer::programImage(const MemoryImage& image, std::int16_t configWord) {
  // Configuration word: burnt with a fixed number of pulses, compared in bits 2..0.
  EnterProgMode();
  LoadConfig(configWord);
  IncAddress(kConfigWordSteps);
  if (configWord < 255)
    for (int k = 0; k < kConfigPulses; ++k) ProgramCycle();
  DelayMs(10);
  int r = ReadData();
  ExitProgMode();
  DelayMs(100);
  if (((configWord ^ r) & 7) != 0)
    return Failure(kConfigWordPosition, "Failed to Program Config. Word",
                   Lines({"Failed to Program Configuration Word!",
                          "Expected: " + HexNoPad(static_cast<unsigned>(configWord & 7)),
                          "Read: " + HexNoPad(static_cast<unsigned>(r & 7))}));

  // Image words: pulse until the word reads back, then over-program 3 x n.
  EnterProgMode();
  IncAddress(kImageStartSteps);
  for (int i = 0; i < kImageSize; ++i) {
    const int entry = image.MemMap[static_cast<std::size_t>(i)];
    const int expected = entry + kProgramWordBase;
    int n = 0;
    bool ok = false;
    do {
      if (entry < 255) {
        LoadData(entry);
        ProgramCycle();
      }
      r = ReadData();
      ++n;
      ok = r == expected;
    } while (!(n > kMaxPulses || ok));
    if (n > kMaxPulses) {
      ExitProgMode();
      return Failure(i, "Failed to Program Address " + HexNoPad(static_cast<unsigned>(i)),
                     Lines({"Failed to Program Register: " + HexNoPad(static_cast<unsigned>(i)),
                            "Expected: " + HexNoPad(static_cast<unsigned>(expected)),
                            "Read: " + HexNoPad(static_cast<unsigned>(r))}));
    }
    for (int k = 0; k < kOverprogramFactor * n; ++k) {
      if (entry < 255) {
        LoadData(entry);
        ProgramCycle();
      }
    }
    IncAddress(1);
    if (cb_.progress) cb_.progress(i);
  }
  ExitProgMode();
  return FlowResult{};
}

std::optional<std::uint16_t> NoChipWord(const std::array<std::uint16_t, kImageSize>& imageWords,
                                        std::optional<std::uint16_t> configWord) {
  constexpr std::uint16_t kLineLow = 0x0000, kLineHigh = 0x3FFF;
  for (const std::uint16_t silent : {kLineLow, kLineHigh}) {
    bool all = configWord.value_or(silent) == silent;
    for (std::uint16_t w : imageWords) all = all && w == silent;
    if (all) return silent;
  }
  return std::nullopt;
}

FlowResult Programmer::ReadImageWords(MemoryImage& image, const FlowCallbacks& cb) {
  const auto before = image.MemMap;
  std::array<std::uint16_t, kImageSize> words{};
  FlowResult r = runFlow(cb, "Reading the chip was stopped; nothing was taken over.", [&] {
    EnterProgMode();
    IncAddress(kImageStartSteps);
    for (int i = 0; i < kImageSize; ++i) {
      const int word = ReadData();
      words[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(word);
      const auto value = static_cast<std::uint8_t>(word & 0xFF);
      image.MemMap[static_cast<std::size_t>(i)] = value;
      if (cb_.byteArrived) cb_.byteArrived(i, value);
      if (cb_.wordArrived) cb_.wordArrived(i, word);
      IncAddress(1);
    }
    ExitProgMode();
    return FlowResult{};
  });
  if (r.status == FlowResult::Aborted) image.MemMap = before;
  if (r.ok()) lastImageWords_ = words;
  return r;
}

FlowResult Programmer::ReadChipConfigWord(std::uint16_t& chipConfigWord, const FlowCallbacks& cb) {
  return runFlow(cb, "Reading the configuration word was stopped.", [&] {
    DelayMs(20);
    EnterProgMode();
    LoadConfig(255);  // the all-ones word; no pulse follows
    IncAddress(kConfigWordSteps);
    DelayMs(1);
    const int w = ReadData();
    ExitProgMode();
    chipConfigWord = static_cast<std::uint16_t>(w);
    return FlowResult{};
  });
}

}  // namespace zk7
