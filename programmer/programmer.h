// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Programmer lines, the serial programming operations and the flows that
// program, verify and read a chip.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/image.h"
#include "model/registers.h"
#include "port/port.h"
#include "port/protocol.h"

namespace zk7 {

// Callbacks a caller supplies so one flow implementation serves the windows
// and the command line.
struct FlowCallbacks {
  // Waits at least ms milliseconds (the windows keep processing events meanwhile).
  // When empty, PreciseSleepMs is used (with processEvents, if set). Either
  // way the port trace and the driver's waited(ms) are told of the wait first
  // (a USB adapter's driver then sends what is queued and keeps the next byte
  // back until ms have passed since the pins took the last one).
  std::function<void(int ms)> wait;
  // Lets the caller handle pending input in the middle of an exchange.
  std::function<void()> processEvents;
  // Programming progress: the image position just verified (0..69).
  std::function<void(int position)> progress;
  // A byte of the image just read back (ReadImageWords).
  std::function<void(int position, std::uint8_t value)> byteArrived;
  // The same word whole, all 14 bits as read (the pre-burn check compares them).
  std::function<void(int position, int word)> wordArrived;
};

struct FlowResult {
  enum Status { Passed, Failed, Busy, Aborted } status = Passed;
  std::string title;  // message-box title on failure or refusal
  std::string text;   // message-box text, lines joined by CR LF
  // Failed: the image position (0..69) that did not verify, or
  // kConfigWordPosition for the configuration word.
  std::optional<int> failedPosition;
  // Busy: the guard could not be started; Aborted: it ended during the run
  // (port/guard.h). Either way the run cannot be trusted to be looked after.
  bool guardFailed = false;
  bool ok() const { return status == Passed; }
};

// The title of a run refused or stopped because of its guard.
inline const char* GuardTitle() {
  return "Programmer Guard";
}

// Waits at least ms milliseconds, overshooting by well under a millisecond:
// sleeps until shortly before the deadline, then spins on the steady clock.
// processEvents, when given, is called again and again while waiting. Returns
// early once a signal that ends the process has arrived (port/signals.h).
void PreciseSleepMs(int ms);
void PreciseSleepMs(int ms, const std::function<void()>& processEvents);

// The result label's blinking after a programming run, the same for the
// windows and the command line: set the caption and colour, then wait.
struct ResultBlinkStep {
  enum Colour { Black, Green, Red } colour;  // Green is RGB 0,255,0; Red is RGB 255,0,0
  std::string caption;
  int waitMs;
};
// Passed: a pause, then "PASSED", "", "PASSED" (the label keeps "PASSED");
// Failed: four times "FAILED" and "" (the label ends empty; the message box
// follows). Busy and Aborted runs touch the label not at all: empty.
std::vector<ResultBlinkStep> ResultBlinkSequence(FlowResult::Status status);
// Runs the sequence: show(step) then the step's wait through cb.wait (or
// PreciseSleepMs with cb.processEvents when cb.wait is empty).
void PlayResultBlink(FlowResult::Status status,
                     const std::function<void(const ResultBlinkStep&)>& show,
                     const FlowCallbacks& cb);

// The title of a message about the port itself (it cannot be reached, or it
// failed during a run): what to check, the emulated chip, the USB adapter or
// the parallel port.
const char* PortTitle(const Port& port);
// Title of the refusal of a flow whose guard (port/guard.h) could not be started.
inline const char* GuardNotStartedTitle() {
  return "Programmer Guard Not Started";
}

// Title and text of the refusal a second flow gets while one runs.
inline const char* BusyTitle() {
  return "Programmer Busy";
}
inline const char* BusyText() {
  return "The programmer is busy with another operation.";
}

// What every word of a read gave when no chip answered: 0000 or 3FFF, the
// read-back line stuck low or high (an empty socket, an unpowered chip, a
// port without an adapter or at a wrong address). No chip gives either: an
// image word holds 34 in its high bits (an unburnt one reads 34FF). The
// configuration word, when given, must read the same. None when a chip answered.
std::optional<std::uint16_t> NoChipWord(const std::array<std::uint16_t, kImageSize>& imageWords,
                                        std::optional<std::uint16_t> configWord = std::nullopt);

class Programmer {
 public:
  explicit Programmer(Port& port);

  Port& port() { return port_; }

  // Port selection and check.
  void InitLPTPort(std::uint16_t base);
  void SetProgLine(std::string_view name);
  // Reads the status register once, holding the port's claim only for that
  // read; reports "LPT Cable Not Connected" or "Wrong LPT Address" under the
  // title "Check Parallel Port" through message. A port without the
  // cable-check lines (a USB adapter) is not read and nothing is reported.
  // When the port cannot be claimed (another program holds it) it reports
  // why and returns false.
  bool CheckLPT(
      const std::function<void(const std::string& title, const std::string& text)>& message);
  // The data-register byte last written (0xD0 before the first line change).
  std::uint8_t lineShadow() const;

