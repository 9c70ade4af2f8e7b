// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/frmFilters.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/app.h"
#include "gui/uitext.h"
#include "model/format.h"

using namespace zk7;

namespace {

QString TypeName(bool extended) {
  return extended ? "extended" : "standard";
}

QString FiltersText(const ReceiveFilters& f) {
  QString text;
  for (int n = 0; n < 2; ++n)
    text += QString("RXF%1  %2  (%3 frames; ID:MASK)\n")
                .arg(n)
                .arg(Q(FormatFilter(f[n])))
                .arg(TypeName(f[n].extended));
  return text + QString("Taken in all: %1 standard and %2 extended identifiers.")
                    .arg(AcceptedCount(f, false))
                    .arg(AcceptedCount(f, true));
}

}  // namespace

frmFilters::frmFilters(QWidget* parent) : QDialog(parent) {
  setObjectName("frmFilters");
  setWindowTitle("Acceptance Filters");
  auto named = [](auto* w, const char* name) {
    w->setObjectName(name);
    return w;
  };
  const int idWidth = fontMetrics().horizontalAdvance("1FFFFFFF") + 20;

  auto* testBox = new QGroupBox("Test the mask and filters");
  lblFilters = named(new QLabel, "lblFilters");
  lblFilters->setTextInteractionFlags(Qt::TextSelectableByMouse);
  txtTestID = named(new QLineEdit, "txtTestID");
  txtTestID->setFixedWidth(idWidth);
  txtTestID->setPlaceholderText("hex ID");
  chkTestExt = named(new QCheckBox("Ext ID"), "chkTestExt");
  txtTestID->setAccessibleName("Received identifier (hex)");
  chkTestExt->setAccessibleName("Received identifier is extended");
  lblTestResult = named(new QLabel, "lblTestResult");
  lblTestResult->setWordWrap(true);  // an error is a sentence
  auto* testRow = new QHBoxLayout;
  testRow->addWidget(new QLabel("Received identifier"));
  testRow->addWidget(txtTestID);
  testRow->addWidget(chkTestExt);
  testRow->addWidget(lblTestResult, 1);
  auto* testLayout = new QVBoxLayout(testBox);
  testLayout->addWidget(lblFilters);
  testLayout->addLayout(testRow);

  auto* designBox = new QGroupBox("Design a mask and two filters");
  txtDesignIDs = named(new QLineEdit, "txtDesignIDs");
  txtDesignIDs->setPlaceholderText("identifiers to take, for example 120 121 12A");
  chkDesignExt = named(new QCheckBox("Ext ID"), "chkDesignExt");
  txtDesignIDs->setAccessibleName("Identifiers to take (hex)");
  chkDesignExt->setAccessibleName("Identifiers to take are extended");
  lblDesign = named(new QLabel, "lblDesign");
  lblDesign->setWordWrap(true);
  lblDesign->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* designRow = new QHBoxLayout;
  designRow->addWidget(txtDesignIDs, 1);
  designRow->addWidget(chkDesignExt);
  auto* designLayout = new QVBoxLayout(designBox);
  designLayout->addLayout(designRow);
  designLayout->addWidget(lblDesign);

  cmdApply = named(new QPushButton("Apply"), "cmdApply");
  cmdApply->setToolTip("Write the design into RXM, RXF0 and RXF1");
  cmdCancel = named(new QPushButton("Cancel"), "cmdCancel");
  QHBoxLayout* buttons = ButtonRow({cmdApply, cmdCancel});

  auto* all = new QVBoxLayout(this);
  all->addWidget(testBox);
  all->addWidget(designBox);
  all->addLayout(buttons);
  setMinimumWidth(560);

  // Enter runs the action of the field it is typed in, never Apply (which
  // writes three registers): no button here is a default one.
  connect(txtTestID, &QLineEdit::textChanged, this, [this] { test(); });
  connect(txtTestID, &QLineEdit::returnPressed, this, [this] { test(); });
  connect(txtDesignIDs, &QLineEdit::returnPressed, this, [this] { redesign(); });
  connect(chkTestExt, &QCheckBox::toggled, this, [this] { test(); });
  connect(txtDesignIDs, &QLineEdit::textChanged, this, [this] { redesign(); });
  connect(chkDesignExt, &QCheckBox::toggled, this, [this] { redesign(); });
  connect(cmdApply, &QPushButton::clicked, this, [this] {
    if (!design_) return;
    ApplyFilterDesign(App().regs, *design_);
    accept();
  });
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  prepare();
}

void frmFilters::prepare() {
  filters_ = ReadReceiveFilters(App().regs);
  lblFilters->setText(FiltersText(filters_));
  test();
  redesign();
}

void frmFilters::test() {
  if (txtTestID->text().trimmed().isEmpty()) {
    lblTestResult->clear();
    return;
  }
  const bool ext = chkTestExt->isChecked();
  std::string error;
  const auto id = ParseCanId(txtTestID->text().toStdString(), ext, error);
  if (!id) {
    lblTestResult->setText(Q(error));
    return;
  }
  const unsigned taken = FiltersTaking(*id, ext, filters_);
  lblTestResult->setText(taken ? "Taken by " + Q(TakingFilterNames(taken)) : "Not taken");
}

void frmFilters::redesign() {
  design_.reset();
  cmdApply->setEnabled(false);
  if (txtDesignIDs->text().trimmed().isEmpty()) {
    lblDesign->setText("List the identifiers the chip must take.");
    return;
  }
  const bool ext = chkDesignExt->isChecked();
  std::string error;
  const auto ids = ParseCanIdList(txtDesignIDs->text().toStdString(), ext, error);
  if (!ids) {
    lblDesign->setText(Q(error));
    return;
  }
  design_ = DesignFilters(*ids, ext);
  const ReceiveFilters f = design_->filters();
  lblDesign->setText(QString("RXM %1, RXF0 %2, RXF1 %3 (%4 ID:MASK).\n%5.")
                         .arg(Q(HexNoPad(design_->mask)), Q(FormatFilter(f[0])),
                              Q(FormatFilter(f[1])), TypeName(ext), Q(design_->takesText())));
  cmdApply->setEnabled(true);
}
