// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Property: showing any register set through the summary refresh leaves the
// register set as it was. Two writes are allowed, both normalisations of a
// byte the refresh shows:
//  - a CAN identifier type box that changes state rewrites its SIDL byte with
//    bits 4 and 2 cleared (SIDL AND 0xEB), bit 3 unchanged;
//  - the main window's oscillator option, when it changes, rewrites
//    ConfigWord with the same mode and its high byte cleared (word AND 0xFF);
//    never for mode 2, which selects no option.
// Every other register byte, user memory, the checksum and every other bit of
// ConfigWord must be identical.
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "gui/refresh.h"
#include "gui_support/fixture.h"
#include "model/format.h"
#include "shell/frmMain.h"

namespace {

using zk7::RegisterSet;

constexpr int kSidl[] = {zk7::TXID0SIDL, zk7::TXID1SIDL, zk7::TXID2SIDL,
                         zk7::RXMSIDL,   zk7::RXF0SIDL,  zk7::RXF1SIDL};

const WindowId kRefreshed[] = {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1,
                               WindowId::PWM2};

// A register's name, else the image entry (reserved byte, user memory, checksum).
std::string Name(int entry) {
  const char* n = entry < zk7::kRegisterCount ? zk7::RegisterName(entry) : "";
  return *n ? n : "image entry " + std::to_string(entry);
}

// The type box of identifier i (0..5) if the CAN window has one.
QCheckBox* TypeBox(int i) {
  EditorWindow* can = Windows::instance().existing(WindowId::CAN);
  return can ? can->findChild<QCheckBox*>(QString("chkIDType_%1").arg(i)) : nullptr;
}

// The mode of the main window's selected oscillator option; -1 without a
// main window, -2 when none is selected.
int SelectedOscMode() {
  frmMain* m = MainWindow();
  if (!m) return -1;
  const int modes[] = {zk7::OscLP, zk7::OscXT, zk7::OscHS};
  for (int i = 0; i < 3; ++i)
    if (m->optXTAL[i]->isChecked()) return modes[i];
  return -2;
}

// Differences between before and after that the rules above do not allow.
// typeBefore[i] is identifier i's type box state before the refresh (-1 when
// unknown); a type box that kept its state must not have touched SIDL.
// oscBefore is SelectedOscMode() before the refresh: only an option that
// becomes selected may rewrite ConfigWord.
std::string ForbiddenChanges(const RegisterSet& before, const RegisterSet& after,
                             const int (&typeBefore)[6], int oscBefore) {
  std::ostringstream out;
  for (int r = 0; r < zk7::kImageSize; ++r) {
    const unsigned b = before.entry(r), a = after.entry(r);
    if (a == b) continue;
    bool allowed = false;
    for (int i = 0; i < 6; ++i) {
      if (kSidl[i] != r) continue;
      const bool typeChanged = typeBefore[i] < 0 || typeBefore[i] != static_cast<int>((b >> 3) & 1);
      allowed = typeChanged && a == (b & 0xEB);
    }
    if (!allowed) out << Name(r) << ": " << zk7::Hex2(b) << " became " << zk7::Hex2(a) << "\n";
  }
  const auto wb = static_cast<std::uint16_t>(before.ConfigWord());
  const auto wa = static_cast<std::uint16_t>(after.ConfigWord());
  const bool optionChanges =
      oscBefore != -1 && (wb & 3) != zk7::OscInvalid && oscBefore != static_cast<int>(wb & 3);
  if (wa != wb && !(optionChanges && wa == (wb & 0xFF)))
    out << "ConfigWord: " << zk7::HexNoPad(wb) << " became " << zk7::HexNoPad(wa) << "\n";
  return out.str();
}

class RefreshProperty : public GuiTest {
 protected:
  // A register set drawn from rng: uniform bytes, or (every other set) the
  // defaults with some bytes replaced, which keeps many fields in their
  // usual ranges while others take odd values.
  static RegisterSet RandomSet(std::mt19937& rng, bool mostlyDefaults) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::bernoulli_distribution replace(0.3);
    RegisterSet rs;
    zk7::SetDefaultRegisters(rs);
    for (int i = 0; i < zk7::kImageSize; ++i)
      if (!mostlyDefaults || replace(rng)) rs.setEntry(i, byte(rng));
    const int word = std::uniform_int_distribution<int>(0, 0xFFFF)(rng);
    rs.setConfigWord(static_cast<std::int16_t>(mostlyDefaults ? word & 0x3FFF : word));
    return rs;
  }

