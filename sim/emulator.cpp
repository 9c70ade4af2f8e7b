// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/emulator.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "files/atomicfile.h"
#include "model/registers.h"
#include "port/protocol.h"
#include "sim/ftdi_device.h"

namespace zk7 {
namespace {

// Data-register bits as the adapter wires them.
constexpr std::uint8_t kDataOut = 0x01;
constexpr std::uint8_t kStatusIdle = kStatusConnected;
constexpr std::uint8_t kStatusReadLine = 0x40;
constexpr std::uint8_t kStatusNoCable = 0x30;
constexpr std::uint8_t kStatusNothing = 0xFF;
constexpr std::int64_t kBurnTimeNs = 1000000;  // a pulse of at least 1 ms burns

constexpr int kFrameClocks = 16;
constexpr int kCommandBits = 6;
constexpr int kOtherPosition = -2;

bool ParseInt(const std::string& text, int& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < -1000000 || v > 1000000) return false;
  value = static_cast<int>(v);
  return true;
}

bool ParsePosition(const std::string& text, int& position) {
  if (text == "config") {
    position = kConfigPosition;
    return true;
  }
  return ParseInt(text, position) && position >= 0 && position < kImageSize;
}

// A transfer number of the simulated adapter: 1..1000000.
bool ParseTransfer(const std::string& text, int& n) {
  return ParseInt(text, n) && n >= 1;
}

// Splits "A:B" into two parts; false without a colon.
bool SplitPair(const std::string& text, std::string& a, std::string& b) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return false;
  a = text.substr(0, colon);
  b = text.substr(colon + 1);
  return true;
}

}  // namespace

bool ParseEmulatorOptions(const std::string& text, EmulatorOptions& options, std::string& error) {
  EmulatorOptions result;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const auto eq = item.find('=');
    if (eq == std::string::npos) {
      if (!result.chipFile.empty()) {
        error =
            "emulator: more than one chip file given ('" + result.chipFile + "', '" + item + "')";
        return false;
      }
      result.chipFile = item;
      continue;
    }
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    std::string a, b;
    if (key == "fault") {
      if (value == "nochip-high") {
        result.fault = EmulatorOptions::NoChipHigh;
      } else if (value == "nochip-low") {
        result.fault = EmulatorOptions::NoChipLow;
      } else if (value == "nocable") {
        result.fault = EmulatorOptions::NoCable;
      } else if (value == "wrongaddr") {
        result.fault = EmulatorOptions::WrongAddress;
      } else {
        error = "emulator: unknown fault '" + value +
                "' (use nochip-high, nochip-low, nocable or wrongaddr)";
        return false;
      }
    } else if (key == "pulses") {
      int position = 0, count = 0;
      if (!SplitPair(value, a, b) || !ParsePosition(a, position) || !ParseInt(b, count) ||
          count < 1 || count > 10000) {
        error = "emulator: 'pulses=" + value +
                "' is not POS:N (POS 0..69 or config, N 1..10000 pulses)";
        return false;
      }
      result.pulsesNeeded[position] = count;
    } else if (key == "stuck") {
      int position = 0, bit = 0;
      if (!SplitPair(value, a, b) || !ParsePosition(a, position) || !ParseInt(b, bit) || bit < 0 ||
          bit > 13) {
        error = "emulator: 'stuck=" + value + "' is not POS:BIT (POS 0..69 or config, BIT 0..13)";
        return false;
      }
      result.stuckBits[position] |= static_cast<std::uint16_t>(1u << bit);
    } else if (key == "usb") {
      if (!sim::FindFtdiModel(value)) {
        error = "emulator: unknown USB adapter '" + value + "' (use " + sim::FtdiModelKeys() + ")";
        return false;
      }
      result.usb.model = value;
    } else if (key == "usb-rtt") {
      double ms = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size() || !(ms > 0) ||
          ms > 1000) {
        error = "emulator: 'usb-rtt=" + value + "' is not a round trip in ms (above 0, up to 1000)";
        return false;
      }
      result.usb.roundTripMs = ms;
    } else if (key == "usb-fail" || key == "usb-unplug") {
      int n = 0;
      if (!ParseTransfer(value, n)) {
        error = "emulator: '" + item + "' is not " + key + "=N (a transfer number from 1)";
        return false;
      }
      (key == "usb-fail" ? result.usb.failAt : result.usb.unplugAt) = n;
    } else if (key == "usb-echo") {
      std::string fault = value, at = "1";
      SplitPair(value, fault, at);
      int n = 0;
      if ((fault != "late" && fault != "stuck" && fault != "lost") || !ParseTransfer(at, n)) {
        error = "emulator: 'usb-echo=" + value +
                "' is not late, stuck or lost, optionally :N (from transfer N)";
        return false;
      }
      result.usb.echo = fault == "late"    ? UsbEmulation::Late
                        : fault == "stuck" ? UsbEmulation::Stuck
                                           : UsbEmulation::Lost;
      result.usb.echoAt = n;
    } else {
      error = "emulator: unknown option '" + item + "'";
      return false;
    }
  }
  const UsbEmulation none;
  if (result.usb.model.empty() &&
      (result.usb.roundTripMs != none.roundTripMs || result.usb.failAt || result.usb.unplugAt ||
       result.usb.echo != none.echo)) {
    error = "emulator: the usb-... options need usb=MODEL (" + sim::FtdiModelKeys() + ")";
    return false;
  }
  options = std::move(result);
  return true;
}

