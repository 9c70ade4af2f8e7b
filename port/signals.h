// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// What a signal does to a run. Every catchable signal whose default action
// ends the process (the real-time signals too) is handled once, for the whole
// process: during a flow it stops the flow the way an abort does (the chip
// leaves programming mode, so the last data-register write has VPP, VDD and
// nPRG off), and the process then ends by the same signal (a shell shows 128
// + its number) after saying on stderr what happened. Without a flow the
// process ends at once, or, in a program with an event loop, as soon as the
// loop sees the self-pipe. Crash signals switch any powered port off with
// async-signal-safe calls only, then end the process the same way. Either
// way the temporary file of a file write in progress is removed. SIGKILL
// cannot be caught.
//
// A stop request (Ctrl-Z, SIGTSTP) during a flow or a chip's whole sequence
// (the brackets below) is held until the last bracket has closed, with the
// lines unpowered; then the process stops as asked, and continues where it
// was on SIGCONT. Idle, it stops at once. Inside a bracket SIGTTIN and
// SIGTTOU are blocked on the bracket's thread, so a background process's
// terminal output goes through rather than stopping it with the lines
// powered. SIGSTOP cannot be caught: a stopped process holds the lines as
// they are.
#pragma once

namespace zk7 {

enum class IdleTermination {
  // The handler ends the process itself when no flow runs (zk7prog).
  EndAtOnce,
  // The handler only makes TerminationSignalFd() readable; the event loop
  // then calls HandleTerminationNotice() (the windows, so that work on the
  // user-interface thread such as a file save is not cut in half).
  Notify,
};

// Installs the handlers; programName starts the stderr message. Signals the
// process was started with ignored (nohup) stay ignored. Call once, early.
void InstallTerminationHandlers(const char* programName, IdleTermination idle);

// Read end of the self-pipe: readable once a termination signal arrived;
// -1 before InstallTerminationHandlers.
int TerminationSignalFd();
// The first termination signal that arrived, 0 while none did.
int PendingTerminationSignal();
// For the event loop when TerminationSignalFd() became readable: ends the
// process unless a flow runs, which ends it when it has left programming mode.
void HandleTerminationNotice();

// The bracket of every flow (Programmer uses it) and of a chip's whole
// sequence (check, reservation, burn, record); brackets nest. EnterPortFlow
// returns false when the process is ending because of a signal: the flow must
// not touch the port. LeavePortFlow, called once the flow has left
// programming mode and released the port, ends the process when a
// termination signal arrived meanwhile and no other bracket is open, and
// otherwise stops it when a stop request was held.
bool EnterPortFlow();
void LeavePortFlow();

// "SIGHUP", "SIGTERM", "SIGRTMIN+3", ...; "signal" for a number outside the
// handled set.
const char* SignalName(int sig);

// The real-time signal that wakes a waiting parallel-port claim. It is in
// the handled set like the others: the claim puts its own action in place
// only while it waits and restores the process's action afterwards.
int ClaimWakeSignal();

}  // namespace zk7
