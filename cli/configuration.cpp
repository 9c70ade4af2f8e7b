// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/configuration.h"

#include <cctype>
#include <ostream>

#include "files/atomicfile.h"
#include "files/configfile.h"
#include "files/devicefile.h"
#include "files/intelhex.h"

namespace zk7cli {

bool LoadConfiguration(Io& io, const std::string& path, Configuration& config) {
  if (path.empty()) {
    zk7::SetDefaultRegisters(config.regs);
  } else {
    zk7::ConfigurationFile file;
    std::string error;
    if (!zk7::ReadConfigurationFile(path, file, error, io.decimalSeparator)) {
      Fail(io, "cannot load " + path + ": " + error, kExitUsage);
      return false;
    }
    config.regs = file.registers;
    config.foscKnown = file.foscText.has_value();
    if (file.oldVersion)
      io.err << kProgramName << ": " << path
             << ": file is old version, Fosc frequency was not loaded; using " << kDefaultFoscText
             << " kHz\n";
    if (file.configWordDefaulted)
      io.err << kProgramName << ": " << path << ": " << zk7::ConfigWordDefaultedNote() << "\n";
    if (const std::string note = zk7::ChecksumNote(file); !note.empty())
      io.err << kProgramName << ": " << path << ": " << note << "\n";
    if (!file.interruptedWriteNote.empty())
      io.err << kProgramName << ": warning: " << file.interruptedWriteNote << "\n";
    if (file.foscText) {
      config.foscText = *file.foscText;
      config.foscHz = file.foscHz;
    }
  }
  zk7::BuildMemoryImage(config.regs, config.image);
  return true;
}

std::string Extension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool HasConfigurationExtension(const std::string& path) {
  const std::string ext = Extension(path);
  return ext == "dvs" || ext == "hex";
}

int Written(Io& io, const std::string& out, bool ok, const std::string& error) {
  if (!ok) return Fail(io, "cannot write " + out + ": " + error, kExitUsage);
  if (const std::string note = zk7::InterruptedWriteNote(out); !note.empty())
    io.err << kProgramName << ": warning: " << note << '\n';
  return kExitOk;
}

int WriteConfigurationAs(Io& io, const std::string& out, const zk7::MemoryImage& image,
                         std::int16_t configWord, const std::string& foscText) {
  std::string error;
  const bool ok = Extension(out) == "dvs"
                      ? zk7::WriteDeviceFile(out, image, configWord, foscText, error)
                      : zk7::WriteIntelHexFile(out, image.ProgramImage, configWord, error);
  return Written(io, out, ok, error);
}

}  // namespace zk7cli
