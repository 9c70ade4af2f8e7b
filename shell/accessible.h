// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is told beyond the widgets' own accessible names: the
// block diagram's six blocks as buttons, and the production station as a
// window. Installed once, before the first window is shown.
#pragma once

#include <QAccessible>
#include <QString>
#include <functional>

class QWidget;

void InstallAccessibleFactories();

// Tells a screen reader that the block with this index now has the focus
// frame (the diagram has the keyboard focus).
void AnnounceDiagramFocus(QWidget* diagram, int block);

// Says a changed result out loud: an alert on the label that shows it.
void AnnounceResult(QWidget* label);

// Tests see what these two tell a screen reader (the event and the name of
// what it is about), whether or not one listens; none restores the default.
void RecordAnnouncements(std::function<void(QAccessible::Event, const QString& name)> recorder);
