// Programmer lines, the serial programming operations and the flows that
// program, verify and read a chip.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "model/image.h"
#include "model/registers.h"
#include "programmer/port.h"

namespace zk7 {

// Callbacks a caller supplies so one flow implementation serves the windows
// and the command line.
struct FlowCallbacks {
  // Waits at least ms milliseconds (the windows keep processing events meanwhile).
  // When empty, PreciseSleepMs is used.
  std::function<void(int ms)> wait;
  // Lets the caller handle pending input in the middle of an exchange.
  std::function<void()> processEvents;
  // Programming progress: the image position just verified (0..69).
  std::function<void(int position)> progress;
  // A byte of the image just read back (ReadImageWords).
  std::function<void(int position, std::uint8_t value)> byteArrived;
};

struct FlowResult {
  enum Status { Passed, Failed, Busy, Aborted } status = Passed;
  std::string title;  // message-box title on failure or refusal
  std::string text;   // message-box text, lines joined by CR LF
  bool ok() const { return status == Passed; }
};

// Waits at least ms milliseconds, overshooting by well under a millisecond.
void PreciseSleepMs(int ms);

class Programmer {
 public:
  explicit Programmer(Port& port);

  Port& port() { return port_; }

  // Port selection and check.
  void InitLPTPort(std::uint16_t base);
  void SetProgLine(std::string_view name);
  // Reads the status register once; reports "LPT Cable Not Connected" or
  // "Wrong LPT Address" under the title "Check Parallel Port" through message.
  void CheckLPT(const std::function<void(const std::string& title, const std::string& text)>& message);
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
  // and returns Aborted.
  void requestAbort();

  // The flows. A flow started while another runs returns Busy with a message
  // and touches nothing.
  FlowResult ProgramDevice(RegisterSet& rs, MemoryImage& image, const FlowCallbacks& cb);
  FlowResult ReadImageWords(MemoryImage& image, const FlowCallbacks& cb);
  FlowResult ReadChipConfigWord(std::uint16_t& chipConfigWord, const FlowCallbacks& cb);

 private:
  struct FlowLock;
  Port& port_;
  FlowCallbacks cb_;
  bool shadowInit_ = false;
  std::array<std::uint8_t, 7> masks_{};
  bool busy_ = false;
  bool abort_ = false;
};

}  // namespace zk7
