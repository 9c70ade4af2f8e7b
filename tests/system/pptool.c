// SPDX-License-Identifier: GPL-3.0-or-later
// The guest's small tool for the system tests, linked statically so that it
// needs nothing of the programs under test. Each command does one thing to a
// parallel port the way another program or a test bench would:
//   latch BASE                 prints the data register (direct I/O), e.g. "D0"
//   status BASE                prints the status register (direct I/O)
//   poke BASE VALUE            writes the data register (direct I/O)
//   hold DEV [excl] [VALUE]    claims DEV through ppdev (exclusively), writes
//                              VALUE if given, prints "held", and keeps the
//                              claim until SIGTERM or SIGINT
//   claim DEV                  waits in PPCLAIM for DEV, prints "claimed" once
//                              it has it, releases it and ends
//   session COMMAND...         runs COMMAND in a session of its own with
//                              SIGINT and SIGQUIT as a terminal leaves them
//   stopwhen PID BASE SIG [group]
//                              stops PID until its data register (at BASE)
//                              shows the programmer lines powered, then sends
//                              SIG to it (or its process group) and lets it go
//                              on; SIG 19 (SIGSTOP) leaves it stopped there
// Numbers are hexadecimal. Exit status 0 on success, 2 on a usage or system error.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static int Fail(const char* what) {
  fprintf(stderr, "pptool: %s: %s\n", what, strerror(errno));
  return 2;
}

static unsigned Hex(const char* text) {
  return (unsigned)strtoul(text, NULL, 16);
}

static int Access(unsigned base) {
  return ioperm(base, 3, 1) == 0 ? 0 : Fail("ioperm");
}

// VPP on, VDD on or programming mode selected, by the adapter's line table.
static int Powered(unsigned char data) {
  return (data & 0x08) || !(data & 0x10) || !(data & 0x80);
}

static volatile sig_atomic_t stop;
static void OnStop(int sig) {
  (void)sig;
  stop = 1;
}

static void Sleep(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

// The process's state letter from /proc/PID/stat; 0 once it is gone.
static char State(pid_t pid) {
  char path[64], text[512];
  snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
  FILE* f = fopen(path, "r");
  if (!f) return 0;
  const size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = 0;
  const char* close = strrchr(text, ')');
  return close && close[1] == ' ' ? close[2] : 0;
}

static int StopWhenPowered(pid_t pid, unsigned base, int sig, int group) {
  if (Access(base) != 0) return 2;
  for (;;) {
    if (kill(pid, SIGSTOP) != 0) return Fail("the program ended before its lines were powered");
    char s;
    while ((s = State(pid)) != 'T' && s != 't' && s != 'Z' && s != 0) Sleep(1);
    if (s == 0 || s == 'Z') {
      fprintf(stderr, "pptool: the program ended before its lines were powered\n");
      return 2;
    }
    if (Powered(inb(base))) {
      if (sig == SIGSTOP) return 0;  // left stopped
      const pid_t target = group ? -getpgid(pid) : pid;
      if (kill(target, sig) != 0) return Fail("kill");
      kill(target, SIGCONT);
      return 0;
    }
    kill(pid, SIGCONT);
    Sleep(2);
  }
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  const char* cmd = argc > 1 ? argv[1] : "";
  if (!strcmp(cmd, "latch") && argc == 3) {
    if (Access(Hex(argv[2])) != 0) return 2;
    printf("%02X\n", inb(Hex(argv[2])));
    return 0;
  }
  if (!strcmp(cmd, "status") && argc == 3) {
    if (Access(Hex(argv[2])) != 0) return 2;
    printf("%02X\n", inb(Hex(argv[2]) + 1));
    return 0;
  }
  if (!strcmp(cmd, "poke") && argc == 4) {
    if (Access(Hex(argv[2])) != 0) return 2;
    outb((unsigned char)Hex(argv[3]), Hex(argv[2]));
    return 0;
  }
  if (!strcmp(cmd, "hold") && argc >= 3) {
    signal(SIGTERM, OnStop);
    signal(SIGINT, OnStop);
    const int fd = open(argv[2], O_RDWR);
    if (fd < 0) return Fail(argv[2]);
    int a = 3;
    if (a < argc && !strcmp(argv[a], "excl")) {
      ++a;
      if (ioctl(fd, PPEXCL) != 0) return Fail("PPEXCL");
    }
    if (ioctl(fd, PPCLAIM) != 0) return Fail("PPCLAIM");
    if (a < argc) {
      unsigned char v = (unsigned char)Hex(argv[a]);
      if (ioctl(fd, PPWDATA, &v) != 0) return Fail("PPWDATA");
    }
    printf("held\n");
    while (!stop) pause();
    ioctl(fd, PPRELEASE);
    close(fd);
    return 0;
  }
  if (!strcmp(cmd, "claim") && argc == 3) {
    const int fd = open(argv[2], O_RDWR);
    if (fd < 0) return Fail(argv[2]);
    if (ioctl(fd, PPCLAIM) != 0) return Fail("PPCLAIM");
    printf("claimed\n");
    ioctl(fd, PPRELEASE);
    close(fd);
    return 0;
  }
  if (!strcmp(cmd, "session") && argc >= 3) {
    // A shell without job control starts background programs with SIGINT
    // and SIGQUIT ignored; a program run from a terminal has them as usual.
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    setsid();
    execvp(argv[2], argv + 2);
    return Fail(argv[2]);
  }
  if (!strcmp(cmd, "stopwhen") && (argc == 5 || argc == 6)) {
    const int group = argc == 6 && !strcmp(argv[5], "group");
    return StopWhenPowered((pid_t)atoi(argv[2]), Hex(argv[3]), atoi(argv[4]), group);
  }
  fprintf(stderr,
          "usage: pptool latch|status BASE | poke BASE VALUE | hold DEV [excl] [VALUE]\n"
          "       | claim DEV | session COMMAND... | stopwhen PID BASE SIGNAL [group]\n");
  return 2;
}
