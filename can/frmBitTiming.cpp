// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/frmBitTiming.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "gui/app.h"
#include "gui/uitext.h"
#include "model/format.h"

using namespace zk7;

namespace {

// Text typed with the user's decimal separator, read with a point.
std::string Dotted(const QString& text) {
  QString t = text;
  t.replace(QChar(LocaleDecimalPoint()), QChar('.'));
  return t.toStdString();
}

QString RulesText(unsigned broken) {
  QStringList out;
  for (const auto& rule : kBitTimingRules)
    if (broken & rule.rule) out << rule.broken;
  return out.join("; ");
}

}  // namespace

frmBitTiming::frmBitTiming(QWidget* parent) : QDialog(parent) {
  setObjectName("frmBitTiming");
  setWindowTitle("Bit Timing Assistant");

  cmbBitRate = new QComboBox;
  cmbBitRate->setObjectName("cmbBitRate");
  cmbBitRate->setEditable(true);
  cmbBitRate->setInsertPolicy(QComboBox::NoInsert);
  for (int bps : kUsualBitRates) cmbBitRate->addItem(Q(BitRateText(bps)), bps);
  cmbBitRate->setCurrentText(Q(BitRateText(125000)));
  cmbBitRate->setToolTip("bit/s: choose a usual rate or type one, such as 83.3k or 33333");
  cmbBitRate->lineEdit()->setAccessibleName("Target bit rate (bit/s)");
  lblFosc = new QLabel;
  lblFosc->setObjectName("lblFosc");
  txtSamplePoint = new QLineEdit;
  txtSamplePoint->setObjectName("txtSamplePoint");
  txtSamplePoint->setMaximumWidth(fontMetrics().horizontalAdvance("87.5 (default)") + 24);
  cmbSJW = new QComboBox;
  cmbSJW->setObjectName("cmbSJW");
  cmbSJW->addItem("Default", 0);
  for (int n = 1; n <= kBitTimingLimits.sjwMax; ++n) cmbSJW->addItem(QString("%1 TQ").arg(n), n);
  cmbSJW->setToolTip("Default: the larger of 1 and the smaller of PS1 and PS2 / 2");

  auto* form = new QFormLayout;
  form->addRow("Target bit rate (bit/s)", cmbBitRate);
  form->addRow("Fosc", lblFosc);
  form->addRow("Sample point (%)", txtSamplePoint);
  form->addRow("SJW", cmbSJW);

  tblSettings = new QTableWidget(0, static_cast<int>(kBitTimingFields.size()) + 2);
  tblSettings->setObjectName("tblSettings");
  tblSettings->setAccessibleName("Settings for the target bit rate");
  QStringList headers{""};
  for (const auto& f : kBitTimingFields) headers << f.header;
  headers << "Rules broken";
  tblSettings->setHorizontalHeaderLabels(headers);
  tblSettings->verticalHeader()->hide();
  tblSettings->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblSettings->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblSettings->setSelectionMode(QAbstractItemView::SingleSelection);
  tblSettings->horizontalHeader()->setStretchLastSection(true);
  // Tab leaves the table as it leaves any control; only the arrows and clicks
  // move the chosen row.
  tblSettings->setTabKeyNavigation(false);
  tblSettings->setMinimumSize(900, 280);

  lblNote = new QLabel;
  lblNote->setObjectName("lblNote");
  lblNote->setWordWrap(true);

  cmdApply = new QPushButton("Apply");
  cmdApply->setObjectName("cmdApply");
  cmdCancel = new QPushButton("Cancel");
  cmdCancel->setObjectName("cmdCancel");
  QHBoxLayout* buttons = ButtonRow({cmdApply, cmdCancel});
  cmdApply->setDefault(true);  // Enter applies the chosen row (when Apply is enabled)

  auto* all = new QVBoxLayout(this);
  all->addLayout(form);
  all->addWidget(tblSettings, 1);
  all->addWidget(lblNote);
  all->addLayout(buttons);

  connect(cmbBitRate, &QComboBox::currentTextChanged, this, [this] { recompute(); });
  connect(txtSamplePoint, &QLineEdit::textChanged, this, [this] { recompute(); });
  connect(cmbSJW, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { recompute(); });
  connect(tblSettings, &QTableWidget::itemSelectionChanged, this,
          [this] { cmdApply->setEnabled(chosen().has_value()); });
  connect(cmdApply, &QPushButton::clicked, this, [this] { apply(); });
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  prepare();
}

