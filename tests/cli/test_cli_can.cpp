// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "model/acceptance.h"

using namespace zk7;
using Json = nlohmann::json;

TEST_F(CliTest, BitTimingJsonAndExitCodes) {
  auto r = RunCli({"bittiming", "--fosc-khz", "25000", "--bitrate", "800k", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["fosc_hz"], 25000000);
  const Json& rec = j["recommended"];
  const Json expected = Json::parse(R"({"brp": 1, "prop": 5, "ps1": 6, "ps2": 4, "sjw": 2,
      "quanta": 16, "bitrate": 781250, "error_percent": 2.34375, "sample_point_percent": 75,
      "cnf1": 64, "cnf2": 172, "cnf3": 3})");
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(rec[key], value) << key;
  EXPECT_EQ(j["settings"][0], rec);

  r = RunCli({"bittiming", "--fosc-khz", "4000", "--bitrate", "1M", "--json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Json::parse(r.out)["recommended"].is_null());
  r = RunCli({"bittiming", "--fosc-khz=4000", "--bitrate=125k"});
  EXPECT_TRUE(ExitsSaying(r, 0, r.out, "CNF1 00, CNF2 B5, CNF3 01"));
  const std::vector<std::vector<std::string>> bad = {{"--bitrate=125k", "--sjw=5"},
                                                     {"--bitrate=125k", "--sample-point=40"},
                                                     {"--bitrate=125k", "--tolerance=x"},
                                                     {"--bitrate=125k", "extra"},
                                                     {"--bitrate=2M"},
                                                     {}};
  for (auto args : bad) {
    args.insert(args.begin(), {"bittiming", "--fosc-khz", "4000"});
    r = RunCli(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_TRUE(r.out.empty()) << args.back();
  }
  EXPECT_TRUE(Contains(RunCli({"bittiming", "--help"}).out, "Examples:"));
}

TEST_F(CliTest, FilterDesignThenTest) {
  auto r = RunCli({"filter-design", "120", "121", "12a", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"extended": false, "mask": 2046, "filter0": 288,
      "filter1": 298, "accepted_count": 4, "beyond_list": 1})"));
  EXPECT_EQ(RunCli({"filter-design", "800"}).code, 2);

  RegisterSet rs = defaults_;
  ApplyFilterDesign(rs, *DesignFilters({0x120, 0x121, 0x12A}, false));
  WriteDvs("f.dvs", rs);
  r = RunCli({"filter", Path("f.dvs"), "--test", "12B"});
  EXPECT_TRUE(ExitsSaying(r, 0, r.out, "taken by RXF1"));
  EXPECT_TRUE(Contains(r.out, "4 standard and 0 extended")) << r.out;
  EXPECT_EQ(RunCli({"filter", Path("f.dvs"), "--test", "122"}).code, 1);
  EXPECT_EQ(RunCli({"filter", Path("f.dvs"), "--test", "120", "--ext"}).code, 1);
  EXPECT_EQ(RunCli({"filter", "--test", "12A", "--filters", "120:7F0"}).code, 0);
  EXPECT_EQ(RunCli({"filter", "--test", "12A", "--filters", "120:7F0,130:7F8"}).code, 2);
}
