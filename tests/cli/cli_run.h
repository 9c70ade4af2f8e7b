// Runs zk7prog commands in-process with captured streams.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"

struct CliResult {
  int code;
  std::string out;
  std::string err;
};

inline CliResult RunCli(const std::vector<std::string>& args, char separator = '.') {
  std::ostringstream out, err;
  zk7cli::Io io{out, err, false, separator};
  const int code = zk7cli::Run(args, io);
  return {code, out.str(), err.str()};
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
