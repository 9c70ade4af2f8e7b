// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Production: start and stop, one chip per press of Enter or of "Program
// Next Chip", the settle after each result, and closing while a chip runs.
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <chrono>
#include <cstdio>

#include "gui/app.h"
#include "gui/guiflow.h"
#include "gui/uitext.h"
#include "shell/frmProduction.h"

namespace {

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
