// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
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
//                              follows PID until it waits with the programmer
//                              lines at BASE powered, then sends SIG to it (or
//                              its process group); SIG 19 (SIGSTOP) leaves it
//                              stopped there
// Addresses and values are hexadecimal, PID and SIG decimal. Exit status 0 on success, 2 on a usage or system error.
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
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
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

// Follows PID's system calls until it sleeps (a flow's wait) with the lines at
// BASE powered, which it does in every check and every burn; then sends it
// SIG (its process group with group) and lets it go. Sampling the lines from
// outside instead could miss a powered stretch shorter than a time slice.
static int StopWhenPowered(pid_t pid, unsigned base, int sig, int group) {
  if (Access(base) != 0) return 2;
  if (ptrace(PTRACE_SEIZE, pid, 0, PTRACE_O_TRACESYSGOOD) != 0) return Fail("PTRACE_SEIZE");
  if (ptrace(PTRACE_INTERRUPT, pid, 0, 0) != 0) return Fail("PTRACE_INTERRUPT");
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, __WALL) != pid) return Fail("waitpid");
    if (!WIFSTOPPED(status)) {
      fprintf(stderr, "pptool: the program ended before its lines were powered\n");
      return 2;
    }
    int deliver = 0;  // a signal meant for the program goes on to it
    if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
      struct user_regs_struct regs;
      if (ptrace(PTRACE_GETREGS, pid, 0, &regs) != 0) return Fail("PTRACE_GETREGS");
      const long call = (long)regs.orig_rax;
      if ((call == SYS_nanosleep || call == SYS_clock_nanosleep) && Powered(inb(base))) {
        const pid_t target = group ? -getpgid(pid) : pid;
        if (kill(target, sig) != 0) return Fail("kill");
        ptrace(PTRACE_DETACH, pid, 0, 0);
        return 0;
      }
    } else if (status >> 16 != PTRACE_EVENT_STOP) {
      deliver = WSTOPSIG(status);
    }
    if (ptrace(PTRACE_SYSCALL, pid, 0, deliver) != 0) return Fail("PTRACE_SYSCALL");
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
