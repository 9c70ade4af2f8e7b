// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/report.h"

#include <cmath>

#include "model/format.h"
#include "model/named_fields.h"

namespace zk7cli {

namespace {

constexpr int kTableLabelWidth = 14;

}  // namespace

ReportValue Number(double value) {
  if (!std::isfinite(value)) return {nullptr, zk7::NoValue()};
  return {value, zk7::FormatNumber(value)};
}

ReportValue Number(const std::optional<double>& value, const std::string& missingText) {
  if (!value || !std::isfinite(*value)) return {nullptr, missingText};
  return Number(*value);
}

ReportValue Integer(long long value) {
  return {value, std::to_string(value)};
}

ReportValue Byte(unsigned value) {
  return {value, zk7::Hex2(value)};
}

ReportValue HexInteger(std::uint64_t value) {
  return {value, zk7::HexText(value)};
}

ReportValue Text(const std::string& value) {
  return {value, value};
}

ReportValue OnOff(bool on) {
  return {on, on ? "ON" : "OFF"};
}

ReportValue Shown(nlohmann::ordered_json json, const std::string& text) {
  return {std::move(json), text};
}

ReportValue Bytes(const std::vector<unsigned>& values) {
  ReportValue v{nlohmann::ordered_json::array(), ""};
  for (unsigned b : values) {
    v.json.push_back(b);
    v.text += (v.text.empty() ? "" : " ") + zk7::Hex2(b);
  }
  return v;
}

Report::Section& Report::top() {
  return stack_.back();
}

void Report::textLine(const std::string& text) {
  text_ += std::string(static_cast<std::size_t>(top().indent), ' ') + text + '\n';
}

void Report::field(const std::string& key, const std::string& label, const ReportValue& value,
                   const std::string& unit) {
  top().object[key] = value.json;
  const std::string shown = value.text + (unit.empty() ? "" : " " + unit);
  switch (top().layout) {
    case Layout::Lines:
      // The outermost fields read "Label: value", nested ones "Label = value".
      textLine(label + (stack_.size() == 1 ? ": " : " = ") + shown);
      break;
    case Layout::OneLine:
      top().line += (top().empty || label.empty() ? " " : ", ") +
                    (label.empty() ? shown : label + " = " + shown);
      break;
    case Layout::Table: {
      std::string padded = label;
      if (padded.size() < kTableLabelWidth) padded.resize(kTableLabelWidth, ' ');
      textLine(padded + ' ' + shown);
      break;
    }
  }
  top().empty = false;
}

void Report::note(const std::string& key, const std::string& label, const std::string& text) {
  if (text.empty())
    top().object[key] = nullptr;
  else
    field(key, label, Text(text));
}

void Report::begin(const std::string& key, const std::string& label, Layout layout) {
  const int indent = top().indent;
  if (layout != Layout::OneLine && !label.empty()) textLine(label + ":");
  Section s{nlohmann::ordered_json::object(),
            key,
            layout,
            layout == Layout::OneLine ? indent : indent + (label.empty() ? 0 : 2),
            "",
            true};
  if (layout == Layout::OneLine) s.line = label + ":";
  stack_.push_back(std::move(s));
}

void Report::end() {
  Section done = std::move(stack_.back());
  stack_.pop_back();
  if (done.layout == Layout::OneLine) textLine(done.line);
  top().object[done.key] = std::move(done.object);
}

void Report::write(std::ostream& os) const {
  if (json_)
    os << stack_.front().object.dump(2) << '\n';
  else
    os << text_;
}

}  // namespace zk7cli
