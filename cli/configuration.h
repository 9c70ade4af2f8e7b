// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration a zk7prog command works on (a device file, a HEX file or
// the defaults) and writing one out as a device file or a HEX export.
#pragma once

#include <cstdint>
#include <string>

#include "cli/command_table.h"
#include "model/image.h"
#include "model/registers.h"

namespace zk7cli {

constexpr const char* kDefaultFoscText = "4000";

struct Configuration {
  zk7::RegisterSet regs;
  zk7::MemoryImage image;
  std::string foscText = kDefaultFoscText;
  double foscHz = 4e6;
  bool foscKnown = true;  // false when the file carries no frequency (HEX, old device file)
};
// Loads path (or the defaults when path is empty), a device file or an Intel
// HEX file by content, and builds the image, as the load command of the
// windows does. False after printing the error.
bool LoadConfiguration(Io& io, const std::string& path, Configuration& config);

// Extension in lower case without the dot ("" when none).
std::string Extension(const std::string& path);
// Whether path ends in .dvs or .hex (either case), the two a configuration is written as.
bool HasConfigurationExtension(const std::string& path);
// The exit code after writing out: a failure said, or the copy an earlier
// interrupted write left beside it (files/atomicfile.h) said as a warning.
int Written(Io& io, const std::string& out, bool ok, const std::string& error);
// Writes image and configWord to out as a device file (.dvs, with foscText)
// or an Intel HEX export (.hex); the exit code, after saying why it failed.
int WriteConfigurationAs(Io& io, const std::string& out, const zk7::MemoryImage& image,
                         std::int16_t configWord, const std::string& foscText);

}  // namespace zk7cli
