// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Keyboard focus rules every window of the program follows, installed once
// for the whole application:
// - Tab (or Shift+Tab) into a group of exclusive options lands on its checked
//   option, so Space does not change the choice; the arrow keys move within
//   the group as usual.
// - A control with colours of its own (the green, red, magenta and yellow
//   boxes) gets a ring drawn around it, outside its coloured area, while it
//   has the keyboard focus: the style's focus frame would be drawn on the
//   fixed colour, where it can vanish.
#pragma once

class QWidget;

void InstallFocusRules();

// The ring drawn around the control that has the focus, nullptr when none
// shows (tests).
QWidget* FocusRingTarget(const QWidget* window);
