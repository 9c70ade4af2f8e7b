// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated programmer adapter with a ZK7 chip in it. It sees only what a
// real chip sees on its pins: every data-register byte written and every
// status read. From the line bits it follows supply, programming voltage,
// clock and data, takes commands and frames on the falling clock edge, and
// answers on the read-back line (status bit 6).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "port/driver.h"
#include "port/protocol.h"

namespace zk7 {

// One line for help texts.
inline const char* EmulatorOptionsSummary() {
  return "emulator[:CHIPFILE][,fault=nochip-high|nochip-low|nocable|wrongaddr]"
         "[,pulses=POS:N][,stuck=POS:BIT]  (POS is an image position 0..69 or 'config')\n"
         "  [,usb=ft232r|ft232h|ft2232d|ft2232h[,usb-rtt=MS][,usb-fail=N][,usb-unplug=N]"
         "[,usb-echo=late|stuck|lost[:N]]]  (the chip behind a simulated USB adapter; N counts its "
         "transfers)";
}

// The simulated USB adapter the emulated chip can sit behind, and its faults.
struct UsbEmulation {
  std::string model;       // "" for none; "ft232r", "ft232h", "ft2232d" or "ft2232h"
  double roundTripMs = 0;  // the host's share of a transfer; 0: the bus's own (0.06 ms)
  int failAt = 0;    // transfer N (from 1, since plug-in) fails after its bytes reached the pins
  int unplugAt = 0;  // the adapter vanishes in the middle of transfer N
  // From transfer echoAt on: late, one stale echo byte comes first (until a
  // purge); stuck, the clock line's pin stays high whatever is sent; lost,
  // the adapter is back in serial mode and echoes nothing.
  enum Echo { None, Late, Stuck, Lost } echo = None;
  int echoAt = 1;
};

// Options of the emulated chip, parsed from the text after "emulator:".
struct EmulatorOptions {
  enum Fault { None, NoChipHigh, NoChipLow, NoCable, WrongAddress } fault = None;
  std::string chipFile;  // memory persisted here when not empty
  // Image position (0..69) or kConfigPosition -> pulses needed before the word takes.
  std::map<int, int> pulsesNeeded;
  // Image position or kConfigPosition -> mask of bits that stay 1.
  std::map<int, std::uint16_t> stuckBits;
  UsbEmulation usb;
};

// Position number that stands for the configuration word in the maps above.
constexpr int kConfigPosition = kConfigWordPosition;

// Parses "CHIPFILE,fault=...,pulses=POS:N,stuck=POS:BIT,usb=MODEL,usb-..." (every item optional).
// Returns false with error for an item it does not understand.
bool ParseEmulatorOptions(const std::string& text, EmulatorOptions& options, std::string& error);

// What the emulated chip remembers: program memory 0000..007F with the image
// at 0010..0055, and the configuration region 2000..2007 with the
// configuration word at 2007. Words are 14 bits.
struct ChipMemory {
  static constexpr std::uint16_t kBlankImageWord = 0x34FF;
  static constexpr std::uint16_t kBlankWord = 0x3FFF;
  static constexpr int kImageFirstAddress = 16;
  static constexpr int kProgramWords = 128;
  static constexpr int kConfigRegion = 0x2000;
  static constexpr int kConfigRegionWords = 8;

  ChipMemory();  // a blank chip
  std::array<std::uint16_t, kProgramWords> program{};
  std::array<std::uint16_t, kConfigRegionWords> config{};
  bool operator==(const ChipMemory& o) const { return program == o.program && config == o.config; }
};

// The chip file: a small text file with one word per line, "AAAA WWWW"
// (exactly four hex digits of address, one space, four hex digits of word,
// then LF or CR LF); a line starting with '#' is a comment, an empty line is
// skipped. Every word of the memory is written.
std::string FormatChipFile(const ChipMemory& memory);
// Parses a chip file over memory (addresses not named keep their words).
// Anything else than the format above, an address outside the memory, a
// word above 3FFF or an address given twice is refused with the line number
// in error; memory is then unchanged.
bool ParseChipFile(const std::string& text, ChipMemory& memory, std::string& error);
// A chip file is about 1.5 KiB; anything this large is not one.
constexpr std::size_t kMaxChipFileBytes = 64 * 1024;

class EmulatorDriver : public PortDriver {
 public:
  static constexpr std::uint16_t kBlankImageWord = ChipMemory::kBlankImageWord;
  static constexpr std::uint16_t kBlankWord = ChipMemory::kBlankWord;
  static constexpr int kImageFirstAddress = ChipMemory::kImageFirstAddress;
  static constexpr int kProgramWords = ChipMemory::kProgramWords;
  static constexpr int kConfigRegion = ChipMemory::kConfigRegion;
  static constexpr int kConfigWordAddress = 0x2007;
  static constexpr int kConfigRegionWords = ChipMemory::kConfigRegionWords;

  explicit EmulatorDriver(EmulatorOptions options = {});
  ~EmulatorDriver() override;

