// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Flow callbacks for the windows: waits keep the user interface live.
#pragma once

#include <functional>

#include "programmer/programmer.h"

// wait runs a local event loop until a precise timer fires; processEvents
// handles pending input. progress and byteArrived are left for the caller.
zk7::FlowCallbacks GuiFlowCallbacks();

// The wait alone (the result label's blinking uses it too).
void GuiDelayMs(int ms);

// Replaces the wait behind GuiDelayMs (tests pass a no-op so flows and the
// result label's blinking finish at once); an empty function restores it.
void SetGuiWait(std::function<void(int ms)> wait);

class QObject;

// Installs the process's signal handling (port/signals.h) for the
// windows: a signal during a flow stops it as an abort does, then the process
// ends by that signal; otherwise the event loop ends it as soon as it sees the
// signal, whichever window or dialog is running it. Ctrl-Z during Program
// Device (its check and burn) stops the process only once the chip is
// unpowered, as in zk7prog.
void WatchTerminationSignals(QObject* parent);
