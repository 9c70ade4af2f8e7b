#include "port/guard.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "port/port.h"
#include "port/protocol.h"
#include "port/watch.h"

extern char** environ;

// Where the installed guard lies, relative to the programs' folder and as
// configured; the build sets both (cmake/Install.cmake).
#ifndef ZK7_GUARD_FROM_BINDIR
#define ZK7_GUARD_FROM_BINDIR "../libexec/zk7-programmer"
#endif
#ifndef ZK7_GUARD_INSTALLED
#define ZK7_GUARD_INSTALLED "/usr/local/libexec/zk7-programmer/zk7-guard"
#endif

namespace zk7 {
namespace {

constexpr int kSocketFd = 3;  // in the guard
constexpr int kStateFd = 4;
constexpr char kReady = 'R';
constexpr int kAnswerMs = 5000;  // for starting and for ending
static_assert(std::atomic<std::uint8_t>::is_always_lock_free, "the state is shared memory");

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until fd is readable or has ended; false at the deadline.
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, MsLeft(deadline));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// Moves fd to a number above the two the guard gets, so that placing one
// there cannot close the other first.
int AboveGuardFds(int fd) {
  if (fd > kStateFd) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kStateFd + 1);
  close(fd);
  return moved;
}

std::string Hex(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

}  // namespace

std::string FindGuardProgram(std::string& error) {
  if (const char* path = std::getenv("ZK7_GUARD"); path && *path) {
    if (access(path, X_OK) == 0) return path;
    error = std::string("ZK7_GUARD: ") + path + ": " + std::strerror(errno);
    return {};
  }
  std::vector<std::string> places;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    places.push_back(dir + "zk7-guard");
    places.push_back(dir + ZK7_GUARD_FROM_BINDIR "/zk7-guard");
  }
  places.push_back(ZK7_GUARD_INSTALLED);
  std::string tried;
  for (const std::string& path : places) {
    if (access(path.c_str(), X_OK) == 0) return path;
    tried += (tried.empty() ? "" : ", ") + path;
  }
  error = "zk7-guard is not installed (looked for " + tried + ")";
  return {};
}

bool PowerGuard::start(const GuardTarget& target, std::uint8_t data, std::string& error) {
  stop();
  const std::string program = FindGuardProgram(error);
  if (program.empty()) return false;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    error = std::string("socketpair: ") + std::strerror(errno);
    return false;
  }
  const int mine = AboveGuardFds(pair[0]), theirs = AboveGuardFds(pair[1]);
  int memory = memfd_create("zk7-guard", MFD_CLOEXEC);
  void* shared = MAP_FAILED;
  if (memory >= 0 && ftruncate(memory, sizeof(std::atomic<std::uint8_t>)) == 0)
    shared = mmap(nullptr, sizeof(std::atomic<std::uint8_t>), PROT_READ | PROT_WRITE, MAP_SHARED,
                  memory, 0);
  if (shared == MAP_FAILED) {
    error = std::string("shared memory: ") + std::strerror(errno);
    if (memory >= 0) close(memory);
    close(mine);
    close(theirs);
    return false;
  }
  memory = AboveGuardFds(memory);
  state_ = new (shared) std::atomic<std::uint8_t>(data);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&files, theirs, kSocketFd);
  posix_spawn_file_actions_adddup2(&files, memory, kStateFd);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
#ifdef POSIX_SPAWN_SETSID
  // A session of its own: no terminal, no job control, no hang-up.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
#else
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
#endif
  std::vector<std::string> args = {program, "--port", target.port, "--base", Hex(target.base)};
  if (!target.trace.empty()) args.insert(args.end(), {"--trace", target.trace});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, program.c_str(), &files, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&files);
  close(theirs);
  close(memory);
  socket_ = mine;
  if (spawned != 0) {
    pid_ = -1;
    stop();
    error = program + ": " + std::strerror(spawned);
    return false;
  }
  char answer = 0;
  if (WaitReadable(socket_, Clock::now() + std::chrono::milliseconds(kAnswerMs)) &&
      recv(socket_, &answer, 1, 0) == 1 && answer == kReady)
    return true;
  kill(pid_, SIGKILL);
  stop();
  error = program + " did not start";
  return false;
}