  // Operations, each exactly the line changes of the protocol.
  void EnterProgMode();
  void ExitProgMode();
  void LoadConfig(int value);
  void LoadData(int value);
  int ReadData();
  void IncAddress(int count);
  void ProgramCycle();
  void DelayMs(int ms);

  // Callbacks used by the operations' waits and event processing.
  void setCallbacks(const FlowCallbacks& callbacks);
  const FlowCallbacks& callbacks() const;

  // True while a flow drives the port.
  bool busy() const;
  // Asks a running flow to stop at its next wait; it leaves programming mode
  // and returns Aborted. Within a chip's sequence (below) the request holds
  // until the sequence ends, so the sequence's later flows return Aborted at
  // once. A signal that ends the process does the same, and the process then
  // ends by it (port/signals.h).
  void requestAbort();

  // True between EnterProgMode and ExitProgMode.
  bool inProgrammingMode() const { return progMode_; }

  // A chip's whole sequence (the flows of one command, or one production
  // chip's check and burn) is bracketed by these; brackets nest, and every
  // flow is one. When the outermost begins, the driver is told
  // (PortDriver::sequenceStarts): the chip is taken from the socket then,
  // never between a chip's check and its burn.
  void beginChipSequence();
  void endChipSequence();

  // The flows. A flow started while another runs, or on a port another
  // program holds, or whose guard cannot be started (Port::claimGuarded),
  // returns Busy with a message and touches nothing. A flow holds the port's
  // claim and its guard from start to end. Every ending (passed, failed, aborted, or an
  // exception from a callback) leaves programming mode.
  //
  // ProgramDevice rebuilds the image from rs (BuildMemoryImage), burns and
  // checks the configuration word, then pulses and verifies the 70 image
  // words; Failed carries the message-box title and text. The caller prepares
  // and finishes the result label, button and progress bar (ResultBlinkSequence).
  FlowResult ProgramDevice(RegisterSet& rs, MemoryImage& image, const FlowCallbacks& cb);
  // The same run on an image already built (its MemMap) and configWord.
  FlowResult ProgramImage(const MemoryImage& image, std::int16_t configWord,
                          const FlowCallbacks& cb);
  // Programming pulses begun since this Programmer was made: a flow that
  // began none left the chip as it was.
  std::uint64_t pulseCount() const { return pulses_; }
  // Reads the 70 image words into image.MemMap (low 8 bits), calling
  // cb.byteArrived for each. An aborted read puts the old MemMap back.
  FlowResult ReadImageWords(MemoryImage& image, const FlowCallbacks& cb);
  // The image words of the last ReadImageWords that ran to its end (none
  // before one did), for NoChipWord.
  const std::optional<std::array<std::uint16_t, kImageSize>>& lastImageWords() const {
    return lastImageWords_;
  }
  // Reads the chip's configuration word into chipConfigWord (left alone when
  // the read is refused or aborted).
  FlowResult ReadChipConfigWord(std::uint16_t& chipConfigWord, const FlowCallbacks& cb);

 private:
  struct FlowLock;
  enum Line : int;
  void setLine(int line);
  void clockBit(int bit);
  void sendCommand(int code);
  void eventsPoint();
  bool stopRequested() const;
  bool portFailed() const;
  void leaveForEnding();
  template <typename Body>
  FlowResult runFlow(const FlowCallbacks& cb, const char* abortedText, Body body);
  FlowResult programImage(const MemoryImage& image, std::int16_t configWord);

  Port& port_;
  FlowCallbacks cb_;
  bool shadowInit_ = false;
  std::array<std::uint8_t, 7> masks_{};
  bool busy_ = false;
  bool abort_ = false;
  bool progMode_ = false;
  std::uint64_t pulses_ = 0;
  PortBatch* batch_ = nullptr;      // set while ReadData gathers its frame
  std::string portProblemAtStart_;  // the port's problem when the running flow began
  int sequences_ = 0;               // open chip sequences
  std::optional<std::array<std::uint16_t, kImageSize>> lastImageWords_;
};

// beginChipSequence and endChipSequence for a scope.
class ChipSequence {
 public:
  explicit ChipSequence(Programmer& programmer) : programmer_(programmer) {
    programmer_.beginChipSequence();
  }
  ~ChipSequence() { programmer_.endChipSequence(); }
  ChipSequence(const ChipSequence&) = delete;
  ChipSequence& operator=(const ChipSequence&) = delete;

 private:
  Programmer& programmer_;
};

}  // namespace zk7
