// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A station's settings: the port in use as a setting, and reading and
// checking the settings the window's fields or the command line give.
#include <QFile>
#include <QFileInfo>

#include "files/configfile.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "production/serial.h"
#include "shell/frmProduction.h"

QString PortText(const zk7::Port& port) {
  const zk7::PortChoice& c = port.choice();
  switch (c.kind) {
    case zk7::PortChoice::Device:
      return Q(c.device);
    case zk7::PortChoice::Emulator:
      return c.emulatorOptions.empty() ? "emulator" : Q("emulator:" + c.emulatorOptions);
    case zk7::PortChoice::Ftdi:
      return c.usb.empty() ? "ftdi" : Q("ftdi:" + c.usb);
    case zk7::PortChoice::Auto:
      break;
  }
  return Q(zk7::HexNoPad(port.base()));
}

bool ReadStationSettings(const StationSettings& settings, const zk7::RegisterSet& withoutFile,
                         const QString& withoutFileName, StationSetup& out, QString& error,
                         bool optionNames) {
  StationSetup setup;
  std::string e;
  if (!settings.serial.isEmpty()) {
    zk7::SerialRule rule;
    if (!zk7::ParseSerialRule(settings.serial.toStdString(), rule, e)) {
      error = (optionNames ? "--serial: " : "Serial rule: ") + Q(e);
      return false;
    }
    if (settings.log.isEmpty()) {
      error = optionNames ? "--serial needs --log: the log keeps the values given"
                          : "A serial rule needs a log: the log keeps the values given.";
      return false;
    }
    setup.plan.serial = rule;
  }
  setup.plan.logPath = QFile::encodeName(settings.log).toStdString();
  setup.plan.check = true;
  if (!settings.port.isEmpty()) {
    zk7::PortChoice choice;
    std::uint16_t base = 0;  // no port has address 0: it stays 0 when the text names none
    if (!zk7::ParsePortChoice(settings.port.toStdString(), choice, base, e)) {
      error = (optionNames ? "--port: " : "Port: ") + Q(e);
      return false;
    }
    setup.port = choice;
    if (base != 0) setup.portBase = base;
  }
  if (settings.configuration.isEmpty()) {
    setup.configuration = withoutFile;
    setup.configurationName = withoutFileName;
  } else {
    zk7::ConfigurationFile file;
    if (!zk7::ReadConfigurationFile(QFile::encodeName(settings.configuration).toStdString(), file,
                                    e, LocaleDecimalPoint())) {
      error = (optionNames ? "" : "Configuration: ") + settings.configuration + ": " + Q(e);
      return false;
    }
    setup.configuration = file.registers;
    setup.configurationName = QFileInfo(settings.configuration).fileName();
    if (file.configWordDefaulted) setup.notes << zk7::ConfigWordDefaultedNote();
    if (const std::string note = zk7::ChecksumNote(file); !note.empty())
      setup.notes << setup.configurationName + ": " + Q(note);
    if (!file.interruptedWriteNote.empty()) setup.notes << Q(file.interruptedWriteNote);
  }
  out = std::move(setup);
  return true;
}
