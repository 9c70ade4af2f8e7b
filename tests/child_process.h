// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a built program as a child process with a port trace, sends it a signal
// once the trace has a given line (the middle of a burn), and reports how it
// ended, its stderr and the last data-register write it left; or stops it
// there and continues it. Also reads the traces and files such runs leave.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
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
inline std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value of a trace's last "W" line; -1 without one.
inline int LastWrite(const std::string& trace) {
  const auto w = trace.rfind("\nW ");
  return w == std::string::npos
             ? -1
             : std::stoi(trace.substr(trace.find(' ', w + 3) + 1, 2), nullptr, 16);
}

// env holds "NAME=VALUE" additions; sig goes afterMs after the trace has the
// line `when`, to the child or to the process whom picks by the child's pid.
// Waits at most 20 s, then kills the child. Once it has ended, waits up to
// settleMs for the trace to end unpowered (written by its guard).
inline ChildEnding RunUntilSignalled(std::vector<std::string> argv, std::vector<std::string> env,
                                     const std::string& trace, const std::string& when, int sig,
                                     int afterMs = 0, int settleMs = 0,
                                     const std::function<pid_t(pid_t)>& whom = {}) {
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
      const pid_t target = whom ? whom(pid) : pid;
      sent = target > 0 && kill(target, sig) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int ms = 0;; ++ms) {
    end.trace = ReadText(trace);
    end.lastWrite = LastWrite(end.trace);
    if (ms >= settleMs || (end.lastWrite & 0x98) == 0x90) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  end.err = ReadText(trace + ".err");
  std::remove(trace.c_str());
  std::remove((trace + ".err").c_str());
  return end;
}

struct StopEnding {
  bool stopped = false;
  int status = 0;  // as waitpid gives it at the end
  std::string traceAtStop, traceAtEnd, err;
  // VPP, VDD and nPRG were off when the process stopped.
  bool unpoweredAtStop() const { return stopped && (LastWrite(traceAtStop) & 0x98) == 0x90; }
};

// Runs argv (env added) in a process group of its own with a port trace,
// sends it SIGTSTP once the trace has `when`, calls atStop once it has
// stopped, continues it (then sends endSig, for a program that does not end
// by itself) and waits for its end, 20 s at most. Its standard input gets
// input at once, or once it was continued (inputAfterStop).
inline StopEnding StopAndContinue(std::vector<std::string> argv, std::vector<std::string> env,
                                  const std::string& trace, const std::string& when,
                                  const std::string& input = "", bool inputAfterStop = false,
                                  int endSig = 0, const std::function<void()>& atStop = {}) {
  std::remove(trace.c_str());
  env.push_back("ZK7_PORT_TRACE=" + trace);
  int in[2];
  if (pipe(in) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // not orphaned: its parent is in another group of the same session
    for (std::string& e : env) putenv(e.data());
    dup2(in[0], STDIN_FILENO);
    close(in[1]);
    if (!freopen((trace + ".err").c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout))
      _exit(126);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  auto giveInput = [&] {
    (void)!write(in[1], input.data(), input.size());
    close(in[1]);
  };
  if (!inputAfterStop) giveInput();
  StopEnding end;
  bool sent = false;
  for (int ms = 0;; ++ms) {
    const pid_t got = waitpid(pid, &end.status, WNOHANG | WUNTRACED);
    if (got == pid && WIFSTOPPED(end.status)) {
      end.stopped = true;
      end.traceAtStop = ReadText(trace);
      if (atStop) atStop();
      kill(pid, SIGCONT);
      if (inputAfterStop) giveInput();
      if (endSig) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, endSig);
      }
      continue;
    }
    if (got == pid) break;
    if (ms > 20000) kill(pid, SIGKILL);
    if (!sent && ReadText(trace).find(when) != std::string::npos) sent = kill(pid, SIGTSTP) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  end.traceAtEnd = ReadText(trace);
  end.err = ReadText(trace + ".err");
  std::remove(trace.c_str());
  std::remove((trace + ".err").c_str());
  return end;
}
