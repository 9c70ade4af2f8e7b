// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>

#include "files/atomicfile.h"
#include "port/watch.h"

namespace zk7 {
namespace {

struct SignalRow {
  int sig;
  const char* name;
  bool crash;  // raised by a fault in the process itself
};

// Every catchable signal whose default action ends the process, beside the
// real-time ones (SIGRTMIN..SIGRTMAX, known only at run time).
const SignalRow kSignals[] = {
    {SIGHUP, "SIGHUP", false},       {SIGINT, "SIGINT", false},       {SIGQUIT, "SIGQUIT", false},
    {SIGTERM, "SIGTERM", false},     {SIGPIPE, "SIGPIPE", false},     {SIGUSR1, "SIGUSR1", false},
    {SIGUSR2, "SIGUSR2", false},     {SIGALRM, "SIGALRM", false},     {SIGXCPU, "SIGXCPU", false},
    {SIGXFSZ, "SIGXFSZ", false},     {SIGVTALRM, "SIGVTALRM", false}, {SIGPROF, "SIGPROF", false},
    {SIGPOLL, "SIGPOLL", false},     {SIGPWR, "SIGPWR", false},
#ifdef SIGSTKFLT
    {SIGSTKFLT, "SIGSTKFLT", false},
#endif
    {SIGSEGV, "SIGSEGV", true},      {SIGBUS, "SIGBUS", true},        {SIGFPE, "SIGFPE", true},
    {SIGILL, "SIGILL", true},        {SIGABRT, "SIGABRT", true},      {SIGSYS, "SIGSYS", true},
    {SIGTRAP, "SIGTRAP", true},
};

static_assert(std::atomic<int>::is_always_lock_free, "the handlers need lock-free atomics");

constexpr int kEnding = -1;    // gFlows: the process is ending, no flow starts
constexpr int kStopping = -2;  // gFlows: the process is stopping; a flow starts after it

// Brackets open (flows, chip sequences), or kEnding / kStopping.
std::atomic<int> gFlows{0};
// The first termination signal that arrived.
std::atomic<int> gPending{0};
// A stop request (SIGTSTP) held until the brackets have closed.
std::atomic<int> gStopPending{0};
std::atomic<bool> gStopAnnounced{false};
// This thread's open brackets and whether it had SIGTTIN/SIGTTOU blocked before.
thread_local int tDepth = 0;
thread_local sigset_t tTerminalSignalsBefore;

// The real-time signals' names, made before any handler can need them.
constexpr int kMaxRealTime = 64;
char gRealTimeNames[kMaxRealTime][16];
std::atomic<bool> gRealTimeNamed{false};

void NameRealTimeSignals() {
  if (gRealTimeNamed.load()) return;
  for (int sig = SIGRTMIN; sig <= SIGRTMAX && sig - SIGRTMIN < kMaxRealTime; ++sig) {
    char* name = gRealTimeNames[sig - SIGRTMIN];
    const bool max = sig == SIGRTMAX;
    const char* base = max ? "SIGRTMAX" : "SIGRTMIN";
    std::strcpy(name, base);
    if (int n = sig - SIGRTMIN; !max && n > 0) {
      char digits[8];
      int k = 0;
      for (; n > 0; n /= 10) digits[k++] = static_cast<char>('0' + n % 10);
      std::size_t at = std::strlen(name);
      name[at++] = '+';
      while (k > 0) name[at++] = digits[--k];
      name[at] = '\0';
    }
  }
  gRealTimeNamed.store(true);
}

bool IsRealTime(int sig) {
  return sig >= SIGRTMIN && sig <= SIGRTMAX && sig - SIGRTMIN < kMaxRealTime;
}
int gPipe[2] = {-1, -1};
IdleTermination gIdle = IdleTermination::EndAtOnce;
char gProgram[64] = "zk7";
std::terminate_handler gPreviousTerminate = nullptr;
// Crash handlers run here, so that a stack overflow can still be reported.
alignas(16) char gAltStack[64 * 1024];

// Appends text to buf (async-signal-safe).
void Append(char* buf, std::size_t size, std::size_t& used, const char* text) {
  while (*text && used + 1 < size) buf[used++] = *text++;
  buf[used] = '\0';
}

void SayEnding(int sig, const char* what) {
  char line[256];
  std::size_t used = 0;
  Append(line, sizeof line, used, gProgram);
  Append(line, sizeof line, used, ": ");
  Append(line, sizeof line, used, SignalName(sig));
  Append(line, sizeof line, used, " received");
  Append(line, sizeof line, used, what);
  Append(line, sizeof line, used, "; ending.\n");
  (void)!write(STDERR_FILENO, line, used);
}

// Ends the process by sig with its default action (async-signal-safe).
[[noreturn]] void EndBySignal(int sig, const char* what) {
  RemoveTemporaryFilesFromSignalHandler();
  SayEnding(sig, what);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// Ends the process when no flow runs (and none can start any more).
void EndIfIdle(int sig) {
  int idle = 0;
  if (!gFlows.compare_exchange_strong(idle, kEnding)) return;
  const bool wasPowered = SwitchOffPoweredPortsFromSignalHandler();
  EndBySignal(sig, wasPowered ? "; the programmer lines were switched off" : "");
}

extern "C" void OnTerminationSignal(int sig) {
  const int savedErrno = errno;
  int none = 0;
  gPending.compare_exchange_strong(none, sig);  // the first one decides the status
  if (gIdle == IdleTermination::EndAtOnce) EndIfIdle(gPending.load());
  const char byte = 1;
  (void)!write(gPipe[1], &byte, 1);
  errno = savedErrno;
}

// Stops the process by SIGTSTP's default action and returns once it is
// continued (async-signal-safe).
void StopProcess() {
  struct sigaction dfl {
  }, mine{};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGTSTP, &dfl, &mine);
  sigset_t set, before;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &set, &before);
  raise(SIGTSTP);  // an orphaned process group is not stopped: it goes on
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  sigaction(SIGTSTP, &mine, nullptr);
}

// Stops the process when a stop request is held and no bracket is open.
void StopIfAsked() {
  int idle = 0;
  if (!gFlows.compare_exchange_strong(idle, kStopping)) return;
  if (gStopPending.exchange(0) != 0) {
    StopProcess();
    gStopAnnounced.store(false);
  }
  gFlows.store(0);
  // A termination signal that came meanwhile found the process busy stopping.
  if (const int sig = gPending.load(); sig && gIdle == IdleTermination::EndAtOnce) EndIfIdle(sig);
}

extern "C" void OnStopSignal(int) {
  const int savedErrno = errno;
  gStopPending.store(SIGTSTP);
  StopIfAsked();
  if (gStopPending.load() != 0 && !gStopAnnounced.exchange(true)) {
    char line[160];
    std::size_t used = 0;
    Append(line, sizeof line, used, gProgram);
    Append(line, sizeof line, used,
           ": SIGTSTP received; stopping once the chip's sequence has ended with the lines "
           "unpowered.\n");
    (void)!write(STDERR_FILENO, line, used);
  }
  errno = savedErrno;
}

extern "C" void OnCrashSignal(int sig) {
  gFlows.store(kEnding);
  const bool wasPowered = SwitchOffPoweredPortsFromSignalHandler();
  EndBySignal(sig, wasPowered ? "; the programmer lines were switched off" : "");
}

// An uncaught exception does not unwind the stack, so no destructor would
// switch the lines off: do it before the usual report and abort.
void OnTerminate() {
  gFlows.store(kEnding);
  SwitchOffPoweredPortsFromSignalHandler();
  RemoveTemporaryFilesFromSignalHandler();
  if (gPreviousTerminate) gPreviousTerminate();
  std::abort();
}

// The signals the handlers take: the table's rows, then the real-time ones.
template <typename Visit>
void ForEachHandledSignal(Visit visit) {
  for (const SignalRow& row : kSignals) visit(row.sig, row.crash);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
    if (IsRealTime(sig)) visit(sig, false);
}

void BlockTerminalSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTTIN);
  sigaddset(&set, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &set, &tTerminalSignalsBefore);
}

void RestoreTerminalSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTTIN, SIGTTOU})
    if (sigismember(&tTerminalSignalsBefore, sig) != 1) sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

const char* SignalName(int sig) {
  for (const SignalRow& row : kSignals)
    if (row.sig == sig) return row.name;
  if (IsRealTime(sig)) {
    NameRealTimeSignals();
    return gRealTimeNames[sig - SIGRTMIN];
  }
  return "signal";
}

int ClaimWakeSignal() {
  return SIGRTMIN;
}

void InstallTerminationHandlers(const char* programName, IdleTermination idle) {
  std::strncpy(gProgram, programName, sizeof gProgram - 1);
  gIdle = idle;
  NameRealTimeSignals();
  if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  stack_t stack{};
  stack.ss_sp = gAltStack;
  stack.ss_size = sizeof gAltStack;
  sigaltstack(&stack, nullptr);
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  ForEachHandledSignal([&sa](int sig, bool) { sigaddset(&sa.sa_mask, sig); });
  sigaddset(&sa.sa_mask, SIGTSTP);
  auto install = [&sa](int sig, void (*handler)(int), int flags, bool keepIgnored) {
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler == SIG_IGN && keepIgnored) return;  // e.g. SIGHUP under nohup
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
  };
  ForEachHandledSignal([&install](int sig, bool crash) {
    install(sig, crash ? OnCrashSignal : OnTerminationSignal, crash ? SA_ONSTACK : SA_RESTART,
            !crash);
  });
  install(SIGTSTP, OnStopSignal, SA_RESTART, true);
  if (std::get_terminate() != OnTerminate) gPreviousTerminate = std::set_terminate(OnTerminate);
}

int TerminationSignalFd() {
  return gPipe[0];
}

int PendingTerminationSignal() {
  return gPending.load();
}

void HandleTerminationNotice() {
  char buf[64];
  while (gPipe[0] >= 0 && read(gPipe[0], buf, sizeof buf) > 0) {
  }
  if (const int sig = gPending.load()) EndIfIdle(sig);
}

bool EnterPortFlow() {
  int n = gFlows.load();
  for (;;) {
    if (n == kStopping) {  // the process is stopping on another thread: after it
      sched_yield();
      n = gFlows.load();
      continue;
    }
    if (n < 0) return false;
    if (gFlows.compare_exchange_weak(n, n + 1)) break;
  }
  if (tDepth++ == 0) BlockTerminalSignals();
  if (const int sig = gPending.load()) {
    // A signal came before the flow touched anything: end now.
    if (--tDepth == 0) RestoreTerminalSignals();
    gFlows.fetch_sub(1);
    EndIfIdle(sig);
    return false;
  }
  return true;
}

void LeavePortFlow() {
  if (--tDepth == 0) RestoreTerminalSignals();
  if (gFlows.fetch_sub(1) != 1) return;
  if (const int sig = gPending.load()) {
    int idle = 0;
    if (gFlows.compare_exchange_strong(idle, kEnding))
      EndBySignal(sig, ": the run was stopped and the chip left programming mode");
  }
  if (gStopPending.load() != 0) StopIfAsked();
}

}  // namespace zk7
