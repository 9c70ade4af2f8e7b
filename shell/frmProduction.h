// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The production station: one key per chip. The window drives the core's
// production session one chip per Enter (or "Program Next Chip"), with the
// pre-burn check always on, and shows one large result, this session's counts,
// the log's totals and its last records. Opened from the main window's File
// menu, or alone by zk7-programmer --production for a station that shows
// nothing else.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "model/registers.h"
#include "port/port.h"
#include "production/run.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

// A station's settings as the user gives them: the window's fields, or
// zk7-programmer --production's options. Empty means not given.
struct StationSettings {
  QString configuration;  // a device file or an Intel HEX file
  QString port;           // as zk7prog --port takes it; empty: the port in use
  QString serial;         // NAME=START[:STEP][..LAST]
  QString log;            // the production log
};

// The settings read and checked.
struct StationSetup {
  zk7::RegisterSet configuration;
  QString configurationName;              // the file, or what stands in for one
  std::optional<zk7::PortChoice> port;    // none: the port in use
  std::optional<std::uint16_t> portBase;  // the address the port text gave, if it gave one
  zk7::ProductionPlan plan;               // the check is always on
  QStringList notes;                      // what a HEX file lacked or had wrong
};

// Reads and checks the settings: the serial rule (which needs a log, as in
// zk7prog), the port text and the configuration file; without a file the
// configuration is withoutFile, named withoutFileName. False with the
// sentence to show, which names the settings as the window's fields do, or
// as the command line's options with optionNames.
bool ReadStationSettings(const StationSettings& settings, const zk7::RegisterSet& withoutFile,
                         const QString& withoutFileName, StationSetup& out, QString& error,
                         bool optionNames = false);

// The port in use as a station's port setting, as zk7prog's --port writes it.
QString PortText(const zk7::Port& port);

// Replaces the clock that times the settle after a result, in milliseconds
// (tests pass one they advance); an empty function restores the steady clock.
void SetSettleClock(std::function<qint64()> nowMs);

class frmProduction : public QWidget {
  Q_OBJECT
 public:
  enum class Mode {
    // Opened from the main window: set up, Start, chips, Stop, set up again.
    FromMenu,
    // zk7-programmer --production: started at once with the command line's
    // settings, which stay fixed; Stop or closing ends the program.
    Station,
  };
  // Presses during a run and for this long after a result are ignored, so a
  // bounce never burns the next value into the same chip; a held key starts
  // no chip until it is released.
  static constexpr int kSettleMs = 500;

  frmProduction(Mode mode, const StationSettings& settings, QWidget* parent = nullptr);
  ~frmProduction() override;

  // Reads the settings, takes the port, opens the log: production begins.
  // False with the reason shown in the window (it stays as it was).
  bool start();
  // Ends production; the menu-opened window can be set up again, a station closes.
  void stop();
  // Programs the next chip, unless a chip runs, a result was shown less than
  // kSettleMs ago, or no chip may be programmed (not started, values used up).
  void programNext();

  bool inProduction() const { return session_ != nullptr; }
  bool chipRunning() const { return running_; }
  // Audible alerts given (FAILED, REFUSED).
  int alertCount() const { return alerts_; }

  // Controls.
  QLineEdit* txtConfiguration = nullptr;
  QPushButton* cmdBrowseConfiguration = nullptr;
  QLineEdit* txtPort = nullptr;
  QLineEdit* txtSerial = nullptr;
  QLineEdit* txtLog = nullptr;
  QLabel* lblConfigurationInfo = nullptr;
  QLabel* lblPortInfo = nullptr;
  QLabel* lblSerialInfo = nullptr;
  QLabel* lblLogInfo = nullptr;
  QPushButton* cmdStart = nullptr;
  QPushButton* cmdStop = nullptr;
  QFrame* fraResult = nullptr;
  QLabel* lblResult = nullptr;      // PASSED, FAILED, REFUSED, ABORTED, ...
  QLabel* lblResultInfo = nullptr;  // the value burnt and the time the chip took
  QLabel* lblState = nullptr;       // what the station waits for, or why it cannot go on
  QProgressBar* Progress = nullptr;
  QPushButton* cmdProgramNext = nullptr;
  QPlainTextEdit* txtDetails = nullptr;  // why a chip was refused or failed, notes on the log
  QLabel* lblSessionCounts = nullptr;
  QLabel* lblLogTotals = nullptr;
  QTableWidget* grdRecent = nullptr;  // the log's last records, newest first

 signals:
  // The window chose another port than the one in use.
  void portChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The result panel's colours.
  enum class Shade { Plain, Green, Red, Amber, Grey };

  // The controls and their layout (production_controls.cpp).
  void buildControls();
  void browseConfiguration();
  void updateControls();
  // What the window shows (production_display.cpp).
  void refresh();  // the settings' info, the counts, the state and the controls
  void showSettingsInfo();
  void showResult(const QString& word, Shade shade = Shade::Plain, const QString& info = {});
  void showOutcome(const zk7::ChipOutcome& outcome);
  void showCounts();
  void showState();
  void addNotes();
  QString serialValueText(std::optional<std::uint64_t> value) const;
  // Production (production_run.cpp).
  void endSession();

  Mode mode_;
  std::unique_ptr<zk7::ProductionSession> session_;
  StationSetup setup_;
  bool running_ = false;
  bool closePending_ = false;
  QString startProblem_;  // why the last start failed
  // When the last result was shown, on the settle's clock.
  std::optional<qint64> resultAt_;
  std::set<int> keysDown_;  // Enter keys pressed and not released since
  int alerts_ = 0;
  // Without a log: this session's result records, the last LogContents::kRecent.
  std::deque<zk7::LogRecord> recent_;
};
