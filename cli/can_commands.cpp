// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog bittiming, filter and filter-design: the CAN assistant on the
// command line. Each result is a core struct; text and JSON render the same
// fields from one table.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/configuration.h"
#include "files/devicefile.h"
#include "model/acceptance.h"
#include "model/bittiming.h"
#include "model/can_timing.h"
#include "model/format.h"

namespace zk7cli {

namespace {

using Json = nlohmann::ordered_json;

// The user's decimal separator read as a point.
std::string Dotted(std::string text, char separator) {
  for (char& c : text)
    if (c == separator) c = '.';
  return text;
}

// A percentage to show: rounded to hundredths.
std::string PercentText(double v) {
  return zk7::FormatNumber(std::round(v * 100) / 100);
}

using zk7::BitTimingFieldKind;
using Column = zk7::BitTimingField;
constexpr const auto& kColumns = zk7::kBitTimingFields;

struct SettingRow {
  const zk7::BitTimingSetting& s;
  std::array<std::uint8_t, 3> cnf;
};

std::string CellText(const Column& c, const SettingRow& r) {
  const double v = c.value(r.s, r.cnf);
  switch (c.kind) {
    case BitTimingFieldKind::Hex:
      return zk7::Hex2(static_cast<unsigned>(v));
    case BitTimingFieldKind::Percent:
      return PercentText(v);
    case BitTimingFieldKind::Count:
      break;
  }
  return std::to_string(static_cast<long long>(v));
}

// Without a file the command line knows no SAM or CNF3 bits 7:3: both are 0.
SettingRow Row(const zk7::BitTimingSetting& s) {
  return {s, zk7::EncodeBitTiming(s, 0, 0)};
}

Json SettingJson(const zk7::BitTimingSetting& s) {
  const SettingRow r = Row(s);
  Json j;
  for (const Column& c : kColumns) {
    if (c.kind == BitTimingFieldKind::Percent)
      j[c.key] = c.value(r.s, r.cnf);
    else
      j[c.key] = static_cast<long long>(c.value(r.s, r.cnf));
  }
  j["recommended"] = s.recommended;
  Json broken = Json::array();
  for (const auto& rule : zk7::kBitTimingRules)
    if (s.brokenRules() & rule.rule) broken.push_back(rule.key);
  j["rules_broken"] = broken;
  return j;
}

std::string RuleText(unsigned broken) {
  std::string text;
  for (const auto& rule : zk7::kBitTimingRules)
    if (broken & rule.rule) text += (text.empty() ? "" : "; ") + std::string(rule.broken);
  return text;
}

void PrintSettingsTable(Io& io, const std::vector<zk7::BitTimingSetting>& rows) {
  std::vector<std::vector<std::string>> cells;
  std::array<std::size_t, kColumns.size()> width{};
  for (std::size_t k = 0; k < kColumns.size(); ++k) width[k] = std::strlen(kColumns[k].header);
  for (const auto& s : rows) {
    cells.emplace_back();
    for (std::size_t k = 0; k < kColumns.size(); ++k) {
      cells.back().push_back(CellText(kColumns[k], Row(s)));
      width[k] = std::max(width[k], cells.back().back().size());
    }
  }
  io.out << "   ";
  for (std::size_t k = 0; k < kColumns.size(); ++k)
    io.out << ' ' << std::setw(static_cast<int>(width[k])) << kColumns[k].header;
  io.out << "  Rules broken\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    io.out << (rows[i].recommended ? "  *" : "   ");
    for (std::size_t k = 0; k < kColumns.size(); ++k)
      io.out << ' ' << std::setw(static_cast<int>(width[k])) << cells[i][k];
    io.out << "  " << RuleText(rows[i].brokenRules()) << '\n';
  }
}

int RunBitTiming(const Args& args, Io& io) {
  std::string error;
  zk7::BitTimingRequest rq;
  double kHz = 0;
  if (!zk7::ParseFrequencyKHz(args.get("--fosc-khz"), kHz, io.decimalSeparator) || kHz < 0)
    return UsageError(io, args.command,
                      "--fosc-khz '" + args.get("--fosc-khz") + "' is not a frequency in kHz");
  rq.foscHz = kHz * 1000.0;
  const auto rate = zk7::ParseBitRate(args.get("--bitrate"), error);
  if (!rate) return UsageError(io, args.command, error);
  rq.bitrate = *rate;
  if (args.has("--sample-point")) {
    rq.samplePointPermille =
        zk7::ParseSamplePoint(Dotted(args.get("--sample-point"), io.decimalSeparator), error);
    if (!rq.samplePointPermille) return UsageError(io, args.command, error);
  }
  if (args.has("--sjw")) {
    const std::string t = args.get("--sjw");
    if (t.size() != 1 || t[0] < '1' || t[0] > '4')
      return UsageError(io, args.command, "--sjw takes 1, 2, 3 or 4");
    rq.sjw = t[0] - '0';
  }
  double tolerance = 0.5;
  if (args.has("--tolerance")) {
    std::string t = Dotted(args.get("--tolerance"), io.decimalSeparator);
    if (!t.empty() && t.back() == '%') t.pop_back();
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), tolerance);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !(tolerance >= 0) ||
        tolerance > 100)
      return UsageError(io, args.command,
                        "--tolerance takes a percentage from 0 to 100, such as 0.5");
  }
  rq.tolerancePpm = std::llround(tolerance * 10000);

  const zk7::BitTimingAdvice advice = zk7::RecommendBitTiming(rq);
  const auto rows = zk7::BitTimingCandidates(rq);
  const int result = advice.recommended ? kExitOk : kExitChip;
  const double spNominal = advice.samplePointNominal / 10.0;
  if (args.flag("--json")) {
    Json j;
    j["fosc_hz"] = std::floor(rq.foscHz) == rq.foscHz && rq.foscHz < 1e15
                       ? Json(static_cast<long long>(rq.foscHz))
                       : Json(rq.foscHz);
    j["bitrate"] = rq.bitrate;
    j["sample_point_nominal_percent"] = spNominal;
    j["tolerance_percent"] = rq.tolerancePpm / 10000.0;
    j["note"] = advice.note.empty() ? Json() : Json(advice.note);
    j["recommended"] = advice.recommended ? SettingJson(*advice.recommended) : Json();
    j["settings"] = Json::array();
    for (const auto& s : rows) j["settings"].push_back(SettingJson(s));
    io.out << j.dump(2) << '\n';
    return result;
  }
  io.out << "Fosc = " << zk7::FormatNumber(kHz) << " kHz (CAN clock " << advice.clockHz
         << " Hz), bit rate " << rq.bitrate << " bit/s, nominal sample point "
         << zk7::FormatNumber(spNominal) << " %\n";
  if (advice.recommended) {
    const SettingRow r = Row(*advice.recommended);
    io.out << "Recommended:";
    for (std::size_t k = 0; k < kColumns.size(); ++k)  // two lines: lengths, then results
      io.out << (k == 0   ? " "
                 : k == 6 ? ",\n  "
                          : ", ")
             << kColumns[k].header << ' ' << CellText(kColumns[k], r);
    io.out << ", SAM 0\n";
    const std::string rules = RuleText(advice.recommended->brokenRules());
    if (!rules.empty()) io.out << "  Warning: " << rules << '\n';
  } else {
    io.out << "No setting is possible: " << advice.note << '\n';
  }
  if (!rows.empty()) {
    io.out << "Settings within " << PercentText(tolerance) << " % (* recommended):\n";
    PrintSettingsTable(io, rows);
  }
  return result;
}

