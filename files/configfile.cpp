// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/configfile.h"

#include <algorithm>

#include "files/atomicfile.h"
#include "files/devicefile.h"
#include "files/intelhex_reader.h"
#include "model/format.h"
#include "model/image.h"

namespace zk7 {

namespace {

constexpr std::int16_t kDefaultConfigWord = 0x0007;

ConfigurationFile FromHex(const IntelHexContents& hex) {
  ConfigurationFile file;
  file.format = ConfigurationFile::IntelHex;
  for (int i = 0; i < kImageSize; ++i) file.registers.setEntry(i, hex.image[i]);
  file.configWordDefaulted = !hex.configLow;
  file.registers.setConfigWord(hex.configLow ? *hex.configLow : kDefaultConfigWord);
  return file;
}

}  // namespace

bool LooksLikeIntelHex(std::string_view content) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  const auto first = content.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && content[first] == ':';
}

std::string ChecksumNote(const ConfigurationFile& file) {
  if (file.format != ConfigurationFile::IntelHex) return "";
  RegisterSet built = file.registers;
  MemoryImage image;
  BuildMemoryImage(built, image);
  const auto word = [](int byte) { return "34" + Hex2(static_cast<unsigned>(byte) & 0xFF); };
  if (built.ImageChecksum() == file.registers.ImageChecksum()) return "";
  return "the file's checksum word " + word(file.registers.ImageChecksum()) +
         " does not match its contents; " + word(built.ImageChecksum()) + " will be burnt";
}

bool ParseConfigurationFile(const std::string& content, ConfigurationFile& out, std::string& error,
                            char decimalSeparator) {
  if (LooksLikeIntelHex(content)) {
    IntelHexContents hex;
    if (!ParseIntelHex(content, hex, error)) return false;
    out = FromHex(hex);
    return true;
  }
  DeviceFileContents dvs;
  if (!ParseDeviceFile(content, dvs, error, decimalSeparator)) return false;
  ConfigurationFile file;
  file.registers = dvs.registers;
  file.oldVersion = dvs.oldVersion;
  if (!dvs.oldVersion) {
    file.foscText = dvs.foscText;
    file.foscHz = dvs.foscHz;
  }
  out = file;
  return true;
}

bool ReadConfigurationFile(const std::string& path, ConfigurationFile& out, std::string& error,
                           char decimalSeparator) {
  std::string content;
  if (!SayInterruptedWriteOnFailure(
          path,
          ReadWholeFile(path, std::max(kMaxDeviceFileBytes, kMaxIntelHexBytes), content, error) &&
              ParseConfigurationFile(content, out, error, decimalSeparator),
          error))
    return false;
  out.interruptedWriteNote = InterruptedWriteNote(path);
  return true;
}

bool ReadIntelHexConfiguration(const std::string& path, ConfigurationFile& out,
                               std::string& error) {
  IntelHexContents hex;
  if (!ReadIntelHexFile(path, hex, error)) return false;
  out = FromHex(hex);
  out.interruptedWriteNote = InterruptedWriteNote(path);
  return true;
}

}  // namespace zk7
