// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog show: the configuration of a device or HEX file in words and
// numbers, as text or as one JSON object. Each field is written once, into a
// Report that renders either form.
#include <ostream>

#include "cli/configuration.h"
#include "cli/report.h"
#include "model/atod.h"
#include "model/can_timing.h"
#include "model/format.h"
#include "model/named_fields.h"
#include "model/pwm.h"
#include "model/stcon.h"

namespace zk7cli {

namespace {

void ReportImage(Report& r, const zk7::RegisterSet& rs) {
  r.begin("registers", "Registers (position, name, value)", Report::Layout::Table);
  for (const auto& reg : zk7::RegisterTable())
    r.field(
        zk7::EntryName(reg.index),
        zk7::Hex2(static_cast<unsigned>(reg.index)) + "  " + (*reg.name ? reg.name : "reserved"),
        Byte(rs.reg(reg.index)));
  r.end();
  const auto& user = rs.userMemory();
  r.field("user_memory", "User memory", Bytes(std::vector<unsigned>(user.begin(), user.end())));
  r.field("checksum", "Checksum", Byte(rs.ImageChecksum()));
  const auto word = static_cast<std::uint16_t>(rs.ConfigWord());
  r.field("config_word", "Config word", Shown(word, "0x" + zk7::HexNoPad(word)));
}

void ReportIdentifiers(Report& r, const zk7::RegisterSet& rs) {
  r.begin("identifiers", "CAN identifiers (RAW ID)");
  for (int id = 0; id < zk7::kCanIdCount; ++id) {
    const auto value = zk7::ReadIdentifier(rs, id);
    r.begin(zk7::kCanIdName[static_cast<std::size_t>(id)],
            zk7::kCanIdName[static_cast<std::size_t>(id)], Report::Layout::OneLine);
    r.field("extended", "", Shown(value.extended, value.extended ? "Ext ID" : "Std ID"));
    r.field("id", "", HexInteger(value.id));
    r.end();
  }
  r.end();
}

void ReportConfigWord(Report& r, std::int16_t value) {
  const auto meaning = zk7::DescribeConfigWord(static_cast<std::uint16_t>(value));
  r.begin("config_word", "Configuration word");
  r.field("oscillator", "OSC Setting", Text(meaning.oscillator));
  r.field("gp7", "GP7", Text(meaning.gp7));
  r.end();
}

void ReportCan(Report& r, const zk7::RegisterSet& rs, double fosc) {
  const auto t = zk7::DecodeBitTiming(rs);
  const int numTQ = zk7::NumTQ(t.prop, t.ps1, t.ps2);
  const double bitTime = zk7::BitTimeUs(t.brp, numTQ, fosc);
  r.begin("can_bit_timing", "CAN bit timing");
  r.field("sjw_tq", "SJW", Integer(t.sjw), "TQ");
  r.field("baud_rate_prescaler", "Baud Rate Prescaler", Integer(t.brp + 1));
  r.field("propagation_segment_tq", "Propagation Segment", Integer(t.prop), "TQ");
  r.field("phase_segment1_tq", "Phase Segment 1", Integer(t.ps1), "TQ");
  r.field("phase_segment2_tq", "Phase Segment 2", Integer(t.ps2), "TQ");
  r.field("samples", "SAM", Shown(t.sam ? 3 : 1, t.sam ? "3X" : "1X"));
  r.field("btlmode", "BTLMODE", Shown(t.btlmode, t.btlmode ? "CNF3" : "PS1 or IPT"));
  r.field("wakfil", "WAKFIL", OnOff(t.wakfil));
  r.field("tq_per_bit", "#TQ", Integer(numTQ));
  r.field("bit_time_us", "Bit Time (us)", Number(bitTime));
  r.field("bit_rate_kbps", "Bit rate (kbit/s)", Number(zk7::BitRateKbps(bitTime)));
  r.field("sample_point_percent", "Sample point (%)",
          Number(zk7::SamplePointPercent(t.prop, t.ps1, numTQ)));
  r.note("warning", "Warning", zk7::TimingWarnings(t.sjw, t.prop, t.ps1, t.ps2, t.btlmode));
  r.end();
}

void ReportPwm(Report& r, const zk7::RegisterSet& rs, double fosc) {
  for (int module = 1; module <= 2; ++module) {
    const auto& m = zk7::PwmModuleOf(module);
    const std::uint8_t con = rs[m.con];
    const int prescale = zk7::PwmPrescale(con);
    const std::string name = "PWM" + std::to_string(module);
    r.begin("pwm" + std::to_string(module), name);
    r.field("output", "Output", OnOff(con & zk7::kPwmOutputOn));
    r.field("timer_prescaler", "Timer Prescaler", Integer(prescale));
    r.field("duty_code", "Duty code", Integer(zk7::PwmDutyCode(rs[m.dch], con)));
    zk7::PwmFigures f{};
    const bool known = zk7::ComputePwmFigures(rs, module, prescale, fosc, f);
    auto figure = [&](double v) { return known ? Number(v) : Number(std::nullopt); };
    r.field("period_us", "PWM Period (us)", figure(f.periodUs));
    r.field("frequency_khz", "PWM Freq (kHz)", figure(f.frequencyKHz));
    r.field("resolution_bits", "PWM Resolution", figure(f.resolution));
    r.field("duty_us", "Duty Cycle Period (us)", figure(f.dutyUs));
    r.field("duty_percent", "Duty Cycle (%)", figure(f.dutyPercent));
    r.end();
  }
}

void ReportAtoD(Report& r, const zk7::RegisterSet& rs, double fosc, double vrefPlus,
                double vrefMinus) {
  const std::uint8_t adcon1 = rs[zk7::ADCON1];
  const int conv = zk7::AtoDConvLine(rs), acq = zk7::AtoDAcqLine(rs),
            autoConv = zk7::AutoConvLine(rs);
  r.begin("atod", "A/D converter");
  r.field("on", "A/D Converter", OnOff(rs[zk7::ADCON0] & 0x80));
  r.begin("channels", "Channels", Report::Layout::OneLine);
  for (int n = 0; n < zk7::kThresholdChannels; ++n)
    r.field("AN" + std::to_string(n), "AN" + std::to_string(n), OnOff(((adcon1 >> n) & 1) == 0));
  r.end();
  r.field("positive_reference", "Positive reference", Text((adcon1 & 0x10) ? "Vref+" : "VDD"));
  r.field("negative_reference", "Negative reference", Text((adcon1 & 0x20) ? "Vref-" : "VSS"));
  r.field("conversion_clock", "Conversion clock",
          Text(zk7::AtoDConvLines()[static_cast<std::size_t>(conv)].text));
  r.field("conversion_rate_mhz", "A/D Conversion Rate (MHz)",
          Number(zk7::AtoDConvRateMHz(fosc, conv),
                 zk7::AtoDConvLines()[static_cast<std::size_t>(conv)].data == 0
                     ? zk7::ReservedClockText()
                     : zk7::NoValue()));
  r.field("acquisition", "Acquisition",
          Text(zk7::AtoDAcqLines()[static_cast<std::size_t>(acq)].text));
  r.field("acquisition_time_us", "A/D Aquisition Time (us)", Number(zk7::AtoDAcqTimeUs(fosc, acq)));
  r.field("auto_conversion", "Automatic conversion",
          Text(zk7::AutoConvLines()[static_cast<std::size_t>(autoConv)].text));
  r.field("time_between_conversions_ms", "Time Between Conversions (ms)",
          Number(zk7::AutoConvTimeMs(fosc, autoConv)));
  r.field("vref_plus_v", "Vref+ (V)", Number(vrefPlus));
  r.field("vref_minus_v", "Vref- (V)", Number(vrefMinus));
  const auto scale = zk7::ScaleFromReferences(vrefPlus, vrefMinus);
  r.begin("thresholds", "Threshold Detection");
  for (int n = 0; n < zk7::kThresholdChannels; ++n) {
    const int code = zk7::ThresholdCode(rs, n);
    r.begin("AN" + std::to_string(n), "AN" + std::to_string(n), Report::Layout::OneLine);
    r.field("on", "", OnOff((rs[zk7::IOINTEN] >> n) & 1));
    r.field("polarity", "polarity", Integer((rs[zk7::IOINTPO] >> n) & 1));
    r.field("code", "code", Integer(code));
    r.field("voltage_v", "voltage", Number(zk7::ThresholdVoltage(code, scale)), "V");
    r.end();
  }
  r.end();
  r.end();
}

void ReportScheduled(Report& r, const zk7::RegisterSet& rs, double fosc) {
  const std::uint8_t stcon = rs[zk7::STCON];
  r.begin("scheduled_tx", "Scheduled transmission");
  r.field("on", "Scheduled TX", OnOff(stcon & zk7::kSTCONEnable));
  r.field("atod_data", "Data",
          Shown((stcon & zk7::kSTCONAtoDData) != 0,
                (stcon & zk7::kSTCONAtoDData) ? "TX A/D Registers" : "TX no data"));
  r.field("base_frequency", "Base Frequency",
          Text(zk7::STCONBaseOf(zk7::STCONBaseIndex(stcon)).text));
  r.field("multiplier", "Multiplier", Integer(zk7::STCONMultiplier(stcon)));
  r.field("period_ms", "Scheduled TX (ms)", Number(zk7::STCONPeriodMs(stcon, fosc)));
  r.end();
}

int RunShow(const Args& args, Io& io) {
  double vref[2] = {5.0, 0.0};
  const char* vrefOption[2] = {"--vref-plus", "--vref-minus"};
  for (int k = 0; k < 2; ++k) {
    if (!args.has(vrefOption[k])) continue;
    const auto v = zk7::ParseReferenceVoltage(args.get(vrefOption[k]));
    if (!v)
      return UsageError(io, args.command, std::string(vrefOption[k]) + " needs a voltage like 3.3");
    vref[k] = *v;
  }
  Configuration config;
  const std::string path = args.file();
  if (!LoadConfiguration(io, path, config)) return kExitUsage;

  Report r(args.flag("--json"));
  r.field("file", "Configuration", path.empty() ? Shown(nullptr, "default") : Text(path));
  r.field("fosc_khz", "Fosc", Text(config.foscText), "kHz");
  ReportImage(r, config.regs);
  ReportIdentifiers(r, config.regs);
  r.begin("derived", "Derived at Fosc = " + config.foscText + " kHz");
  ReportConfigWord(r, config.regs.ConfigWord());
  ReportCan(r, config.regs, config.foscHz);
  ReportPwm(r, config.regs, config.foscHz);
  ReportAtoD(r, config.regs, config.foscHz, vref[0], vref[1]);
  ReportScheduled(r, config.regs, config.foscHz);
  r.end();
  r.write(io.out);
  return kExitOk;
}

}  // namespace

extern const Command kShowCommand = {
    "show",
    {"[FILE] [--vref-plus V] [--vref-minus V] [--json]"},
    "registers, configuration word and derived values",
    {{"--vref-plus", "V"}, {"--vref-minus", "V"}, {"--json", nullptr}},
    0,
    1,
    "Shows every register of FILE (a device file or an Intel HEX file; the default\n"
    "configuration at 4000 kHz without it) in hexadecimal, the user memory, the\n"
    "checksum, the configuration word, the CAN identifiers, and the values that\n"
    "follow from them at the file's frequency. Threshold voltages use the\n"
    "references given (5 and 0 V unless given). --json writes one JSON object.\n"
    "Examples:\n"
    "  zk7prog show node.dvs\n"
    "  zk7prog show node.hex --json | jq .identifiers.TXID0\n",
    false,
    RunShow};

}  // namespace zk7cli
