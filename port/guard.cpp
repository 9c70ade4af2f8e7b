// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/guard.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "port/ftdi_driver.h"
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
// The guard's answers. Started, it sends kReady, the token it found in the
// shared memory and its process id: a program that merely answers cannot
// know the token, and the process id must be the one started. Asked kPing
// and a token, it answers kPong and the same token, which a guard that
// has ended cannot.
constexpr char kReady = 'R';
constexpr char kPing = 'P';
constexpr char kPong = 'A';
constexpr std::size_t kTokenBytes = sizeof(std::uint64_t);
constexpr std::size_t kReadyBytes = 1 + kTokenBytes + sizeof(std::int32_t);
constexpr std::size_t kPingBytes = 1 + kTokenBytes;
constexpr int kStartMs = 2000;  // a guard that has not answered by then is ended
constexpr int kEndMs = 5000;    // for its switching off once the program is gone
static_assert(std::atomic<std::uint8_t>::is_always_lock_free, "the state is shared memory");

// The memory the program and its guard share.
struct Shared {
  std::atomic<std::uint8_t> lines;  // the data-register byte the guard switches off from
  std::uint64_t token;              // written before the guard starts, read by it once
};

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

// Receives exactly size bytes before the deadline; false when the other side
// ended, failed or was too slow.
bool ReceiveAll(int fd, char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    if (!WaitReadable(fd, deadline)) return false;
    const ssize_t n = recv(fd, data, size, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::uint64_t NewToken() {
  std::uint64_t token = 0;
  if (getrandom(&token, sizeof token, 0) != static_cast<ssize_t>(sizeof token))
    token = static_cast<std::uint64_t>(Clock::now().time_since_epoch().count()) ^
            (static_cast<std::uint64_t>(getpid()) << 40);
  return token;
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
  const int selfError = n > 0 ? 0 : errno;
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
  // Without /proc this program cannot tell the folder it was started from,
  // where the guard lies beside it.
  struct stat proc {};
  if (selfError != 0 && (stat("/proc/self", &proc) != 0 || !S_ISDIR(proc.st_mode))) {
    error =
        "zk7-guard cannot be found: /proc is not mounted, so this program cannot tell the "
        "folder it runs from (looked for " +
        tried + "; mount /proc or set ZK7_GUARD)";
    return {};
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
  if (memory >= 0 && ftruncate(memory, sizeof(Shared)) == 0)
    shared = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
  if (shared == MAP_FAILED) {
    error = std::string("shared memory: ") + std::strerror(errno);
    if (memory >= 0) close(memory);
    close(mine);
    close(theirs);
    return false;
  }
  memory = AboveGuardFds(memory);
  auto* both = new (shared) Shared;
  both->lines.store(data);
  both->token = NewToken();
  shared_ = both;
  state_ = &both->lines;

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
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStartMs);
  char ready[kReadyBytes];
  std::uint64_t token = 0;
  std::int32_t pid = 0;
  const bool answered = ReceiveAll(socket_, ready, sizeof ready, deadline);
  if (answered) {
    std::memcpy(&token, ready + 1, sizeof token);
    std::memcpy(&pid, ready + 1 + sizeof token, sizeof pid);
  }
  if (answered && ready[0] == kReady && token == both->token && pid == pid_ &&
      ping(deadline, error))
    return true;
  if (!answered && Clock::now() >= deadline)
    error =
        program + " did not answer within " + std::to_string(kStartMs / 1000) + " s; it was ended";
  else if (answered && (ready[0] != kReady || token != both->token || pid != pid_))
    error = program + " is not the guard this program expects (its answer does not match)";
  else
    error = program + " ended as soon as it had started";
  end();
  return false;
}

bool PowerGuard::ping(Clock::time_point deadline, std::string& error) {
  char message[kPingBytes] = {kPing};
  const std::uint64_t token = NewToken();
  std::memcpy(message + 1, &token, sizeof token);
  char answer[kPingBytes] = {};
  std::uint64_t echoed = ~token;
  if (send(socket_, message, sizeof message, MSG_NOSIGNAL) ==
          static_cast<ssize_t>(sizeof message) &&
      ReceiveAll(socket_, answer, sizeof answer, deadline))
    std::memcpy(&echoed, answer + 1, sizeof echoed);
  if (answer[0] == kPong && echoed == token) return true;
  error = "the guard process ended";
  return false;
}

bool PowerGuard::alive(std::string& error) {
  if (socket_ < 0) {
    error = "no guard process runs";
    return false;
  }
  return ping(Clock::now() + std::chrono::milliseconds(kStartMs), error);
}

bool PowerGuard::ended() const {
  if (socket_ < 0) return false;
  // The guard speaks only when asked: anything to read, or the end of its
  // side, means it has ended or is ending.
  pollfd p{socket_, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) > 0 && p.revents != 0;
}

void PowerGuard::end() {
  // The guard and anything it started: it leads a session of its own.
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
  release();
}

void PowerGuard::release() {
  if (shared_) munmap(shared_, sizeof(Shared));
  shared_ = nullptr;
  state_ = nullptr;
}

void PowerGuard::stop() {
  if (socket_ >= 0) {
    // The end of our side is the guard's cue; it closes its own as it ends.
    shutdown(socket_, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kEndMs);
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
  release();
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    port.open(base);
    // A USB adapter is claimed as it is opened, so the dead program's claim
    // is waited out here. One that is gone took its board's supply with it.
    while (choice.kind == PortChoice::Ftdi && !port.accessProblem().empty()) {
      if (FtdiAdapterGone(choice.usb)) {
        error = "the USB adapter is unplugged, so the chip has no supply";
        return true;
      }
      if (Clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      port.open(base);
    }
    base = port.base();
    if (!port.accessProblem().empty()) {
      error = port.accessProblem();
      return false;
    }
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
  for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE}) signal(sig, SIG_IGN);
  // A signal meant to end the guard (a shutdown's SIGTERM, a kill) ends the
  // program's run first: the guard tells it by closing its side, waits until
  // the program has ended or given the port back, and only then ends itself,
  // switching the lines off if they are still powered.
  sigset_t ending;
  sigemptyset(&ending);
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM})
    sigaddset(&ending, sig);
  sigprocmask(SIG_BLOCK, &ending, nullptr);
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
  void* shared = mmap(nullptr, sizeof(Shared), PROT_READ, MAP_SHARED, kStateFd, 0);
  if (target.port.empty() || shared == MAP_FAILED) {
    std::fprintf(stderr, "zk7-guard: to be started by zk7prog or zk7-programmer only\n");
    return 2;
  }
  close(kStateFd);
  // Whatever else the program let it inherit stays the program's: a pipe
  // held open here would keep a reader waiting after the program ended.
  close_range(kStateFd + 1, ~0U, 0);
  const int signals = signalfd(-1, &ending, SFD_CLOEXEC);
  const auto* both = static_cast<const Shared*>(shared);
  char ready[kReadyBytes] = {kReady};
  const std::int32_t self = getpid();
  std::memcpy(ready + 1, &both->token, kTokenBytes);
  std::memcpy(ready + 1 + kTokenBytes, &self, sizeof self);
  if (send(kSocketFd, ready, sizeof ready, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof ready))
    return 2;
  std::string asked;  // a ping being received
  bool told = false;  // the program was told this guard is ending
  for (;;) {
    pollfd p[2] = {{kSocketFd, POLLIN, 0}, {signals, POLLIN, 0}};
    if (poll(p, signals >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[1].revents & POLLIN) {
      signalfd_siginfo info;
      (void)!read(signals, &info, sizeof info);
      if (!told) shutdown(kSocketFd, SHUT_WR);
      told = true;
    }
    if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[64];
    const ssize_t n = read(kSocketFd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the program closed its side, or died
    asked.append(buf, static_cast<std::size_t>(n));
    while (asked.size() >= kPingBytes) {
      if (asked[0] == kPing && !told) {
        char pong[kPingBytes];
        std::memcpy(pong, asked.data(), kPingBytes);
        pong[0] = kPong;
        send(kSocketFd, pong, sizeof pong, MSG_NOSIGNAL);
      }
      asked.erase(0, kPingBytes);
    }
  }
  const std::uint8_t data = both->lines.load();
  if (!LinesPowered(data)) return 0;
  std::string error;
  if (!SwitchOffAfterProgram(target, data, error)) {
    std::fprintf(stderr,
                 "zk7-guard: the program ended with the programmer lines powered, and they could "
                 "not be switched off: %s\n",
                 error.c_str());
    return 1;
  }
  std::fprintf(stderr, "zk7-guard: the program ended with the programmer lines powered; %s.\n",
               error.empty() ? "they were switched off" : error.c_str());
  return 0;
}

}  // namespace zk7
