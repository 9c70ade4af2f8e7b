// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a configuration: a device file (*.dvs) or an Intel HEX file,
// told apart by content, so every command that takes a configuration file
// takes either.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/registers.h"

namespace zk7 {

struct ConfigurationFile {
  enum Format { DeviceFile, IntelHex } format = DeviceFile;
  // Registers, user memory and the checksum as the file holds them (the image
  // build recomputes the checksum), and ConfigWord.
  RegisterSet registers;
  // The frequency line of a device file and its value in Hz; none for an
  // old-version device file or a HEX file (HEX carries no frequency).
  std::optional<std::string> foscText;
  double foscHz = 0;
  bool oldVersion = false;           // a device file without its frequency line
  bool configWordDefaulted = false;  // a HEX file without the configuration word: ConfigWord 0x0007
  // Where an interrupted write left the file's earlier contents (files/atomicfile.h); "" for none.
  std::string interruptedWriteNote;
};

// True when the first character that is not blank (nor a byte-order mark) is ':'.
bool LooksLikeIntelHex(std::string_view content);

// The sentence the window and the command line show for a HEX file without
// the configuration word.
inline const char* ConfigWordDefaultedNote() {
  return "The HEX file holds no configuration word; Config Word is the default 0x0007.";
}

// For a HEX file whose image checksum word (position 69) disagrees with the
// words before it: "the file's checksum word 34F3 does not match its
// contents; 34FC will be burnt" (the image build recomputes it, as for a
// device file). Empty when it agrees, and for a device file.
std::string ChecksumNote(const ConfigurationFile& file);

// Parses a device file or a HEX file, all or nothing (out is assigned only on
// success). decimalSeparator is accepted beside "." in a device file's frequency.
bool ParseConfigurationFile(const std::string& content, ConfigurationFile& out, std::string& error,
                            char decimalSeparator = '.');
// Reads at most a device file's or HEX file's size bound and parses it.
bool ReadConfigurationFile(const std::string& path, ConfigurationFile& out, std::string& error,
                           char decimalSeparator = '.');
// Reads a HEX file only (the window's import); a device file is refused.
bool ReadIntelHexConfiguration(const std::string& path, ConfigurationFile& out, std::string& error);

}  // namespace zk7
