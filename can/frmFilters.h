// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Acceptance filters: tests which of RXF0 and RXF1 take an identifier and how
// many identifiers the mask and filters take in all, and designs a mask and
// two filters for a list of identifiers. "Apply" writes the design into RXM,
// RXF0 and RXF1; "Cancel" writes nothing.
#pragma once

#include <QDialog>
#include <optional>

#include "gui/windows.h"
#include "model/acceptance.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmFilters : public QDialog {
  Q_OBJECT
 public:
  explicit frmFilters(QWidget* parent = nullptr);
  void setVisible(bool visible) override {
    if (visible) LayOutBeforeCreation(this);
    QDialog::setVisible(visible);
  }
  // Takes the registers afresh; called each time the dialog is opened.
  void prepare();
  const std::optional<zk7::FilterDesign>& design() const { return design_; }

  // Controls, named as their objectNames.
  QLabel* lblFilters;     // the mask and filters as the registers hold them, and their counts
  QLineEdit* txtTestID;   // identifier to test, hexadecimal
  QCheckBox* chkTestExt;  // the tested frame is extended
  QLabel* lblTestResult;
  QLineEdit* txtDesignIDs;  // identifiers to take, hexadecimal, separated by spaces or commas
  QCheckBox* chkDesignExt;
  QLabel* lblDesign;
  QPushButton* cmdApply;
  QPushButton* cmdCancel;

 private:
  void test();
  void redesign();

  zk7::ReceiveFilters filters_{};
  std::optional<zk7::FilterDesign> design_;
};
