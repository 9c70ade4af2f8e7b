// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's port: choosing it, checking it, saying once what is wrong
// with it or what puts a chip at risk on it, and its panel in the status bar.
// The Port submenu itself is built with the menus (shell/menus.cpp).
#include <QLabel>

#include "gui/app.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "port/port.h"
#include "shell/frmMain.h"

void frmMain::portCheck() {
  zk7::Port& port = App().port;
  if (!port.accessProblem().empty()) {
    // A port the system cannot reach reads all ones; say why instead of
    // reporting a wrong address, and say each distinct problem once.
    if (accessProblemsSaid_.insert(port.accessProblem()).second)
      Seam::instance().message(this, zk7::PortTitle(port), Q(port.accessProblem()),
                               Seam::Icon::Critical);
  } else {
    App().programmer.CheckLPT([this](const std::string& title, const std::string& text) {
      Seam::instance().message(this, Q(title), Q(text), Seam::Icon::Critical);
    });
  }
  updatePortStatus();
  warnOfPortRisk();
}

void frmMain::warnOfPortRisk() {
  const zk7::PortDriver* driver = App().port.driver();
  const std::string risk = driver ? driver->warning() : "";
  if (risk.empty() || !portRisksSaid_.insert(App().port.description() + risk).second) return;
  Seam::instance().message(this, "Check Parallel Port", Q(risk), Seam::Icon::Warning);
}

void frmMain::updatePortStatus() {
  statusPort->setText(Q(App().port.description()));
  // The tool tip explains the text: why the port cannot be reached, or the
  // short note after it ("shared with lp: ...").
  const zk7::PortDriver* driver = App().port.driver();
  statusPort->setToolTip(driver ? Q(driver->warning()) : Q(App().port.accessProblem()));
}

bool frmMain::portReachable() {
  // A driver's own trouble during a run (a chip file not saved) is the run's
  // to report; only a port no driver reaches is refused here.
  zk7::Port& port = App().port;
  if (port.driver()) return true;
  // The fix may have been made meanwhile (a group joined, a module loaded).
  App().programmer.InitLPTPort(port.base());
  checkPortItem();
  updatePortStatus();
  if (port.driver()) return true;
  Seam::instance().message(this, zk7::PortTitle(port), Q(port.accessProblem()),
                           Seam::Icon::Critical);
  return false;
}

void frmMain::selectPort(std::uint16_t base) {
  App().programmer.InitLPTPort(base);
  checkPortItem();
  portCheck();
}

void frmMain::choosePort(std::uint16_t base) {
  if (flowRunning_ || App().programmer.busy()) return;
  zk7::Port& port = App().port;
  if (port.choice().kind == zk7::PortChoice::Device) port.setChoice(zk7::PortChoice());
  selectPort(base);
}

void frmMain::choosePortText(const std::string& portText) {
  if (flowRunning_ || App().programmer.busy()) return;
  zk7::PortChoice parsed;
  std::uint16_t base = App().port.base();
  std::string error;
  if (!zk7::ParsePortChoice(portText, parsed, base, error)) return;
  zk7::Port& port = App().port;
  if (parsed.kind != zk7::PortChoice::Device && parsed.kind != zk7::PortChoice::Ftdi)
    return choosePort(base);
  if (port.choice().kind != zk7::PortChoice::Emulator) port.setChoice(parsed);
  selectPort(base);
}
