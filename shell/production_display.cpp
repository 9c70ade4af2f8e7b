// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// What the production window shows: the large result, why a chip was refused
// or failed, the settings as production uses them, what the station waits
// for, this session's counts, the log's totals and its last records.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>

#include "gui/app.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "model/image.h"
#include "model/named_fields.h"
#include "production/serial.h"
#include "programmer/check.h"
#include "shell/accessible.h"
#include "shell/frmProduction.h"

namespace {

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

}  // namespace

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
