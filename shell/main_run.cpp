// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's runs: Program Device on a frozen copy of the
// configuration, Read Device through the memory map window, the controls
// along the bottom that start them and show their result, and what is
// refused while a run holds the port.
#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <algorithm>
#include <initializer_list>

#include "gui/app.h"
#include "gui/guiflow.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "production/run.h"
#include "programmer/check.h"
#include "shell/blockdiagram.h"
#include "shell/frmMain.h"

namespace {

// The result label's colour for a chip refused by the check (PASSED is green, FAILED red).
const QColor kRefusedColour(230, 120, 0);

}  // namespace

void frmMain::buildRunControls(QBoxLayout* row) {
  QWidget* content = row->parentWidget();
  lblTestStatus = new QLabel("PASS/FAIL", content);
  lblTestStatus->setObjectName("lblTestStatus");
  lblTestStatus->setFixedSize(110, 32);
  QFont statusFont = lblTestStatus->font();
  statusFont.setPointSize(15);
  statusFont.setBold(true);
  lblTestStatus->setFont(statusFont);

  Progress = new QProgressBar(content);
  Progress->setObjectName("Progress");
  Progress->setRange(0, 69);
  Progress->setValue(0);
  Progress->setFixedSize(272, 20);
  Progress->setTextVisible(false);
  QSizePolicy keepPlace = Progress->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);  // shown only during a run; nothing moves then
  Progress->setSizePolicy(keepPlace);
  Progress->hide();

  cmdProgram = new QPushButton("Program Device", content);
  cmdProgram->setObjectName("cmdProgram");
  cmdProgram->setFixedSize(112, 32);
  connect(cmdProgram, &QPushButton::clicked, this, &frmMain::programDevice);
  cmdReadDevice = new QPushButton("Read Device", content);
  cmdReadDevice->setObjectName("cmdReadDevice");
  cmdReadDevice->setFixedSize(104, 32);
  connect(cmdReadDevice, &QPushButton::clicked, this, &frmMain::readDevice);

  row->setSpacing(8);
  row->addWidget(lblTestStatus);
  row->addWidget(Progress, 0, Qt::AlignVCenter);
  row->addStretch();
  row->addWidget(cmdProgram);
  row->addWidget(cmdReadDevice);
}

void frmMain::setFlowRunning(bool running) {
  flowRunning_ = running;
  // The focus on a control about to be disabled waits on the diagram (which
  // opens nothing during a run) and comes back afterwards, rather than moving
  // on as Tab would.
  const std::initializer_list<QWidget*> disabled = {txtFosc, cmdProgram, cmdReadDevice, cmdSTCON};
  if (running && std::find(disabled.begin(), disabled.end(), focusWidget()) != disabled.end()) {
    focusBeforeRun_ = focusWidget();
    picBlkDgm->setFocus(Qt::OtherFocusReason);
  }
  txtFosc->setEnabled(!running);
  cmdProgram->setEnabled(!running);
  cmdReadDevice->setEnabled(!running);
  for (QAction* a : portGroup_->actions()) a->setEnabled(!running);
  // The flow runs on this thread and processes events in its waits: a modal
  // window opened meanwhile would hold the flow (and the programming voltage)
  // until it closed. So nothing that opens one is offered during a run.
  updateWindowOpeners();
  cmdSTCON->setEnabled(!running);
  if (!running && focusBeforeRun_ && picBlkDgm->hasFocus())
    focusBeforeRun_->setFocus(Qt::OtherFocusReason);
  if (!running) focusBeforeRun_ = nullptr;
}

void frmMain::showResult(int status) {
  // The blink sequence is the core's, shared with the command line; a close
  // request cuts its waits short.
  zk7::FlowCallbacks cb;
  cb.wait = [this](int ms) {
    if (!closePending_) GuiDelayMs(ms);
  };
  zk7::PlayResultBlink(
      static_cast<zk7::FlowResult::Status>(status),
      [this](const zk7::ResultBlinkStep& step) {
        QPalette pal = lblTestStatus->palette();
        pal.setColor(QPalette::WindowText,
                     step.colour == zk7::ResultBlinkStep::Green ? QColor(0, 255, 0)
                     : step.colour == zk7::ResultBlinkStep::Red ? QColor(255, 0, 0)
                                                                : QColor(Qt::black));
        lblTestStatus->setPalette(pal);
        lblTestStatus->setText(QString::fromStdString(step.caption));
      },
      cb);
}

