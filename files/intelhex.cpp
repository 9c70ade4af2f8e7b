// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/intelhex.h"

#include "files/atomicfile.h"
#include "model/format.h"
#include "model/hex.h"

namespace zk7 {

namespace {

constexpr unsigned kConfigLoadAddress = 0x400E;  // word address 0x2007
constexpr int kBytesPerRecord = 16;

void AppendWordBytes(std::string& digits, std::int16_t word) {
  const auto w = static_cast<std::uint16_t>(word);
  digits += Hex2(w & 0xFFu);
  digits += Hex2(w >> 8);
}

std::string Hex4(unsigned value) {
  return Hex2((value >> 8) & 0xFFu) + Hex2(value & 0xFFu);
}

// ":" count address "00" data checksum, CR LF.
void AppendDataRecord(std::string& out, int count, unsigned address, const std::string& digits) {
  out += ':';
  out += Hex2(static_cast<unsigned>(count));
  out += Hex4(address);
  out += "00";
  out += digits;
  out += Hex2(HexRecordChecksum(count, address, digits));
  out += "\r\n";
}

}  // namespace

std::uint8_t HexRecordChecksum(int count, unsigned address, const std::string& dataText) {
  unsigned sum = static_cast<unsigned>(count) + ((address >> 8) & 0xFFu) + (address & 0xFFu);
  for (std::size_t i = 0; i + 1 < dataText.size(); i += 2)
    sum += static_cast<unsigned>(HexToValue(std::string_view(dataText).substr(i, 2)));
  return static_cast<std::uint8_t>((0x100u - (sum & 0xFFu)) & 0xFFu);
}

std::string WriteIntelHex(const std::array<std::int16_t, kImageSize>& words,
                          std::int16_t configWord) {
  std::string out = ":020000040000FA\r\n";
  const int bytes = 2 * static_cast<int>(words.size());
  const int full = bytes / kBytesPerRecord;
  const int rest = bytes % kBytesPerRecord;
  constexpr int kWordsPerRecord = kBytesPerRecord / 2;
  for (int k = 0; k <= full; ++k) {
    const int count = k < full ? kBytesPerRecord : rest;
    if (count == 0) break;
    std::string digits;
    for (int w = 0; w < count / 2; ++w)
      AppendWordBytes(digits, words[static_cast<std::size_t>(k * kWordsPerRecord + w)]);
    AppendDataRecord(out, count, static_cast<unsigned>(k * kBytesPerRecord), digits);
  }
  // The high byte of the configuration word is always 0x3F.
  AppendDataRecord(out, 2, kConfigLoadAddress,
                   Hex2(static_cast<unsigned>(configWord) & 0xFFu) + "3F");
  out += ":00000001FF\r\n";
  return out;
}

bool WriteIntelHexFile(const std::string& path, const std::array<std::int16_t, kImageSize>& words,
                       std::int16_t configWord, std::string& error) {
  return AtomicWriteFile(path, WriteIntelHex(words, configWord), error);
}

}  // namespace zk7
