#include "port/signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>

#include "port/watch.h"

namespace zk7 {
namespace {

struct SignalRow {
  int sig;
  const char* name;
  bool crash;  // raised by a fault in the process itself
};

// Every catchable signal whose default action ends the process.
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

// Flows running; -1 once the process is ending, so that no flow starts.
std::atomic<int> gFlows{0};
// The first termination signal that arrived.
std::atomic<int> gPending{0};
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
  if (!gFlows.compare_exchange_strong(idle, -1)) return;
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

extern "C" void OnCrashSignal(int sig) {
  gFlows.store(-1);
  const bool wasPowered = SwitchOffPoweredPortsFromSignalHandler();
  EndBySignal(sig, wasPowered ? "; the programmer lines were switched off" : "");
}

// An uncaught exception does not unwind the stack, so no destructor would
// switch the lines off: do it before the usual report and abort.
void OnTerminate() {
  gFlows.store(-1);
  SwitchOffPoweredPortsFromSignalHandler();
  if (gPreviousTerminate) gPreviousTerminate();
  std::abort();
}

}  // namespace

const char* SignalName(int sig) {
  for (const SignalRow& row : kSignals)
    if (row.sig == sig) return row.name;
  return "signal";
}

int ClaimWakeSignal() {
  return SIGRTMIN;
}

void InstallTerminationHandlers(const char* programName, IdleTermination idle) {
  std::strncpy(gProgram, programName, sizeof gProgram - 1);
  gIdle = idle;
  if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  stack_t stack{};
  stack.ss_sp = gAltStack;
  stack.ss_size = sizeof gAltStack;
  sigaltstack(&stack, nullptr);
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  for (const SignalRow& row : kSignals) sigaddset(&sa.sa_mask, row.sig);
  for (const SignalRow& row : kSignals) {
    struct sigaction old {};
    sigaction(row.sig, nullptr, &old);
    if (old.sa_handler == SIG_IGN && !row.crash) continue;  // e.g. SIGHUP under nohup
    sa.sa_handler = row.crash ? OnCrashSignal : OnTerminationSignal;
    sa.sa_flags = row.crash ? SA_ONSTACK : SA_RESTART;
    sigaction(row.sig, &sa, nullptr);
  }
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
  do {
    if (n < 0) return false;
  } while (!gFlows.compare_exchange_weak(n, n + 1));
  if (const int sig = gPending.load()) {
    // A signal came before the flow touched anything: end now.
    gFlows.fetch_sub(1);
    EndIfIdle(sig);
    return false;
  }
  return true;
}

void LeavePortFlow() {
  if (gFlows.fetch_sub(1) != 1) return;
  if (const int sig = gPending.load()) {
    int idle = 0;
    if (gFlows.compare_exchange_strong(idle, -1))
      EndBySignal(sig, ": the run was stopped and the chip left programming mode");
  }
}

}  // namespace zk7