int RunFilter(const Args& args, Io& io) {
  std::string error;
  const bool extended = args.flag("--ext");
  const auto id = zk7::ParseCanId(args.get("--test"), extended, error);
  if (!id) return UsageError(io, args.command, error);
  Configuration config;
  if (!LoadConfiguration(io, args.file(), config)) return kExitUsage;
  zk7::ReceiveFilters filters = zk7::ReadReceiveFilters(config.regs);
  if (args.has("--filters")) {
    const std::string text = args.get("--filters");
    const auto comma = text.find(',');
    const auto f0 = zk7::ParseFilter(text.substr(0, comma), error);
    const auto f1 =
        comma == std::string::npos ? f0 : zk7::ParseFilter(text.substr(comma + 1), error);
    if (!f0 || !f1) return UsageError(io, args.command, "--filters: " + error);
    // Written into the registers the chip has and read back: what cannot be
    // held with one mask does not come back the same.
    zk7::RegisterSet rs = config.regs;
    for (const auto* f : {&*f0, &*f1})
      if (!f->extended) zk7::SetCanId(rs, 3, f->mask, false);
    for (const auto* f : {&*f0, &*f1})
      if (f->extended) zk7::SetCanId(rs, 3, f->mask, true);
    zk7::SetCanId(rs, 4, f0->id, f0->extended);
    zk7::SetCanId(rs, 5, f1->id, f1->extended);
    filters = {*f0, *f1};
    if (zk7::ReadReceiveFilters(rs) != filters)
      return UsageError(io, args.command,
                        "--filters: the two filters need one mask, as the chip has one");
  }
  for (int n = 0; n < 2; ++n)
    io.out << "RXF" << n << " " << std::left << std::setw(18) << zk7::FormatFilter(filters[n])
           << std::right << (filters[n].extended ? "extended" : "standard") << " frames\n";
  io.out << "Taken in all: " << zk7::AcceptedCount(filters, false) << " standard and "
         << zk7::AcceptedCount(filters, true) << " extended identifiers\n";
  const unsigned taken = zk7::FiltersTaking(*id, extended, filters);
  io.out << (extended ? "Extended" : "Standard") << " identifier " << zk7::HexNoPad(*id) << ": ";
  if (taken == 0) {
    io.out << "not taken\n";
    return kExitChip;
  }
  io.out << "taken by " << zk7::TakingFilterNames(taken) << '\n';
  return kExitOk;
}

