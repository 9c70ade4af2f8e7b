// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The application's version record: what the splash and About windows show.
#pragma once

#include "zk7_version.h"

namespace VersionRecord {
inline constexpr const char* Title = "ZK7 Programmer";
inline constexpr int Major = ZK7_VERSION_MAJOR;
inline constexpr int Minor = ZK7_VERSION_MINOR;
inline constexpr int Revision = ZK7_VERSION_PATCH;
inline constexpr const char* CompanyName = "ZK7 Programmer project";
inline constexpr const char* Copyright = "Copyright (C) 2026";
// Shown on the splash; the wording (two spaces, trailing space) is kept as shipped.
inline constexpr const char* FileDescription =
    "Warning:  This software is intended for demostration purposes only. ";
// The support address stored by the About window (its button has no action).
inline constexpr const char* SupportWebSite = "https://zk7-programmer.example/support";
}  // namespace VersionRecord
