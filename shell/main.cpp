// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7-programmer: the configuration editor and chip programmer.
#include "shell/startup.h"

int main(int argc, char** argv) {
  return RunWindowProgram(argc, argv);
}
