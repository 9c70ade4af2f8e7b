// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menus as tables: one row per item with its objectName,
// caption (access key included), shortcut, command and the frmMain member that
// keeps its action. A new item is a new row.
#pragma once

#include <QKeySequence>
#include <functional>
#include <vector>

class QAction;
class frmMain;

struct MenuItem {
  enum Flag : unsigned {
    SeparatorBefore = 1,
    Checkable = 2,
    Checked = 4,      // checked at every start (nothing is kept between runs)
    OpensWindow = 8,  // off while a flow runs: a modal window would hold the flow (or a second run)
    PortSubmenu = 16,  // the Port submenu, filled from the ports found
  };
  const char* name;                     // objectName, the same as the member's name
  const char* caption;                  // with its access key
  QKeySequence shortcut;                // none when empty
  std::function<void(frmMain&)> run;    // none for a check item that only holds a choice
  QAction* frmMain::*action = nullptr;  // where the window keeps the item
  unsigned flags = 0;
  int block = -1;  // a Peripherals item: the diagram block whose editor it opens
};

struct MenuSpec {
  const char* name;  // objectName of the menu
  const char* caption;
  std::vector<MenuItem> items;
};
