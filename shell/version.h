// The application's version record: what the splash and About windows show.
#pragma once

namespace VersionRecord {
inline constexpr const char* Title = "ZK7 Programmer";
inline constexpr int Major = 1;
inline constexpr int Minor = 1;
inline constexpr int Revision = 0;
inline constexpr const char* CompanyName = "ZK7 Programmer project";
inline constexpr const char* Copyright = "Copyright (C) 2026";
// Shown on the splash; the wording (two spaces, trailing space) is kept as shipped.
inline constexpr const char* FileDescription =
    "Warning:  This software is intended for demostration purposes only. ";
// The support address stored by the About window (its button has no action).
inline constexpr const char* SupportWebSite = "https://zk7-programmer.example/support";
}  // namespace VersionRecord