void frmBitTiming::prepare() {
  lblFosc->setText(DecimalText(App().Fosc / 1000.0) + " kHz");
  recompute();
}

std::optional<BitTimingSetting> frmBitTiming::chosen() const {
  const auto selected = tblSettings->selectionModel()->selectedRows();
  if (selected.size() != 1) return std::nullopt;
  return rows_.at(static_cast<std::size_t>(selected.front().row()));
}

void frmBitTiming::recompute() {
  rows_.clear();
  tblSettings->setRowCount(0);
  cmdApply->setEnabled(false);
  BitTimingRequest rq;
  rq.foscHz = App().Fosc;
  std::string error;
  const auto rate = ParseBitRate(Dotted(cmbBitRate->currentText()), error);
  if (!rate) {
    lblNote->setText(Q(error));
    return;
  }
  rq.bitrate = *rate;
  if (!txtSamplePoint->text().trimmed().isEmpty()) {
    rq.samplePointPermille = ParseSamplePoint(Dotted(txtSamplePoint->text()), error);
    if (!rq.samplePointPermille) {
      lblNote->setText(Q(error));
      return;
    }
  }
  if (const int sjw = cmbSJW->currentData().toInt()) rq.sjw = sjw;
  txtSamplePoint->setPlaceholderText(DecimalText(DefaultSamplePointPermille(rq.bitrate) / 10.0) +
                                     " (default)");

  const BitTimingAdvice advice = RecommendBitTiming(rq);
  rows_ = BitTimingCandidates(rq);
  const RegisterSet& rs = App().regs;
  tblSettings->setRowCount(static_cast<int>(rows_.size()));
  for (int r = 0; r < tblSettings->rowCount(); ++r) {
    const BitTimingSetting& s = rows_[static_cast<std::size_t>(r)];
    const auto cnf = EncodeBitTiming(s, rs[CNF2], rs[CNF3]);
    QStringList cells{s.recommended ? "Recommended" : ""};
    for (const auto& f : kBitTimingFields) {
      const double v = f.value(s, cnf);
      switch (f.kind) {
        case BitTimingFieldKind::Hex:
          cells << Q(Hex2(static_cast<unsigned>(v)));
          break;
        case BitTimingFieldKind::Percent:
          cells << DecimalText(std::round(v * 100) / 100);
          break;
        case BitTimingFieldKind::Count:
          cells << QString::number(static_cast<long long>(v));
          break;
      }
    }
    cells << RulesText(s.brokenRules());
    for (int c = 0; c < cells.size(); ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setTextAlignment(c == 0 || c == cells.size() - 1 ? Qt::AlignLeft | Qt::AlignVCenter
                                                             : Qt::AlignRight | Qt::AlignVCenter);
      if (s.recommended) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
      }
      tblSettings->setItem(r, c, item);
    }
  }
  tblSettings->resizeColumnsToContents();
  if (!rows_.empty()) tblSettings->selectRow(0);

  QString note;
  if (advice.recommended)
    note = QString(
               "Recommended: the setting a Linux SocketCAN node computes for %1 bit/s "
               "(sample point %2 % wanted). Choose a row and Apply to write CNF1..CNF3.")
               .arg(rq.bitrate)
               .arg(DecimalText(advice.samplePointNominal / 10.0));
  else if (advice.clockHz <= 0)
    note = Q(advice.note) + " Set Fosc in the main window first.";
  else
    note = "No setting is recommended: " + Q(advice.note);
  if (rows_.empty() && advice.clockHz > 0)
    note += QString(" No setting comes within %1 %.").arg(DecimalText(rq.tolerancePpm / 1e4));
  lblNote->setText(note);
}

void frmBitTiming::apply() {
  const auto s = chosen();
  if (!s) return;
  ApplyBitTiming(App().regs, *s);
  accept();
}
