// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's command line: a table of options read with QCommandLineParser,
// and at most one file to start with. --help and --version are answered before
// the QApplication exists, so they need no display; Qt's own options
// (-platform, -style, ...) are taken out by the QApplication; any other
// unknown option is an error, also said before the QApplication exists.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <vector>

#include "shell/frmProduction.h"

// One option of the window: its names (a one-letter name is given with one
// dash, a longer one with two), what it does, and the name of its value
// (empty for an option that takes none). An option is added as a row.
struct WindowOption {
  QStringList names;
  QString description;
  QString valueName;
};
const std::vector<WindowOption>& WindowOptions();

// The help text: usage, options, the file argument and a word on Qt's options.
QString WindowHelpText();

// Answers --help (the help text) or --version on standard output, and a
// command line it does not understand (Qt's own options left aside) with an
// error on standard error, before any display is needed: the exit status (0
// or 2), or -1 when the program is to start.
int AnswerWithoutDisplay(int argc, char** argv);

class WindowCommandLine {
 public:
  WindowCommandLine();
  // Reads the arguments the QApplication left (its own options taken out);
  // false with a sentence for anything it does not know.
  bool parse(const QStringList& arguments, QString& error);
  bool isSet(const QString& name) const { return parser_.isSet(name); }
  QString value(const QString& name) const { return parser_.value(name); }
  // The device file or HEX file to start with; empty for none.
  QString file() const;
  // --production's settings: FILE, --port, --serial, --log.
  StationSettings station() const;

 private:
  QCommandLineParser parser_;
};