int RunFilterDesign(const Args& args, Io& io) {
  std::string error;
  const bool extended = args.flag("--ext");
  std::vector<std::uint32_t> ids;
  for (const std::string& w : args.positional) {
    const auto id = zk7::ParseCanId(w, extended, error);
    if (!id) return UsageError(io, args.command, error);
    ids.push_back(*id);
  }
  const auto design = zk7::DesignFilters(ids, extended);
  if (!design) return UsageError(io, args.command, "list one or more identifiers");
  if (args.flag("--json")) {
    Json j;
    j["extended"] = design->extended;
    j["mask"] = design->mask;
    j["filter0"] = design->filter0;
    j["filter1"] = design->filter1;
    j["accepted_count"] = design->acceptedCount;
    j["beyond_list"] = design->beyondList();
    io.out << j.dump(2) << '\n';
    return kExitOk;
  }
  const auto filters = design->filters();
  io.out << "RXM  " << zk7::HexNoPad(design->mask) << '\n'
         << "RXF0 " << zk7::FormatFilter(filters[0]) << '\n'
         << "RXF1 " << zk7::FormatFilter(filters[1]) << '\n'
         << design->takesText() << '\n';
  return kExitOk;
}

}  // namespace

extern const Command kBitTimingCommand = {
    "bittiming",
    {"--fosc-khz F --bitrate B [--sample-point P] [--sjw N] [--tolerance PCT] [--json]"},
    "CAN bit timing for a bit rate",
    {{"--fosc-khz", "F", true},
     {"--bitrate", "B", true},
     {"--sample-point", "P"},
     {"--sjw", "N"},
     {"--tolerance", "PCT"},
     {"--json", nullptr}},
    0,
    0,
    "Recommends CAN bit timing for bit rate B (125000, 125k, 1M) from an oscillator of\n"
    "F kHz: the setting the Linux kernel computes for this chip's limits, so that the\n"
    "node agrees with SocketCAN nodes, and the table of every setting whose bit rate is\n"
    "within PCT percent (default 0.5), recommended first (marked *), then by distance\n"
    "from the nominal sample point P (percent; default 87.5, 80 above 500k, 75 above\n"
    "800k) and by more TQ per bit. N is the synchronisation jump width, 1 to 4\n"
    "(default: the larger of 1 and the smaller of PS1 and PS2 / 2).\n"
    "CNF1..CNF3 are shown with BTLMODE set, SAM 0 and CNF3 bits 7:3 clear.\n"
    "--json prints one object: fosc_hz, bitrate, sample_point_nominal_percent,\n"
    "tolerance_percent, note, recommended (null when none is possible) and settings;\n"
    "each setting has brp (prescaler 1..64), prop, ps1, ps2, sjw, quanta,\n"
    "sample_point_percent, bitrate, error_percent, cnf1, cnf2, cnf3, recommended and\n"
    "rules_broken (ps2_below_2, ps2_not_above_sjw, seg1_below_ps2).\n"
    "Exit status: 0 a setting exists, 1 none is possible, 2 usage error.\n"
    "Examples:\n"
    "  zk7prog bittiming --fosc-khz 4000 --bitrate 125k\n"
    "  zk7prog bittiming --fosc-khz 20000 --bitrate 500k --sample-point 80 --sjw 1\n"
    "  zk7prog bittiming --fosc-khz 7372.8 --bitrate 250000 --tolerance 1 --json\n",
    false,
    RunBitTiming};