  static void TypeStates(int (&states)[6]) {
    for (int i = 0; i < 6; ++i) {
      QCheckBox* box = TypeBox(i);
      states[i] = box ? (box->isChecked() ? 1 : 0) : -1;
    }
  }

  // Runs count random sets through the summary refresh; windows keep their
  // control states from one set to the next, as they do in use.
  void Run(unsigned seed, int count) {
    std::mt19937 rng(seed);
    const double frequencies[] = {4000000.0, 20000000.0, 3686400.0, 32768.0, 0.0};
    int failures = 0;
    for (int n = 0; n < count && failures < 5; ++n) {
      const RegisterSet before = RandomSet(rng, n % 2 == 1);
      App().Fosc = frequencies[n % 5];
      App().regs = before;
      int types[6];
      TypeStates(types);
      const int osc = SelectedOscMode();
      RefreshAll();
      const std::string diff = ForbiddenChanges(before, App().regs, types, osc);
      if (diff.empty()) continue;
      ++failures;
      ADD_FAILURE() << "seed " << seed << ", set " << n << ", Fosc " << App().Fosc
                    << ": the summary refresh changed\n"
                    << diff;
    }
  }
};

TEST_F(RefreshProperty, RandomRegisterSetsSurviveTheSummaryRefresh) {
  for (WindowId id : kRefreshed) ASSERT_TRUE(Windows::instance().has(id));
  // The main window's load ends with the first refresh: its own section at
  // once, the editors' (which creates every editor) once it is on the screen.
  auto main = std::make_unique<frmMain>();
  main->show();
  for (WindowId id : kRefreshed) QTRY_VERIFY(Windows::instance().existing(id) != nullptr);
  Run(20261206, 400);
  // The ZK7B variant hides the A/D controls; showing must still write nothing.
  QTest::mouseClick(main->cmdDevice, Qt::LeftButton);
  ASSERT_TRUE(main->isZK7B());
  Run(1206, 200);
}

// Opening a window shows the register set too. Once a refresh has shown a
// random set (and made its normalisations), opening any editor, including
// those whose activation runs the refresh again, must change nothing at all.
TEST_F(RefreshProperty, OpeningEachEditorKeepsTheRegisterSet) {
  auto main = std::make_unique<frmMain>();
  std::mt19937 rng(7);
  const WindowId opened[] = {WindowId::GPIO,     WindowId::CAN,   WindowId::AtoD,
                             WindowId::PWM1,     WindowId::PWM2,  WindowId::PWMSlider,
                             WindowId::DCSlider, WindowId::STCON, WindowId::UserReg};
  for (int n = 0; n < 40; ++n) {
    const RegisterSet before = RandomSet(rng, n % 2 == 1);
    App().regs = before;
    RefreshAll();
    const RegisterSet shown = App().regs;  // after the allowed normalisations
    for (WindowId id : opened) {
      EditorWindow* w = Windows::instance().get(id);
      if (!w) continue;
      int types[6];
      TypeStates(types);
      Seam::instance().execModal(w);
      const std::string diff = ForbiddenChanges(shown, App().regs, types, -1);
      ASSERT_TRUE(diff.empty()) << "set " << n << ", opening window " << static_cast<int>(id)
                                << " changed\n"
                                << diff;
    }
  }
}

}  // namespace