void frmMain::programDevice() {
  if (flowRunning_ || App().programmer.busy() || !portReachable()) return;
  QPalette pal = lblTestStatus->palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  lblTestStatus->setPalette(pal);
  lblTestStatus->setText(QString());
  setFlowRunning(true);
  Progress->setValue(0);
  Progress->show();

  // The run works on a copy of the configuration taken now. The windows stay
  // live during its waits, so an edit made meanwhile (an oscillator, the
  // device type, a loaded file) is for the next run: the chip checked is the
  // chip burnt, with the image and configuration word that were checked.
  zk7::BuildMemoryImage(App().regs, App().image);
  zk7::RegisterSet configuration = App().regs;
  zk7::MemoryImage image;

  zk7::FlowCallbacks cb = GuiFlowCallbacks();
  cb.progress = [this](int position) { Progress->setValue(position); };
  // With the check on, a chip that cannot take the image is refused before any
  // programming pulse; a port that failed during the run spoils a pass.
  const zk7::ChipOutcome outcome =
      zk7::ProgramChip(App().programmer, configuration, image, mnuCheckChip->isChecked(), cb);
  const zk7::FlowResult& result = outcome.flow;
  const bool refused = outcome.record.result == zk7::ChipResult::Refused;
  if (refused) {
    // The label says it until the next run, as it says PASSED.
    QPalette refusedPal = lblTestStatus->palette();
    refusedPal.setColor(QPalette::WindowText, kRefusedColour);
    lblTestStatus->setPalette(refusedPal);
    lblTestStatus->setText(zk7::ResultText(zk7::ChipResult::Refused));
    // What happened in two lines; the words, one per line, in the details.
    QStringList words;
    if (!outcome.noChip)
      for (const auto& line : zk7::UnfitWordLines(outcome.unfit)) words << Q(line);
    Seam::instance().detailedMessage(
        this, zk7::RefusalTitle(outcome.noChip),
        Q(zk7::RefusalSummary(outcome.noChip, outcome.unfit.size(), outcome.noChipWord)) + "\r\n" +
            zk7::NothingBurntText(),
        words.join("\n"), Seam::Icon::Critical);
  }

  switch (refused ? zk7::FlowResult::Aborted : result.status) {
    case zk7::FlowResult::Passed:
      showResult(result.status);
      break;
    case zk7::FlowResult::Failed:
      showResult(result.status);
      Seam::instance().message(this, Q(result.title), Q(result.text), Seam::Icon::Critical);
      break;
    case zk7::FlowResult::Busy:
      Seam::instance().message(this, Q(result.title), Q(result.text), Seam::Icon::Warning);
      break;
    case zk7::FlowResult::Aborted:
      break;
  }
  setFlowRunning(false);
  Progress->hide();
  Progress->setValue(0);
  updatePortStatus();
  warnOfPortRisk();
  if (closePending_) close();
}

void frmMain::readDevice() {
  if (flowRunning_ || App().programmer.busy()) return;  // the port is in use
  if (!Windows::instance().has(WindowId::MemoryMap) || !portReachable()) return;
  if (EditorWindow* w = Windows::instance().get(WindowId::MemoryMap)) openModal(w);
  updatePortStatus();  // a claim sees the drivers registered on the port afresh
  warnOfPortRisk();
}

void frmMain::showChipAnswer(std::optional<std::uint16_t> configWord) {
  const auto& words = App().programmer.lastImageWords();
  const auto silent = words ? zk7::NoChipWord(*words, configWord) : std::nullopt;
  if (silent)
    StatusBar1->showMessage(Q(zk7::NoChipSummary(*silent)));
  else
    StatusBar1->clearMessage();
}
