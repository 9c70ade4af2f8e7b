// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7-programmer-clicking: the window program as the tests run it as a
// process of its own. ZK7_TEST_CLICK=NAME closes the splash, then clicks the
// first window's button of that objectName (any other name clicks nothing).
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "shell/startup.h"

int main(int argc, char** argv) {
  const char* click = std::getenv("ZK7_TEST_CLICK");
  WindowProgramHooks hooks;
  if (click && *click) {
    hooks.beforeFirstWindow = [](bool station) {
      if (!station)
        QTimer::singleShot(0, [] {
          if (QWidget* splash = QApplication::activeModalWidget()) splash->close();
        });
    };
    hooks.firstWindow = [click](QWidget* first) {
      QTimer::singleShot(0, first, [first, click] {
        if (auto* button = first->findChild<QPushButton*>(click)) button->click();
      });
    };
  }
  return RunWindowProgram(argc, argv, hooks);
}