ChipMemory::ChipMemory() {
  program.fill(kBlankWord);
  for (int i = 0; i < kImageSize; ++i) program[kImageFirstAddress + i] = kBlankImageWord;
  config.fill(kBlankWord);
}

std::string FormatChipFile(const ChipMemory& memory) {
  std::string text = "# ZK7 emulated chip: address and word in hex, image words at 0010..0055\n";
  char line[16];
  const auto append = [&](int address, std::uint16_t word) {
    std::snprintf(line, sizeof line, "%04X %04X\n", address, word);
    text += line;
  };
  for (int a = 0; a < ChipMemory::kProgramWords; ++a)
    append(a, memory.program[static_cast<std::size_t>(a)]);
  for (int k = 0; k < ChipMemory::kConfigRegionWords; ++k)
    append(ChipMemory::kConfigRegion + k, memory.config[static_cast<std::size_t>(k)]);
  return text;
}

namespace {

// Exactly four hex digits.
bool ParseHex4(std::string_view text, unsigned& value) {
  if (text.size() != 4 || !std::isxdigit(static_cast<unsigned char>(text[0]))) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + 4, value, 16);
  return ec == std::errc() && ptr == text.data() + 4;
}

}  // namespace

bool ParseChipFile(const std::string& text, ChipMemory& memory, std::string& error) {
  ChipMemory parsed = memory;
  std::map<unsigned, int> seen;  // address -> line
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    const auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    unsigned address = 0, word = 0;
    if (line.size() != 9 || line[4] != ' ' || !ParseHex4(line.substr(0, 4), address) ||
        !ParseHex4(line.substr(5), word))
      return fail("not 'AAAA WWWW' (four hex digits of address, a space, four of word)");
    if (word > ChipMemory::kBlankWord) return fail("the word is above 3FFF");
    std::uint16_t* slot = nullptr;
    if (address < ChipMemory::kProgramWords)
      slot = &parsed.program[address];
    else if (address >= ChipMemory::kConfigRegion &&
             address < ChipMemory::kConfigRegion + ChipMemory::kConfigRegionWords)
      slot = &parsed.config[address - ChipMemory::kConfigRegion];
    else
      return fail("no such address");
    const auto [it, fresh] = seen.emplace(address, number);
    if (!fresh) return fail("the address was given before, on line " + std::to_string(it->second));
    *slot = static_cast<std::uint16_t>(word);
  }
  memory = parsed;
  return true;
}

namespace {

// The chip in the socket: the file's words, a blank chip when there is no
// file yet (it is written after the first burn). False with error for a file
// that cannot be read or is not a chip file.
bool LoadChipFile(const std::string& path, ChipMemory& memory, std::string& error) {
  ChipMemory chip;
  std::string text, parseError;
  ReadError readError;
  if (ReadWholeFile(path, kMaxChipFileBytes, text, readError)) {
    if (!ParseChipFile(text, chip, parseError)) {
      error = "emulator: chip file " + path + " " + parseError;
      return false;
    }
  } else if (readError.kind != ReadError::NotFound) {
    error = "emulator: cannot read chip file " + path + ": " + readError.message;
    return false;
  }
  memory = chip;
  return true;
}

}  // namespace

EmulatorDriver::EmulatorDriver(EmulatorOptions options) : options_(std::move(options)) {}

EmulatorDriver::~EmulatorDriver() {
  if (dirty_ && !options_.chipFile.empty()) {
    std::string ignored;
    save(options_.chipFile, ignored);
  }
}

