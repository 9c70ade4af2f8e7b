// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Hexadecimal entry helpers shared by every hex entry box.
#pragma once

#include <string_view>

namespace zk7 {

// True for the character codes of 0-9, A-F, a-f and backspace (8).
bool ISHEX(int key);

// The key a hex entry box lets in: 0 when the key is rejected, the upper-case
// letter for a-f, the key itself otherwise.
int HexKeyFilter(int key);

// Value of text read as an unsigned hexadecimal number ("" gives 0). A
// character that is not a hex digit counts as the digit 0. Lower-case a-f are
// read like their upper-case letters, so pasted text cannot give a value the
// typed text would not.
double HexToValue(std::string_view text);

// True when text is non-empty and holds hex digits only.
bool IsHexText(std::string_view text);

}  // namespace zk7
