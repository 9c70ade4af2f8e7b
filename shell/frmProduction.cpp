#include "shell/frmProduction.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>

#include "files/configfile.h"
#include "gui/app.h"
#include "gui/focus.h"
#include "gui/guiflow.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "gui/windows.h"
#include "model/format.h"
#include "model/image.h"
#include "model/named_fields.h"
#include "production/serial.h"
#include "programmer/check.h"
#include "shell/accessible.h"
#include "shell/version.h"

namespace {

// The port in use, as zk7prog's --port writes it.
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

// A flow's message text ("\r\n" between lines) for a text area.
QString Lines(const std::string& text) {
  return Q(text).replace("\r\n", "\n");
}

QString Seconds(long long ms) {
  return QString::number(static_cast<double>(ms) / 1000.0, 'f', 2) + " s";
}

QString CountsText(long long passed, long long failed, long long refused, long long aborted,
                   long long unused) {
  QString text = QString("%1 passed, %2 failed, %3 refused").arg(passed).arg(failed).arg(refused);
  if (aborted) text += QString(", %1 aborted").arg(aborted);
  if (unused) text += QString(", %1 unused").arg(unused);
  return text;
}

std::function<qint64()> settleClock;

qint64 SettleNowMs() {
  if (settleClock) return settleClock();
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Opens the port in use again if it has no driver (its fault may have been
// fixed meanwhile); true when it has one.
bool ReachPort() {
  zk7::Port& port = App().port;
  if (!port.driver()) App().programmer.InitLPTPort(port.base());
  return port.driver() != nullptr;
}

}  // namespace

void SetSettleClock(std::function<qint64()> nowMs) {
  settleClock = std::move(nowMs);
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

frmProduction::frmProduction(Mode mode, const StationSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), mode_(mode) {
  setObjectName("frmProduction");
  InstallFocusRules();
  InstallAccessibleFactories();
  setWindowTitle(QString(VersionRecord::Title) + " \u2014 Production");
  buildControls();
  txtConfiguration->setText(settings.configuration);
  txtPort->setText(settings.port.isEmpty() ? PortText(App().port) : settings.port);
  txtSerial->setText(settings.serial);
  txtLog->setText(settings.log);
  // Enter anywhere in the window: a foot switch is a keyboard that types it.
  qApp->installEventFilter(this);
  auto* quit = new QAction(this);
  quit->setObjectName("mnuQuit");
  // The platform's Quit keys; Ctrl+Q where the platform names none.
  QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
  if (quitKeys.isEmpty()) quitKeys << QKeySequence(Qt::CTRL | Qt::Key_Q);
  quit->setShortcuts(quitKeys);
  quit->setShortcutContext(Qt::WindowShortcut);
  connect(quit, &QAction::triggered, this, &QWidget::close);
  addAction(quit);
  showResult("");
  if (mode_ == Mode::Station) start();
  refresh();
}

frmProduction::~frmProduction() {
  endSession();
}

void frmProduction::buildControls() {
  auto* settingsBox = new QGroupBox("Station", this);
  auto* grid = new QGridLayout(settingsBox);
  auto row = [&](int r, const char* caption, QLineEdit*& edit, const char* name, QLabel*& info,
                 const char* infoName, const QString& placeholder) {
    auto* label = new QLabel(caption);
    grid->addWidget(label, r, 0);
    edit = new QLineEdit;
    label->setBuddy(edit);  // its name for a screen reader
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    grid->addWidget(edit, r, 1);
    info = new QLabel;
    info->setObjectName(infoName);
    info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(info, r, 3);
  };
  row(0, "Configuration:", txtConfiguration, "txtConfiguration", lblConfigurationInfo,
      "lblConfigurationInfo",
      mode_ == Mode::Station ? "the default configuration" : "the configuration in memory");
  row(1, "Port:", txtPort, "txtPort", lblPortInfo, "lblPortInfo", "378, /dev/parport0, ftdi, ...");
  row(2, "Serial rule:", txtSerial, "txtSerial", lblSerialInfo, "lblSerialInfo",
      "none, or NAME=START[:STEP][..LAST], e.g. TXID0=std:100..std:1FF");
  row(3, "Log file:", txtLog, "txtLog", lblLogInfo, "lblLogInfo", "none, or LOG.csv");
  cmdBrowseConfiguration = new QPushButton("Browse...");
  cmdBrowseConfiguration->setObjectName("cmdBrowseConfiguration");
  cmdBrowseConfiguration->setAutoDefault(false);
  connect(cmdBrowseConfiguration, &QPushButton::clicked, this, &frmProduction::browseConfiguration);
  grid->addWidget(cmdBrowseConfiguration, 0, 2);
  grid->setColumnStretch(1, 2);
  grid->setColumnStretch(3, 3);

  cmdStart = new QPushButton("Start");
  cmdStart->setObjectName("cmdStart");
  connect(cmdStart, &QPushButton::clicked, this, [this] { start(); });
  cmdStop = new QPushButton("Stop");
  cmdStop->setObjectName("cmdStop");
  connect(cmdStop, &QPushButton::clicked, this, &frmProduction::stop);

  fraResult = new QFrame;
  fraResult->setObjectName("fraResult");
  fraResult->setFrameShape(QFrame::Box);
  fraResult->setAutoFillBackground(true);
  fraResult->setMinimumHeight(150);
  fraResult->setAccessibleName("Result");
  auto* resultLayout = new QVBoxLayout(fraResult);
  lblResult = new QLabel;
  lblResult->setObjectName("lblResult");
  lblResult->setAlignment(Qt::AlignCenter);
  QFont big = lblResult->font();
  big.setPointSize(44);
  big.setBold(true);
  lblResult->setFont(big);
  lblResultInfo = new QLabel;
  lblResultInfo->setObjectName("lblResultInfo");
  lblResultInfo->setAlignment(Qt::AlignCenter);
  QFont infoFont = lblResultInfo->font();
  infoFont.setPointSize(16);
  lblResultInfo->setFont(infoFont);
  resultLayout->addWidget(lblResult, 1);
  resultLayout->addWidget(lblResultInfo);

  lblState = new QLabel;
  lblState->setObjectName("lblState");
  lblState->setWordWrap(true);
  QFont stateFont = lblState->font();
  stateFont.setBold(true);
  lblState->setFont(stateFont);

  Progress = new QProgressBar;
  Progress->setObjectName("Progress");
  Progress->setRange(0, zk7::kImageSize - 1);
  Progress->setTextVisible(false);
  Progress->setMaximumHeight(12);
  // Kept in the layout while hidden, so nothing below it moves during a run.
  QSizePolicy keep = Progress->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  Progress->setSizePolicy(keep);
  Progress->hide();

  cmdProgramNext = new QPushButton("Program Next Chip");
  cmdProgramNext->setObjectName("cmdProgramNext");
  cmdProgramNext->setMinimumHeight(64);
  QFont buttonFont = cmdProgramNext->font();
  buttonFont.setPointSize(20);
  buttonFont.setBold(true);
  cmdProgramNext->setFont(buttonFont);
  connect(cmdProgramNext, &QPushButton::clicked, this, &frmProduction::programNext);

  txtDetails = new QPlainTextEdit;
  txtDetails->setObjectName("txtDetails");
  txtDetails->setReadOnly(true);
  txtDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  txtDetails->setPlaceholderText("Why a chip was refused or failed, and notes on the log");
  txtDetails->setAccessibleName("Details");

  lblSessionCounts = new QLabel;
  lblSessionCounts->setObjectName("lblSessionCounts");
  lblLogTotals = new QLabel;
  lblLogTotals->setObjectName("lblLogTotals");
  grdRecent = new QTableWidget(0, 5);
  grdRecent->setObjectName("grdRecent");
  grdRecent->setHorizontalHeaderLabels({"Time", "Serial", "Result", "Position", "ms"});
  grdRecent->setAccessibleName("Last records of the log");
  grdRecent->verticalHeader()->hide();
  grdRecent->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdRecent->setSelectionMode(QAbstractItemView::NoSelection);
  grdRecent->setFocusPolicy(Qt::NoFocus);
  grdRecent->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  grdRecent->horizontalHeader()->setStretchLastSection(true);

  auto* left = new QVBoxLayout;
  left->addWidget(fraResult, 3);
  left->addWidget(Progress);
  left->addWidget(cmdProgramNext);
  left->addWidget(lblState);
  left->addWidget(new QLabel("Details:"));
  left->addWidget(txtDetails, 2);
  auto* right = new QVBoxLayout;
  right->addWidget(lblSessionCounts);
  right->addWidget(lblLogTotals);
  right->addWidget(new QLabel("Last records of the log:"));
  right->addWidget(grdRecent, 1);
  auto* body = new QHBoxLayout;
  body->addLayout(left, 3);
  body->addLayout(right, 2);

  auto* top = new QHBoxLayout;
  top->addWidget(settingsBox, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(cmdStart);
  buttons->addWidget(cmdStop);
  buttons->addStretch(1);
  top->addLayout(buttons);
  for (QPushButton* b : {cmdStart, cmdStop, cmdProgramNext}) b->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(body, 1);
  // Roomy where the screen allows; on a small one, no larger than its work area.
  QSize size(960, 680);
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(WorkArea(s).size().shrunkBy(WindowFrame(this)));
  resize(size.expandedTo(minimumSizeHint()));
}

void frmProduction::browseConfiguration() {
  const QString path = Seam::instance().openFileName(this, "Configuration for Production",
                                                     "Configuration (*.dvs *.hex);;All Files (*)",
                                                     "dvs", txtConfiguration->text());
  if (!path.isEmpty()) txtConfiguration->setText(path);
}

bool frmProduction::start() {
  if (session_ || running_) return session_ != nullptr;
  const StationSettings settings{txtConfiguration->text().trimmed(), txtPort->text().trimmed(),
                                 txtSerial->text().trimmed(), txtLog->text().trimmed()};
  zk7::RegisterSet withoutFile = App().regs;
  if (mode_ == Mode::Station) zk7::SetDefaultRegisters(withoutFile);
  StationSetup setup;
  QString error;
  auto refuse = [&](const QString& why) {
    startProblem_ = why;
    showResult("NOT STARTED", Shade::Grey);
    txtDetails->setPlainText(why);
    showState();
    return false;
  };
  if (!ReadStationSettings(settings, withoutFile, txtConfiguration->placeholderText(), setup,
                           error))
    return refuse(error);
  zk7::Port& port = App().port;
  if (setup.port && settings.port != PortText(port)) {
    port.setChoice(*setup.port);
    App().programmer.InitLPTPort(setup.portBase.value_or(port.base()));
    emit portChanged();
  } else {
    ReachPort();
  }
  lblPortInfo->setText(Q(port.description()));
  // No chip result without a port.
  if (!port.driver()) return refuse(Q(port.accessProblem()));
  auto session =
      std::make_unique<zk7::ProductionSession>(App().programmer, setup.configuration, setup.plan);
  std::string openError;
  if (!session->open(openError)) return refuse(Q(openError));
  session_ = std::move(session);
  setup_ = std::move(setup);
  startProblem_.clear();
  recent_.clear();
  resultAt_.reset();
  txtDetails->clear();
  for (const QString& note : setup_.notes) txtDetails->appendPlainText("Note: " + note);
  addNotes();
  showResult("READY");
  refresh();
  cmdProgramNext->setFocus();
  return true;
}

void frmProduction::stop() {
  if (running_) return;
  if (!session_ || mode_ == Mode::Station) {
    close();
    return;
  }
  endSession();
  showResult("");
  refresh();
}

void frmProduction::endSession() {
  if (!session_) return;
  std::string error;
  if (!session_->finish(error)) {
    // The window may be going; the terminal keeps the sentence too.
    std::fprintf(stderr, "zk7-programmer: %s\n", error.c_str());
    txtDetails->appendPlainText(Q(error));
  }
  session_.reset();
}

void frmProduction::programNext() {
  if (!session_ || running_) return;
  if (resultAt_ && SettleNowMs() - *resultAt_ < kSettleMs) return;
  if (!session_->stopReason().empty()) return;
  if (!ReachPort()) {
    // Nothing was reached: no chip result.
    showResult("NO PORT", Shade::Grey);
    txtDetails->setPlainText(Q(App().port.accessProblem()));
    resultAt_ = SettleNowMs();
    return;
  }
  running_ = true;
  closePending_ = false;
  showResult("", Shade::Plain, serialValueText(session_->nextSerial()));
  txtDetails->clear();
  Progress->setValue(0);
  Progress->show();
  // The button is off during the chip: the focus waits on the result (where
  // a screen reader is told the outcome) rather than moving on into the details.
  const bool focusWaits = cmdProgramNext->hasFocus();
  if (focusWaits) fraResult->setFocus(Qt::OtherFocusReason);
  updateControls();
  showState();

  zk7::FlowCallbacks cb = GuiFlowCallbacks();
  // Closing the window stops the chip at the next wait of whichever flow runs.
  cb.wait = [this](int ms) {
    if (closePending_)
      App().programmer.requestAbort();
    else
      GuiDelayMs(ms);
  };
  cb.progress = [this](int position) { Progress->setValue(position); };
  std::optional<zk7::ChipOutcome> outcome;
  session_->programChip(cb, [&outcome](const zk7::ChipOutcome& o) { outcome = o; });
  running_ = false;
  resultAt_ = SettleNowMs();
  Progress->hide();
  if (outcome) {
    showOutcome(*outcome);
  } else {
    showResult("NOT PROGRAMMED", Shade::Grey);
    txtDetails->setPlainText(Q(session_->stopReason()));
  }
  addNotes();
  refresh();
  if (focusWaits && fraResult->hasFocus() && cmdProgramNext->isEnabled())
    cmdProgramNext->setFocus(Qt::OtherFocusReason);
  if (closePending_) close();
}

void frmProduction::refresh() {
  showSettingsInfo();
  showCounts();
  showState();
  updateControls();
}

// NAME=VALUE for a value of the serial rule; empty without a rule or a value.
QString frmProduction::serialValueText(std::optional<std::uint64_t> value) const {
  const std::optional<zk7::SerialRule>& rule = setup_.plan.serial;
  return rule && value ? Q(rule->name + "=" + zk7::SerialText(*rule, *value)) : QString();
}

void frmProduction::showOutcome(const zk7::ChipOutcome& outcome) {
  const zk7::LogRecord& r = outcome.record;
  const QString value = serialValueText(r.serial);
  auto info = [&](const QString& middle) {
    QStringList parts;
    if (!value.isEmpty()) parts << value;
    if (!middle.isEmpty()) parts << middle;
    parts << Seconds(r.ms);
    return parts.join(" \u00B7 ");
  };
  QString details;
  if (!outcome.flow.title.empty() || !outcome.flow.text.empty())
    details = Q(outcome.flow.title) + "\n" + Lines(outcome.flow.text);
  const QString word = zk7::ResultText(r.result);
  switch (r.result) {
    case zk7::ChipResult::Passed:
      showResult(word, Shade::Green, info(""));
      details.clear();
      break;
    case zk7::ChipResult::Failed:
      // A port that failed during the run has no word to name.
      showResult(word, Shade::Red, r.position.empty() ? info("") : info("at " + Q(r.position)));
      break;
    case zk7::ChipResult::Refused: {
      showResult(word, Shade::Amber, info(outcome.noChip ? "no chip" : "not burnt"));
      QStringList lines;
      if (outcome.noChip) {
        lines << Q(zk7::NoChipSummary(outcome.noChipWord));
      } else {
        lines << zk7::UnfitText();
        for (const auto& line : zk7::UnfitWordLines(outcome.unfit)) lines << Q(line);
      }
      lines << zk7::NothingBurntText();
      details = lines.join("\n");
      break;
    }
    case zk7::ChipResult::Aborted:
      showResult(word, Shade::Grey, info("the chip may hold part of the image"));
      break;
    case zk7::ChipResult::Reserved:
    case zk7::ChipResult::Unused:
      showResult(word, Shade::Grey, info("nothing burnt (" + Q(r.position) + ")"));
      break;
  }
  txtDetails->setPlainText(details);
  if (r.result == zk7::ChipResult::Failed || r.result == zk7::ChipResult::Refused) {
    ++alerts_;
    QApplication::beep();
  }
  if (!session_->log()) {
    recent_.push_back(r);
    if (recent_.size() > zk7::LogContents::kRecent) recent_.pop_front();
  }
}

void frmProduction::showResult(const QString& word, Shade shade, const QString& info) {
  // Passed green, failed red, refused amber, aborted (and anything else that
  // burnt nothing of note) grey; plain in the window's own colours.
  QColor background;
  QColor text = Qt::white;
  switch (shade) {
    case Shade::Plain:
      break;
    case Shade::Green:
      background = QColor(0, 255, 0);
      text = Qt::black;
      break;
    case Shade::Red:
      background = QColor(255, 0, 0);
      break;
    case Shade::Amber:
      background = QColor(255, 191, 0);
      text = Qt::black;
      break;
    case Shade::Grey:
      background = QColor(128, 128, 128);
      break;
  }
  QPalette pal = palette();
  if (background.isValid()) {
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, text);
  }
  fraResult->setPalette(pal);
  lblResult->setPalette(pal);
  lblResultInfo->setPalette(pal);
  const bool changed = lblResult->text() != word || lblResultInfo->text() != info;
  lblResult->setText(word);
  lblResultInfo->setText(info);
  if (changed && !word.isEmpty()) AnnounceResult(lblResult);
}

void frmProduction::addNotes() {
  if (!session_) return;
  for (const auto& note : session_->takeNotes()) txtDetails->appendPlainText("Note: " + Q(note));
}

void frmProduction::showSettingsInfo() {
  lblPortInfo->setText(Q(App().port.description()));
  if (!session_) {
    for (QLabel* l : {lblConfigurationInfo, lblSerialInfo, lblLogInfo}) l->clear();
    return;
  }
  zk7::RegisterSet rs = setup_.configuration;
  zk7::MemoryImage image;
  zk7::BuildMemoryImage(rs, image);
  lblConfigurationInfo->setText(
      QString("%1 \u00B7 checksum %2 \u00B7 configuration word %3")
          .arg(setup_.configurationName, Q(zk7::Hex2(rs.ImageChecksum())),
               QString("%1")
                   .arg(static_cast<std::uint16_t>(rs.ConfigWord()), 4, 16, QChar('0'))
                   .toUpper()));
  if (const std::optional<zk7::SerialRule>& rule = setup_.plan.serial) {
    const auto next = session_->nextSerial();
    lblSerialInfo->setText(next ? QString("next %1 \u00B7 %2 left of %3")
                                      .arg(serialValueText(next))
                                      .arg(*session_->valuesLeft())
                                      .arg(Q(zk7::SerialRangeText(*rule)))
                                : Q(zk7::SerialUsedUpText(*rule)));
  } else {
    lblSerialInfo->setText("no serial number");
  }
  lblLogInfo->setText(
      setup_.plan.logPath.empty()
          ? QString("no log")
          : QFileInfo(QFile::decodeName(setup_.plan.logPath.c_str())).absoluteFilePath());
}

void frmProduction::showCounts() {
  if (!session_) {
    lblSessionCounts->clear();
    lblLogTotals->clear();
    grdRecent->setRowCount(0);
    return;
  }
  const zk7::ProductionSummary& c = session_->counts();
  lblSessionCounts->setText("This session: " +
                            CountsText(c.passed, c.failed, c.refused, c.aborted, c.unused));
  const zk7::LogContents* log = session_->log();
  using R = zk7::ChipResult;
  lblLogTotals->setText(log ? "Log: " + CountsText(log->total(R::Passed), log->total(R::Failed),
                                                   log->total(R::Refused), log->total(R::Aborted),
                                                   log->total(R::Unused))
                            : QString("Log: none"));
  const std::vector<zk7::LogRecord> records =
      log ? log->recent : std::vector<zk7::LogRecord>(recent_.begin(), recent_.end());
  grdRecent->setRowCount(static_cast<int>(records.size()));
  int row = 0;
  for (auto it = records.rbegin(); it != records.rend(); ++it, ++row) {
    const QString serial = it->serial && setup_.plan.serial
                               ? Q(zk7::SerialText(*setup_.plan.serial, *it->serial))
                           : it->serial ? Q(zk7::HexText(*it->serial))
                                        : QString();
    const QString ms = it->result == R::Reserved ? QString() : QString::number(it->ms);
    // The time of day (UTC) is what a station needs; the whole time is its tip.
    const QString time = Q(it->time);
    const QString cells[] = {time.size() == 20 && time[10] == 'T' ? time.mid(11) : time, serial,
                             zk7::ResultText(it->result), Q(it->position), ms};
    for (int col = 0; col < 5; ++col) {
      auto* item = new QTableWidgetItem(cells[col]);
      if (col == 0) item->setToolTip(time);
      grdRecent->setItem(row, col, item);
    }
  }
}

void frmProduction::showState() {
  QString state;
  if (!session_)
    state = startProblem_.isEmpty() ? "Set the station up and press Start." : startProblem_;
  else if (running_)
    state = "Programming the chip; leave it in the socket.";
  else if (const std::string why = session_->stopReason(); !why.empty())
    state = Q(why);
  else
    state = "Insert the next chip and press Enter.";
  lblState->setText(state);
}

void frmProduction::updateControls() {
  const bool editable = mode_ == Mode::FromMenu && !session_;
  for (QLineEdit* e : {txtConfiguration, txtPort, txtSerial, txtLog}) e->setReadOnly(!editable);
  cmdBrowseConfiguration->setEnabled(editable);
  cmdStart->setEnabled(!session_ && !running_);
  cmdStop->setEnabled(!running_);
  cmdStop->setText(session_ ? "Stop" : "Close");
  cmdProgramNext->setEnabled(session_ && !running_ && session_->stopReason().empty());
}

void frmProduction::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The chip ends first (ABORTED, or UNUSED before its first pulse), with
    // the lines unpowered; the window closes when its records are written.
    closePending_ = true;
    App().programmer.requestAbort();
    event->ignore();
    return;
  }
  endSession();
  event->accept();
}

bool frmProduction::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && widget &&
        widget->window() == this) {
      // A held key (a foot switch held down) repeats, and the window system
      // need not mark its repeats as such: a chip starts only on a press that
      // follows a release of the same key.
      if (key->isAutoRepeat()) return type == QEvent::KeyPress && session_;
      if (type == QEvent::KeyRelease) {
        keysDown_.erase(key->key());
        return false;
      }
      const bool fresh = keysDown_.insert(key->key()).second;
      if (!session_) return false;
      if (fresh) programNext();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