std::unique_ptr<EmulatorDriver> EmulatorDriver::create(const std::string& optionsText,
                                                       std::string& error) {
  EmulatorOptions options;
  if (!ParseEmulatorOptions(optionsText, options, error)) return nullptr;
  auto driver = std::make_unique<EmulatorDriver>(options);
  if (!options.chipFile.empty() && !LoadChipFile(options.chipFile, driver->memory_, error))
    return nullptr;
  return driver;
}

void EmulatorDriver::sequenceStarts() {
  // Burnt words the file could not take stay with the chip in the socket.
  if (options_.chipFile.empty() || dirty_) return;
  ChipMemory chip;
  if (!LoadChipFile(options_.chipFile, chip, loadProblem_)) return;  // an empty socket
  loadProblem_.clear();
  if (chip == memory_) return;  // the same chip
  memory_ = chip;
  takePulses_.clear();
}

EmulatorOptions::Fault EmulatorDriver::fault() const {
  return loadProblem_.empty() ? options_.fault : EmulatorOptions::NoChipLow;
}

void EmulatorDriver::setClock(std::function<std::int64_t()> nowNs) {
  clock_ = std::move(nowNs);
  waitClock_ = false;
}

void EmulatorDriver::useWaitClock() {
  clock_ = nullptr;
  waitClock_ = true;
}

void EmulatorDriver::waited(int ms) {
  if (ms > 0) waitClockNs_ += static_cast<std::int64_t>(ms) * 1000000;
}

