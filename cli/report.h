// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// One description of a command's output that renders as text or as JSON, so
// each field is written once: (key, label, value). A value carries both
// forms: numbers stay numbers in JSON, a missing value is null in JSON and
// "--" in text.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zk7cli {

struct ReportValue {
  nlohmann::ordered_json json;
  std::string text;
};

// A derived quantity: its shortest decimal text; null / "--" when not finite.
ReportValue Number(double value);
// The same from an optional; missingText stands in the text when there is none.
ReportValue Number(const std::optional<double>& value, const std::string& missingText = "--");
ReportValue Integer(long long value);
// A byte as a number, "0F" in text.
ReportValue Byte(unsigned value);
// A number, upper-case hex without leading zeros in text.
ReportValue HexInteger(std::uint64_t value);
ReportValue Text(const std::string& value);
ReportValue OnOff(bool on);
// A value whose text is not its JSON form ("Ext ID" for true).
ReportValue Shown(nlohmann::ordered_json json, const std::string& text);
// Bytes: a JSON array of numbers, "FF FF ..." in text.
ReportValue Bytes(const std::vector<unsigned>& values);

class Report {
 public:
  // How a section's fields stand in text: one "label = value" a line, all on
  // one line after the section's label, or as rows "label value" with the
  // labels padded to a column.
  enum class Layout { Lines, OneLine, Table };

  explicit Report(bool json) : json_(json) {}

  // A field of the current section. unit follows the value in text only.
  void field(const std::string& key, const std::string& label, const ReportValue& value,
             const std::string& unit = "");
  // In text, skipped unless the value is a non-empty string; in JSON, null when empty.
  void note(const std::string& key, const std::string& label, const std::string& text);
  // Opens a nested section: a JSON object under key, a heading "label:" in text.
  void begin(const std::string& key, const std::string& label, Layout layout = Layout::Lines);
  void end();

  // The whole output: the text as written, or the JSON object and a line end.
  void write(std::ostream& os) const;

 private:
  struct Section {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    std::string key;
    Layout layout;
    int indent;
    std::string line;   // the OneLine section's text so far
    bool empty = true;  // no field yet
  };
  Section& top();
  void textLine(const std::string& text);

  bool json_;
  std::vector<Section> stack_{
      Section{nlohmann::ordered_json::object(), "", Layout::Lines, 0, "", true}};
  std::string text_;
};

}  // namespace zk7cli
