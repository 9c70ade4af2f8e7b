// Runs a built program as a child process with a port trace, sends it a signal
// once the trace shows a given line (the middle of a burn), and reports how it
// ended and the last data-register write it left.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct ChildEnding {
  bool signalled = false;
  int signal = 0;      // when signalled
  int exitCode = -1;   // otherwise
  std::string err;     // what the program wrote on stderr
  int lastWrite = -1;  // value of the trace's last "W" line
};

// Starts program with args and environment additions ("NAME=VALUE", plus
// ZK7_PORT_TRACE=trace), sends sig afterMs after the trace has the line
// `when`, and waits for the end (at most 20 s, then SIGKILL).
inline ChildEnding RunUntilSignalled(const std::string& program, std::vector<std::string> args,
                                     const std::vector<std::string>& env, const std::string& trace,
                                     const std::string& when, int sig, int afterMs = 0) {
  const std::string errPath = trace + ".err";
  std::remove(trace.c_str());
  args.insert(args.begin(), program);
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit noCore{0, 0};  // crash signals need not leave a core file
    setrlimit(RLIMIT_CORE, &noCore);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    setenv("ZK7_PORT_TRACE", trace.c_str(), 1);
    if (!freopen(errPath.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(126);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ChildEnding end;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool sent = false;
  int status = 0;
  std::string seen;  // the trace's text not yet looked at, from its last complete line on
  std::streamoff offset = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    if (std::ifstream in{trace}; !sent && in.seekg(offset)) {
      std::ostringstream more;
      more << in.rdbuf();
      offset += static_cast<std::streamoff>(more.str().size());
      seen += more.str();
      for (std::size_t eol; !sent && (eol = seen.find('\n')) != std::string::npos;) {
        if (seen.compare(0, eol, when) == 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
          sent = kill(pid, sig) == 0;
        }
        seen.erase(0, eol + 1);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  end.signalled = WIFSIGNALED(status);
  end.signal = end.signalled ? WTERMSIG(status) : 0;
  end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream errIn(errPath);
  std::ostringstream err;
  err << errIn.rdbuf();
  end.err = err.str();
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("W ", 0) == 0)
      end.lastWrite = std::stoi(line.substr(line.rfind(' ') + 1), nullptr, 16);
  std::remove(errPath.c_str());
  std::remove(trace.c_str());
  return end;
}

// VPP off, VDD off, nPRG off: the chip is out of programming mode and unpowered.
inline bool Unpowered(int data) {
  return data >= 0 && (data & 0x08) == 0 && (data & 0x10) != 0 && (data & 0x80) != 0;
}
