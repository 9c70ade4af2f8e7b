// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Runs zk7prog commands in-process with captured streams, in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "files/atomicfile.h"
#include "files/devicefile.h"
#include "support/temp_dir.h"

struct CliResult {
  int code;
  std::string out;
  std::string err;
};

// input stands for standard input.
inline CliResult RunCli(const std::vector<std::string>& args, char separator = '.',
                        const std::string& input = "") {
  std::ostringstream out, err;
  std::istringstream in(input);
  zk7cli::Io io{out, err, false, separator, &in, false};
  const int code = zk7cli::Run(args, io);
  return {code, out.str(), err.str()};
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The run ended with code and text (its out, err or both) holds part; a
// failure says which of the two was wrong and shows both streams.
inline ::testing::AssertionResult ExitsSaying(const CliResult& r, int code, const std::string& text,
                                              const std::string& part) {
  if (r.code != code)
    return ::testing::AssertionFailure() << "exit code " << r.code << ", not " << code
                                         << "\nout: " << r.out << "\nerr: " << r.err;
  if (!Contains(text, part))
    return ::testing::AssertionFailure()
           << "'" << part << "' not said\nout: " << r.out << "\nerr: " << r.err;
  return ::testing::AssertionSuccess();
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zk7::SetDefaultRegisters(defaults_);
    zk7::BuildMemoryImage(defaults_, image_);
  }
  std::string Path(const std::string& name) const { return tmp_.path(name); }
  std::string Read(const std::string& name) const {
    std::string content, error;
    EXPECT_TRUE(zk7::ReadWholeFile(Path(name), 1 << 20, content, error)) << name << ": " << error;
    return content;
  }
  void Write(const std::string& name, const std::string& content) const {
    std::string error;
    ASSERT_TRUE(zk7::AtomicWriteFile(Path(name), content, error)) << error;
  }
  void WriteDvs(const std::string& name, zk7::RegisterSet rs) const {
    zk7::MemoryImage image;
    zk7::BuildMemoryImage(rs, image);
    Write(name, zk7::FormatDeviceFile(image, rs.ConfigWord(), "4000"));
  }

  TempDir tmp_;
  const std::string dir_ = tmp_.path();
  zk7::RegisterSet defaults_;  // checksum built
  zk7::MemoryImage image_;
};