  // Creates the driver and loads its chip file (a missing file is a blank chip);
  // the file is read again at the start of every chip sequence, as a socket
  // takes another chip.
  // Returns nullptr with error when the options are not valid or the file
  // cannot be read or parsed.
  static std::unique_ptr<EmulatorDriver> create(const std::string& optionsText, std::string& error);

  std::uint8_t read(std::uint16_t address) override;
  void write(std::uint16_t address, std::uint8_t value) override;
  std::string name() const override { return "emulated chip"; }
  PortCapabilities capabilities() const override {
    PortCapabilities c;
    c.emulated = true;
    return c;
  }
  void waited(int ms) override;
  // With a chip file: takes the chip now in the socket, read from the file
  // (a missing file is a blank chip). A file that cannot be read or parsed is
  // an empty socket (every word reads 0000) until the next sequence, and
  // problem() says why. Burnt words the file could not take keep the chip.
  void sequenceStarts() override;
  // Why the chip file could not be read at the last sequence start, else why
  // burnt words could not be written to it (empty again once a save succeeds).
  std::string problem() const override {
    return loadProblem_.empty() ? saveProblem_ : loadProblem_;
  }
  // The pins take the value; nothing else happens, as the process is ending.
  bool writeInSignalHandler(std::uint16_t /*address*/, std::uint8_t value) override {
    lines_ = value;
    return true;
  }

  // Time source in nanoseconds; steady_clock unless replaced.
  void setClock(std::function<std::int64_t()> nowNs);
  // Time passes only through waited(ms): tests need not sleep.
  void useWaitClock();

  // Faults can be changed at any time (tests).
  void setFault(EmulatorOptions::Fault fault) { options_.fault = fault; }
  void setPulsesNeeded(int position, int pulses) { options_.pulsesNeeded[position] = pulses; }
  void setStuckBit(int position, int bit) {
    options_.stuckBits[position] |= static_cast<std::uint16_t>(1u << bit);
  }
  const EmulatorOptions& options() const { return options_; }

  // Memory by image position (0..69) and the configuration word.
  std::uint16_t imageWord(int position) const;
  void setImageWord(int position, std::uint16_t word);
  std::uint16_t configWord() const { return memory_.config[kConfigWordAddress - kConfigRegion]; }
  void setConfigWord(std::uint16_t word) {
    memory_.config[kConfigWordAddress - kConfigRegion] = word;
  }

  // What the chip went through, for tests.
  bool inProgrammingMode() const { return progMode_; }
  bool powered() const { return supplyOn(); }
  int programmingModeEntries() const { return entries_; }
  // Programming pulses (Begin/End pairs of at least 1 ms) at an image position
  // or kConfigPosition since the last resetCounters().
  int pulses(int position) const;
  int totalPulses() const { return totalPulses_; }
  // Begin/End pairs that were too short to burn anything.
  int shortPulses() const { return shortPulses_; }
  // Frames with a start or stop bit that was not 0, and commands not understood.
  int protocolErrors() const { return protocolErrors_; }
  void resetCounters();

  // Writes the memory to the chip file (FormatChipFile) through
  // AtomicWriteFile. Done after a burn when the chip leaves programming mode,
  // and when the driver is destroyed.
  bool save(const std::string& path, std::string& error) const;

 private:
  enum class Phase { Command, HostFrame, ChipFrame };

  bool supplyOn() const { return (lines_ & 0x10) == 0; }
  bool vppOn() const { return (lines_ & 0x08) != 0; }
  bool prgSelected() const { return (lines_ & 0x80) == 0; }
  bool clockHigh() const { return (lines_ & 0x20) != 0 && (lines_ & 0x02) != 0; }
  bool hostDrivesData() const { return (lines_ & 0x04) != 0; }
  bool readLine() const;
  // The fault in effect: an unreadable chip file leaves the socket empty.
  EmulatorOptions::Fault fault() const;
  std::int64_t now() const;
  std::uint16_t* wordAt(int address);
  int positionOf(int address) const;
  void fallingEdge(bool bit);
  void risingEdge();
  void command(int code);
  void endProgramming();
  void leaveProgrammingMode();

  EmulatorOptions options_;
  ChipMemory memory_;
  std::string saveProblem_;
  std::string loadProblem_;
  std::function<std::int64_t()> clock_;
  std::int64_t waitClockNs_ = 0;
  bool waitClock_ = false;

  std::uint8_t lines_ = 0xFF;
  bool progMode_ = false;
  int address_ = 0;
  std::uint16_t latch_ = kBlankWord;
  Phase phase_ = Phase::Command;
  int bitCount_ = 0;
  std::uint32_t shift_ = 0;
  int pendingCommand_ = 0;
  bool chipDrives_ = false;
  bool chipBit_ = false;
  std::uint16_t outWord_ = 0;
  bool programming_ = false;
  std::int64_t beginNs_ = 0;
  bool dirty_ = false;

  std::map<int, int> pulses_;
  std::map<int, int> takePulses_;  // per address, never reset: how often it was pulsed
  int totalPulses_ = 0;
  int shortPulses_ = 0;
  int protocolErrors_ = 0;
  int entries_ = 0;
};

}  // namespace zk7
