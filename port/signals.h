// What a signal does to a run. Every catchable signal whose default action
// ends the process is handled once, for the whole process: during a flow it
// stops the flow the way an abort does (the chip leaves programming mode, so
// the last data-register write has VPP, VDD and nPRG off), and the process
// then ends by the same signal (a shell shows 128 + its number) after saying
// on stderr what happened. Without a flow the process ends at once, or, in a
// program with an event loop, as soon as the loop sees the self-pipe. Crash
// signals switch any powered port off with async-signal-safe calls only, then
// end the process the same way. SIGKILL cannot be caught.
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

// The bracket of every flow (Programmer uses it). EnterPortFlow returns false
// when the process is ending because of a signal: the flow must not touch the
// port. LeavePortFlow, called once the flow has left programming mode and
// released the port, ends the process when a termination signal arrived
// meanwhile and no other flow runs.
bool EnterPortFlow();
void LeavePortFlow();

// "SIGHUP", "SIGTERM", ...; "signal" for a number outside the handled set.
const char* SignalName(int sig);

// The real-time signal a timer sends to end a parallel-port claim's wait in
// the kernel (port/drivers.cpp installs an empty handler for it only while it
// claims); the termination handlers must leave it alone.
int ClaimWakeSignal();

}  // namespace zk7
