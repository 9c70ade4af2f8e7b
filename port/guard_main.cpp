// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7-guard: started by zk7prog and zk7-programmer around every run that may
// power the programmer lines; switches them off if the program dies first.
#include "port/guard.h"

int main(int argc, char** argv) {
  return zk7::RunGuard(argc, argv);
}