std::int64_t EmulatorDriver::now() const {
  if (waitClock_) return waitClockNs_;
  if (clock_) return clock_();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool EmulatorDriver::readLine() const {
  switch (fault()) {
    case EmulatorOptions::NoChipHigh:
      return true;
    case EmulatorOptions::NoChipLow:
      return false;
    default:
      break;
  }
  if (hostDrivesData()) return (lines_ & kDataOut) != 0;
  if (progMode_ && chipDrives_) return chipBit_;
  return true;  // the released line is pulled up
}

std::uint8_t EmulatorDriver::read(std::uint16_t /*address*/) {
  switch (fault()) {
    case EmulatorOptions::NoCable:
      return kStatusNoCable;
    case EmulatorOptions::WrongAddress:
      return kStatusNothing;
    default:
      return static_cast<std::uint8_t>(kStatusIdle | (readLine() ? kStatusReadLine : 0));
  }
}

void EmulatorDriver::write(std::uint16_t /*address*/, std::uint8_t value) {
  if (options_.fault == EmulatorOptions::NoCable || options_.fault == EmulatorOptions::WrongAddress)
    return;  // nothing at the other end
  const bool wasPowered = supplyOn();
  const bool clockWasHigh = clockHigh();
  lines_ = value;
  if (fault() != EmulatorOptions::None) return;  // no chip in the socket

  if (progMode_ && !(supplyOn() && vppOn() && prgSelected())) leaveProgrammingMode();
  if (!progMode_ && !wasPowered && supplyOn() && vppOn() && prgSelected()) {
    // Programming voltage present when the supply comes up: programming mode,
    // address counter at 0, interface waiting for a command.
    progMode_ = true;
    ++entries_;
    address_ = 0;
    latch_ = kBlankWord;
    phase_ = Phase::Command;
    bitCount_ = 0;
    shift_ = 0;
    chipDrives_ = false;
    programming_ = false;
    return;
  }
  if (!progMode_) return;
  const bool high = clockHigh();
  if (!clockWasHigh && high) risingEdge();
  if (clockWasHigh && !high) fallingEdge((lines_ & kDataOut) != 0 && hostDrivesData());
}

void EmulatorDriver::risingEdge() {
  if (phase_ != Phase::ChipFrame) return;
  if (hostDrivesData()) ++protocolErrors_;  // both ends driving the data line
  // Frame bit n: start bit 0, word bits 0..13, stop bit 0.
  const int n = bitCount_;
  chipDrives_ = true;
  chipBit_ = n >= 1 && n <= 14 && ((outWord_ >> (n - 1)) & 1) != 0;
}

void EmulatorDriver::fallingEdge(bool bit) {
  switch (phase_) {
    case Phase::Command:
      if (bit) shift_ |= 1u << bitCount_;
      if (++bitCount_ == kCommandBits) {
        const int code = static_cast<int>(shift_);
        bitCount_ = 0;
        shift_ = 0;
        command(code);
      }
      break;
    case Phase::HostFrame:
      if (bit) shift_ |= 1u << bitCount_;
      if (++bitCount_ == kFrameClocks) {
        if ((shift_ & 1u) != 0 || (shift_ & 0x8000u) != 0) ++protocolErrors_;
        const auto word = static_cast<std::uint16_t>((shift_ >> 1) & 0x3FFF);
        if (pendingCommand_ == kCmdLoadConfig) address_ = kConfigRegion;
        latch_ = word;
        phase_ = Phase::Command;
        bitCount_ = 0;
        shift_ = 0;
      }
      break;
    case Phase::ChipFrame:
      if (++bitCount_ == kFrameClocks) {
        chipDrives_ = false;
        phase_ = Phase::Command;
        bitCount_ = 0;
        shift_ = 0;
      }
      break;
  }
}

void EmulatorDriver::command(int code) {
  switch (code) {
    case kCmdLoadConfig:
    case kCmdLoadData:
      pendingCommand_ = code;
      phase_ = Phase::HostFrame;
      break;
    case kCmdReadData: {
      const std::uint16_t* w = wordAt(address_);
      outWord_ = w ? *w : kBlankWord;
      phase_ = Phase::ChipFrame;
      break;
    }
    case kCmdIncrement:
      ++address_;
      if (address_ >= kConfigRegion + kConfigRegionWords) address_ = kConfigRegion;
      break;
    case kCmdBeginProgramming:
      programming_ = true;
      beginNs_ = now();
      break;
    case kCmdEndProgramming:
      endProgramming();
      break;
    default:
      ++protocolErrors_;
      break;
  }
}

void EmulatorDriver::endProgramming() {
  if (!programming_) {
    ++protocolErrors_;
    return;
  }
  programming_ = false;
  if (now() - beginNs_ < kBurnTimeNs) {
    ++shortPulses_;
    return;
  }
  const int position = positionOf(address_);
  ++pulses_[position];
  ++totalPulses_;
  std::uint16_t* w = wordAt(address_);
  if (!w) return;
  // A word that needs N pulses keeps its old bits until the N-th pulse here.
  const int taken = ++takePulses_[address_];
  const auto needed = options_.pulsesNeeded.find(position);
  if (needed != options_.pulsesNeeded.end() && taken < needed->second) return;
  std::uint16_t stuck = 0;
  const auto s = options_.stuckBits.find(position);
  if (s != options_.stuckBits.end()) stuck = s->second;
  const auto burnt = static_cast<std::uint16_t>((*w & latch_) | (*w & stuck));
  if (burnt != *w) {
    *w = burnt;
    dirty_ = true;
  }
}

void EmulatorDriver::leaveProgrammingMode() {
  progMode_ = false;
  chipDrives_ = false;
  programming_ = false;
  phase_ = Phase::Command;
  bitCount_ = 0;
  shift_ = 0;
  if (dirty_ && !options_.chipFile.empty()) {
    // A failure is kept as the driver's problem, which the port reports.
    saveProblem_.clear();
    if (save(options_.chipFile, saveProblem_)) dirty_ = false;
  }
}

std::uint16_t* EmulatorDriver::wordAt(int address) {
  if (address >= 0 && address < kProgramWords)
    return &memory_.program[static_cast<std::size_t>(address)];
  if (address >= kConfigRegion && address < kConfigRegion + kConfigRegionWords)
    return &memory_.config[static_cast<std::size_t>(address - kConfigRegion)];
  return nullptr;
}

int EmulatorDriver::positionOf(int address) const {
  if (address >= kImageFirstAddress && address < kImageFirstAddress + kImageSize)
    return address - kImageFirstAddress;
  if (address == kConfigWordAddress) return kConfigPosition;
  return kOtherPosition;
}

std::uint16_t EmulatorDriver::imageWord(int position) const {
  return memory_.program.at(static_cast<std::size_t>(kImageFirstAddress + position));
}

void EmulatorDriver::setImageWord(int position, std::uint16_t word) {
  memory_.program.at(static_cast<std::size_t>(kImageFirstAddress + position)) = word & 0x3FFF;
}

int EmulatorDriver::pulses(int position) const {
  const auto it = pulses_.find(position);
  return it == pulses_.end() ? 0 : it->second;
}

void EmulatorDriver::resetCounters() {
  pulses_.clear();
  totalPulses_ = 0;
  shortPulses_ = 0;
  protocolErrors_ = 0;
  entries_ = 0;
}

bool EmulatorDriver::save(const std::string& path, std::string& error) const {
  if (AtomicWriteFile(path, FormatChipFile(memory_), error)) return true;
  error =
      "emulator: cannot write chip file " + path + ": " + error + "; the burnt words are not saved";
  return false;
}

}  // namespace zk7