void PowerGuard::stop() {
  if (socket_ >= 0) {
    // The end of our side is the guard's cue; it closes its own as it ends.
    shutdown(socket_, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
    char byte;
    bool ended = false;
    while (!ended && WaitReadable(socket_, deadline)) {
      const ssize_t n = recv(socket_, &byte, 1, 0);
      ended = n == 0 || (n < 0 && errno != EINTR);
    }
    close(socket_);
    socket_ = -1;
    // A guard that has not ended (stopped by someone) is left to itself.
    if (pid_ > 0) waitpid(pid_, nullptr, ended ? 0 : WNOHANG);
  }
  pid_ = -1;
  if (state_) munmap(state_, sizeof(std::atomic<std::uint8_t>));
  state_ = nullptr;
}

bool SwitchOffAfterProgram(const GuardTarget& target, std::uint8_t data, std::string& error,
                           const PortSystem& system, int timeoutMs) {
  PortChoice choice;
  std::uint16_t base = target.base;
  if (!ParsePortChoice(target.port, choice, base, error)) return false;
  Port port;
  std::string traceError;
  port.setTraceFile(target.trace, traceError);  // the pins matter more than the trace
  base = target.base;
  // The emulated chip died with the program: only its trace is left to write.
  const bool pins = choice.kind != PortChoice::Emulator;
  if (pins) {
    port.setChoice(choice);
    port.setSystem(system);
    port.open(base);
    base = port.base();
    if (!port.accessProblem().empty()) {
      error = port.accessProblem();
      return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!port.claim(error)) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  for (std::uint8_t b : PowerOffSequence(data)) port.DlPortWritePortUchar(base, b);
  // Then clock, data and their enables off too: nothing drives the unpowered chip.
  port.DlPortWritePortUchar(base, kLinesOff);
  if (pins) {
    port.flush();
    port.release();
    error = port.accessProblem();
  }
  return error.empty();
}

int RunGuard(int argc, char** argv) {
  // Only this program's end matters; what reaches its terminal or group does not.
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE, SIGUSR1, SIGUSR2})
    signal(sig, SIG_IGN);
  GuardTarget target;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--port")
      target.port = argv[i + 1];
    else if (option == "--base")
      target.base = static_cast<std::uint16_t>(std::strtoul(argv[i + 1], nullptr, 16));
    else if (option == "--trace")
      target.trace = argv[i + 1];
  }
  void* shared =
      mmap(nullptr, sizeof(std::atomic<std::uint8_t>), PROT_READ, MAP_SHARED, kStateFd, 0);
  if (target.port.empty() || shared == MAP_FAILED) {
    std::fprintf(stderr, "zk7-guard: to be started by zk7prog or zk7-programmer only\n");
    return 2;
  }
  close(kStateFd);
  // Whatever else the program let it inherit stays the program's: a pipe
  // held open here would keep a reader waiting after the program ended.
  close_range(kStateFd + 1, ~0U, 0);
  const auto* state = static_cast<const std::atomic<std::uint8_t>*>(shared);
  if (send(kSocketFd, &kReady, 1, MSG_NOSIGNAL) != 1) return 2;
  char buf[64];
  for (ssize_t n; (n = read(kSocketFd, buf, sizeof buf)) != 0;)
    if (n < 0 && errno != EINTR) break;
  const std::uint8_t data = state->load();
  if (!LinesPowered(data)) return 0;
  std::string error;
  if (!SwitchOffAfterProgram(target, data, error)) {
    std::fprintf(stderr,
                 "zk7-guard: the program ended with the programmer lines powered, and they could "
                 "not be switched off: %s\n",
                 error.c_str());
    return 1;
  }
  std::fprintf(stderr,
               "zk7-guard: the program ended with the programmer lines powered; they were "
               "switched off.\n");
  return 0;
}

}  // namespace zk7
