// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/commandline.h"

#include <cstdio>

#include "shell/version.h"

namespace {

constexpr const char* kProgram = "zk7-programmer";

// Qt's own options, which the QApplication takes before this parser sees the
// rest; named in the help text only.
constexpr const char* kQtOptions =
    "Qt's options work as in every Qt application, for example:\n"
    "  -platform NAME             the platform plugin (xcb, wayland, offscreen)\n"
    "  -style STYLE               the widget style (Fusion)\n"
    "  -stylesheet FILE           a style sheet\n"
    "  -reverse                   right-to-left layout\n";

void SetUp(QCommandLineParser& parser) {
  // "-platform" is one option, not -p -l -a ...
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      "Edits the power-up configuration of a ZK7A/ZK7B CAN I/O expander and programs chips.");
  for (const WindowOption& o : WindowOptions())
    parser.addOption(QCommandLineOption(o.names, o.description, o.valueName));
  parser.addPositionalArgument(
      "FILE",
      "A device file (*.dvs) or Intel HEX file to start with, loaded as Load Default or "
      "Import HEX loads it; with --production, the configuration every chip gets (the default "
      "configuration without it).",
      "[FILE]");
}

// The options QGuiApplication and QApplication take out of the arguments
// (with one dash or two, a value after a space or an '='), and whether they
// take a value.
struct QtOption {
  const char* name;
  bool value;
};
constexpr QtOption kQtOwnOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},
    {"qwindowtitle", true},    {"session", true},
    {"display", true},         {"geometry", true},
    {"style", true},           {"stylesheet", true},
    {"qmljsdebugger", true},   {"reverse", false},
    {"widgetcount", false},    {"nograb", false},
    {"dograb", false},         {"testability", false},
};

// The arguments without Qt's own options, as the QApplication will leave them.
QStringList Arguments(int argc, char** argv) {
  QStringList list;
  for (int i = 0; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (i == 0 || !arg.startsWith('-') || arg == "--") {
      list << arg;
      continue;
    }
    QString name = arg.mid(arg.startsWith("--") ? 2 : 1);
    const bool inlineValue = name.contains('=');
    name = name.section('=', 0, 0);
    const QtOption* qt = nullptr;
    for (const QtOption& o : kQtOwnOptions)
      if (name == QLatin1String(o.name)) qt = &o;
    if (!qt) {
      list << arg;
      continue;
    }
    if (qt->value && !inlineValue) ++i;  // its value goes with it
  }
  return list;
}

}  // namespace

const std::vector<WindowOption>& WindowOptions() {
  static const std::vector<WindowOption> options = {
      {{"h", "help"}, "Shows this help and exits.", {}},
      {{"v", "version"}, "Shows the version and exits.", {}},
      {{"production"},
       "Starts a production station: the production window alone, which programs the next "
       "chip at each Enter. Needs --port.",
       {}},
      {{"port"},
       "With --production: the programmer's port, as zk7prog takes it (378, /dev/parport0, ftdi, "
       "emulator:chip.txt).",
       "PORT"},
      {{"serial"},
       "With --production: each chip gets the next value of the rule, as with zk7prog program "
       "--serial. Needs --log.",
       "NAME=START[:STEP][..LAST]"},
      {{"log"}, "With --production: the production log, as with zk7prog program --log.", "LOG.csv"},
  };
  return options;
}

QString WindowHelpText() {
  QCommandLineParser parser;
  SetUp(parser);
  QString text = parser.helpText();
  text.replace("<executable_name>", kProgram);
  return text + "\n" + kQtOptions;
}

int AnswerWithoutDisplay(int argc, char** argv) {
  QCommandLineParser parser;
  SetUp(parser);
  const QStringList arguments = Arguments(argc, argv);
  const bool understood = parser.parse(arguments);
  if (parser.isSet("help")) {
    std::fputs(qPrintable(WindowHelpText()), stdout);
    return 0;
  }
  if (parser.isSet("version")) {
    std::printf("%s %s\n%s", kProgram, ZK7_VERSION, ZK7_VERSION_NOTICE);
    return 0;
  }
  // A mistyped option is said before any display is needed, too.
  WindowCommandLine commandLine;
  QString error;
  if (!understood || !commandLine.parse(arguments, error)) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram,
                 qPrintable(understood ? error : parser.errorText()), kProgram);
    return 2;
  }
  return -1;
}

WindowCommandLine::WindowCommandLine() {
  SetUp(parser_);
}

bool WindowCommandLine::parse(const QStringList& arguments, QString& error) {
  if (!parser_.parse(arguments)) {
    error = parser_.errorText();
    return false;
  }
  if (parser_.positionalArguments().size() > 1) {
    error = "Only one file can be opened: " + parser_.positionalArguments().join(", ");
    return false;
  }
  const bool production = parser_.isSet("production");
  for (const char* name : {"port", "serial", "log"})
    if (parser_.isSet(name) && !production) {
      error = QString("--%1 goes with --production").arg(name);
      return false;
    }
  if (production && !parser_.isSet("port")) {
    error = "--production needs --port";
    return false;
  }
  // The station's rule, port text and file are read now too, so a mistake in
  // them is a usage error before anything is shown.
  zk7::RegisterSet defaults;
  StationSetup setup;
  if (production &&
      !ReadStationSettings(station(), defaults, QString(), setup, error, /*optionNames=*/true))
    return false;
  return true;
}

StationSettings WindowCommandLine::station() const {
  return {file(), value("port"), value("serial"), value("log")};
}

QString WindowCommandLine::file() const {
  return parser_.positionalArguments().value(0);
}
