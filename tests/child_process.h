// Runs a built program as a child process with a port trace, sends it a signal
// once the trace has a given line (the middle of a burn), and reports how it
// ended, its stderr and the last data-register write it left.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct ChildEnding {
  int status = 0;      // as waitpid gives it
  std::string err;     // stderr
  int lastWrite = -1;  // value of the trace's last "W" line
  std::string trace;
  // Ended by sig with VPP, VDD and nPRG off.
  bool unpoweredAfter(int sig) const {
    return WIFSIGNALED(status) && WTERMSIG(status) == sig && (lastWrite & 0x98) == 0x90;
  }
};

inline std::string ReadText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// env holds "NAME=VALUE" additions; sig goes afterMs after the trace has the
// line `when`. Waits at most 20 s, then kills the child. Once it has ended,
// waits up to settleMs for the trace to end unpowered (written by its guard).
inline ChildEnding RunUntilSignalled(std::vector<std::string> argv, std::vector<std::string> env,
                                     const std::string& trace, const std::string& when, int sig,
                                     int afterMs = 0, int settleMs = 0) {
  std::remove(trace.c_str());
  env.push_back("ZK7_PORT_TRACE=" + trace);
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    for (std::string& e : env) putenv(e.data());
    if (!freopen((trace + ".err").c_str(), "w", stderr)) _exit(126);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ChildEnding end;
  bool sent = false;
  for (int ms = 0; waitpid(pid, &end.status, WNOHANG) == 0; ++ms) {
    if (ms > 20000) kill(pid, SIGKILL);
    if (!sent && ReadText(trace).find("\n" + when + "\n") != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
      sent = kill(pid, sig) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int ms = 0;; ++ms) {
    end.trace = ReadText(trace);
    if (const auto w = end.trace.rfind("\nW "); w != std::string::npos)
      end.lastWrite = std::stoi(end.trace.substr(end.trace.find(' ', w + 3) + 1, 2), nullptr, 16);
    if (ms >= settleMs || (end.lastWrite & 0x98) == 0x90) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  end.err = ReadText(trace + ".err");
  std::remove(trace.c_str());
  std::remove((trace + ".err").c_str());
  return end;
}