extern const Command kFilterCommand = {
    "filter",
    {"[FILE] --test ID [--ext] [--filters ID:MASK[,ID:MASK]]"},
    "does the chip take this CAN identifier?",
    {{"--test", "ID", true}, {"--ext", nullptr}, {"--filters", "ID:MASK[,ID:MASK]"}},
    0,
    1,
    "Says whether the receive mask and filters of FILE (the default\n"
    "configuration without it) take a frame with identifier ID (hexadecimal; a\n"
    "standard identifier, extended with --ext), which filters take it, and how many\n"
    "standard and extended identifiers they take in all.\n"
    "Filters are shown as ID:MASK in hexadecimal; eight ID digits mean an extended\n"
    "identifier. --filters tests such filters (from filter-design) instead of the\n"
    "file's; the two share the chip's one mask, and one filter alone is used twice.\n"
    "Exit status: 0 the frame is taken, 1 it is not, 2 usage or file error.\n"
    "Examples:\n"
    "  zk7prog filter node.dvs --test 123\n"
    "  zk7prog filter node.dvs --test 18FF1001 --ext\n"
    "  zk7prog filter --filters 120:7F0,130:7F0 --test 12A\n",
    false,
    RunFilter};

extern const Command kFilterDesignCommand = {
    "filter-design",
    {"ID... [--ext] [--json]"},
    "mask and filters for a list of identifiers",
    {{"--ext", nullptr}, {"--json", nullptr}},
    0,
    kAnyNumber,
    "Computes the receive mask and two filters that take every listed identifier\n"
    "(hexadecimal; standard, or extended with --ext) and as few other identifiers of\n"
    "that type as possible, and says how many they take beyond the list.\n"
    "The filters are printed as ID:MASK, the form 'zk7prog filter --filters' reads.\n"
    "--json prints one object: extended, mask, filter0, filter1 (identifier values as\n"
    "integers), accepted_count (identifiers of that type taken, the listed ones\n"
    "included) and beyond_list.\n"
    "Examples:\n"
    "  zk7prog filter-design 120 121 12A\n"
    "  zk7prog filter-design --ext 18FF1001 18FF1002 18FE1001 --json\n",
    false,
    RunFilterDesign};

}  // namespace zk7cli
