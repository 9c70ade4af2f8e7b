// zk7prog show: the configuration of a device file in words and numbers.
#include <iomanip>
#include <ostream>

#include "cli/cli_support.h"
#include "model/atod.h"
#include "model/can_timing.h"
#include "model/format.h"
#include "model/pwm.h"
#include "model/stcon.h"

namespace zk7cli {

namespace {

void PrintRegisters(Io& io, const zk7::RegisterSet& rs) {
  io.out << "Registers (position, name, value):\n";
  for (const auto& r : zk7::RegisterTable())
    io.out << "  " << zk7::Hex2(static_cast<unsigned>(r.index)) << "  " << std::left
           << std::setw(10) << (*r.name ? r.name : "reserved") << std::right << ' '
           << zk7::Hex2(rs.reg(r.index)) << '\n';
  io.out << "User memory:";
  for (int k = 0; k < zk7::kUserMemorySize; ++k) io.out << ' ' << zk7::Hex2(rs.user(k));
  io.out << "\nChecksum: " << zk7::Hex2(rs.ImageChecksum()) << '\n';
}

void PrintConfigWord(Io& io, std::int16_t value) {
  static const char* const kOsc[] = {"LP", "XT", "INVALID", "HS"};
  const unsigned word = static_cast<std::uint16_t>(value);
  io.out << "Config word: " << value << " (0x" << zk7::HexNoPad(word) << ")\n"
         << "  OSC Setting = " << kOsc[word & 3] << '\n'
         << "  GP7 = " << ((word & 4) ? "RESET Pin" : "Digital Input") << '\n';
}

// A derived quantity: its text, "--" when it has no finite value (Fosc 0).
std::string Num(double value) {
  return zk7::FormatNumber(value);
}

const char* OnOff(bool on) {
  return on ? "ON" : "OFF";
}

void PrintCan(Io& io, const zk7::RegisterSet& rs, double fosc) {
  const auto t = zk7::DecodeBitTiming(rs);
  const int numTQ = zk7::NumTQ(t.prop, t.ps1, t.ps2);
  const double bitTime = zk7::BitTimeUs(t.brp, numTQ, fosc);
  io.out << "CAN bit timing:\n"
         << "  SJW = " << t.sjw << " TQ, Baud Rate Prescaler = " << t.brp + 1 << '\n'
         << "  Propagation Segment = " << t.prop << "TQ, Phase Segment 1 = " << t.ps1
         << "TQ, Phase Segment 2 = " << t.ps2 << "TQ\n"
         << "  SAM = " << (t.sam ? "3X" : "1X")
         << ", BTLMODE = " << (t.btlmode ? "CNF3" : "PS1 or IPT")
         << ", WAKFIL = " << OnOff(t.wakfil) << '\n'
         << "  #TQ = " << numTQ << '\n'
         << "  Bit Time (us) = " << Num(bitTime) << '\n'
         << "  Bit rate (kbit/s) = " << Num(zk7::BitRateKbps(bitTime)) << '\n'
         << "  Sample point (%) = " << Num(zk7::SamplePointPercent(t.prop, t.ps1, numTQ)) << '\n';
  const std::string warnings = zk7::TimingWarnings(t.sjw, t.prop, t.ps1, t.ps2, t.btlmode);
  if (!warnings.empty()) io.out << "  Warning: " << warnings << '\n';

  io.out << "CAN identifiers (RAW ID):\n";
  for (int id = 0; id < zk7::kCanIdCount; ++id) {
    const bool extended = rs.reg(zk7::CanIdReg(id, zk7::SIDL)) & zk7::kSIDLExtended;
    io.out << "  " << std::left << std::setw(6) << zk7::kCanIdName[static_cast<std::size_t>(id)]
           << std::right << (extended ? "Ext ID " : "Std ID ")
           << zk7::HexNoPad(zk7::RawID(rs, id, extended)) << '\n';
  }
}

void PrintPwm(Io& io, const zk7::RegisterSet& rs, double fosc) {
  for (int module = 1; module <= 2; ++module) {
    const auto& m = zk7::PwmModuleOf(module);
    const std::uint8_t con = rs[m.con];
    const int prescale = zk7::PwmPrescale(con);
    io.out << "PWM" << module << ": output " << OnOff(con & zk7::kPwmOutputOn)
           << ", Timer Prescaler = " << prescale
           << ", duty code = " << zk7::PwmDutyCode(rs[m.dch], con) << '\n';
    zk7::PwmFigures f{};
    const bool known = zk7::ComputePwmFigures(rs, module, prescale, fosc, f);
    auto show = [&](double v) { return known ? Num(v) : std::string(zk7::NoValue()); };
    io.out << "  PWM Period (us) = " << show(f.periodUs) << '\n'
           << "  PWM Freq (kHz) = " << show(f.frequencyKHz) << '\n'
           << "  PWM Resolution = " << show(f.resolution) << '\n'
           << "  Duty Cycle Period (us) = " << show(f.dutyUs) << '\n'
           << "  Duty Cycle (%) = " << show(f.dutyPercent) << '\n';
  }
}

void PrintAtoD(Io& io, const zk7::RegisterSet& rs, double fosc, const zk7::ThresholdScale& scale) {
  const std::uint8_t adcon1 = rs[zk7::ADCON1];
  io.out << "A/D Converter is " << OnOff(rs[zk7::ADCON0] & 0x80) << '\n' << "  Channels:";
  for (int n = 0; n < zk7::kThresholdChannels; ++n)
    io.out << (n ? ", AN" : " AN") << n << ' ' << OnOff(((adcon1 >> n) & 1) == 0);
  io.out << "\n  References: " << ((adcon1 & 0x10) ? "Vref+" : "VDD") << ", "
         << ((adcon1 & 0x20) ? "Vref-" : "VSS") << '\n';
  const int conv = zk7::AtoDConvLine(rs), acq = zk7::AtoDAcqLine(rs),
            autoConv = zk7::AutoConvLine(rs);
  io.out << "  A/D Conversion Rate (MHz) = " << zk7::AtoDConvRateText(fosc, conv) << " ("
         << zk7::AtoDConvLines()[static_cast<std::size_t>(conv)].text << ")\n"
         << "  A/D Aquisition Time (us) = " << zk7::AtoDAcqTimeText(fosc, acq) << " ("
         << zk7::AtoDAcqLines()[static_cast<std::size_t>(acq)].text << ")\n"
         << "  Time Between Conversions (ms) = " << zk7::AutoConvTimeText(fosc, autoConv) << " ("
         << zk7::AutoConvLines()[static_cast<std::size_t>(autoConv)].text << ")\n"
         << "  Threshold Detection (" << Num(scale.base) << " to " << Num(scale.base + scale.span)
         << " V):\n";
  for (int n = 0; n < zk7::kThresholdChannels; ++n) {
    const int code = zk7::ThresholdCode(rs, n);
    io.out << "    AN" << n << ": " << OnOff((rs[zk7::IOINTEN] >> n) & 1) << ", polarity "
           << ((rs[zk7::IOINTPO] >> n) & 1) << ", code " << code << " = "
           << Num(zk7::ThresholdVoltage(code, scale)) << " V\n";
  }
}

void PrintScheduled(Io& io, const zk7::RegisterSet& rs, double fosc) {
  const std::uint8_t stcon = rs[zk7::STCON];
  io.out << "Scheduled TX = " << OnOff(stcon & zk7::kSTCONEnable) << ", "
         << ((stcon & zk7::kSTCONAtoDData) ? "TX A/D Registers" : "TX no data") << '\n'
         << "  Base Frequency = " << zk7::STCONBaseOf(zk7::STCONBaseIndex(stcon)).text
         << ", Multiplier = " << zk7::STCONMultiplier(stcon) << '\n'
         << "  Scheduled TX (ms) = " << Num(zk7::STCONPeriodMs(stcon, fosc)) << '\n';
}

}  // namespace

int RunShow(const std::vector<std::string>& words, Io& io) {
  const char* cmd = "show";
  Args args;
  std::string error;
  if (!ParseArgs(words, {"--vref-plus", "--vref-minus"}, args, error))
    return UsageError(io, cmd, error);
  if (args.help) {
    io.out << "Usage: zk7prog show [FILE.dvs] [--vref-plus V] [--vref-minus V]\n"
              "Shows every register of FILE.dvs (the default configuration at 4000 kHz\n"
              "without it) in hexadecimal, the user memory, the checksum, the configuration\n"
              "word, and the values that follow from them at the file's frequency.\n"
              "Threshold voltages use the references given (5 and 0 V unless given).\n";
    return kExitOk;
  }
  int code = kExitOk;
  if (!CheckPositionals(io, cmd, args, 0, 1, code)) return code;
  double vref[2] = {5.0, 0.0};
  const char* vrefOption[2] = {"--vref-plus", "--vref-minus"};
  for (int k = 0; k < 2; ++k) {
    if (!args.has(vrefOption[k])) continue;
    const auto v = zk7::ParseReferenceVoltage(args.get(vrefOption[k]));
    if (!v) return UsageError(io, cmd, std::string(vrefOption[k]) + " needs a voltage like 3.3");
    vref[k] = *v;
  }
  Configuration config;
  const std::string path = args.positional.empty() ? "" : args.positional[0];
  if (!LoadConfiguration(io, path, config)) return kExitUsage;

  io.out << "Configuration: " << (path.empty() ? "default" : path) << '\n'
         << "Fosc = " << config.foscText << " kHz\n";
  PrintRegisters(io, config.regs);
  PrintConfigWord(io, config.regs.ConfigWord());
  io.out << "\nDerived at Fosc = " << config.foscText << " kHz:\n";
  PrintCan(io, config.regs, config.foscHz);
  PrintPwm(io, config.regs, config.foscHz);
  PrintAtoD(io, config.regs, config.foscHz, zk7::ScaleFromReferences(vref[0], vref[1]));
  PrintScheduled(io, config.regs, config.foscHz);
  return kExitOk;
}

}  // namespace zk7cli
