// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The bit timing assistant: from a target bit rate and the main window's Fosc
// it lists the settings that reach the rate, the recommended one first, and
// "Apply" writes the chosen one into CNF1..CNF3. "Cancel" writes nothing.
#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "gui/windows.h"
#include "model/bittiming.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class frmBitTiming : public QDialog {
  Q_OBJECT
 public:
  explicit frmBitTiming(QWidget* parent = nullptr);
  void setVisible(bool visible) override {
    if (visible) LayOutBeforeCreation(this);
    QDialog::setVisible(visible);
  }
  // Takes Fosc and the registers afresh and recomputes the table; called
  // each time the dialog is opened.
  void prepare();
  // The setting "Apply" writes: the selected row, if any.
  std::optional<zk7::BitTimingSetting> chosen() const;

  // Controls, named as their objectNames.
  QComboBox* cmbBitRate;      // usual rates and free entry ("83.3k", "125000")
  QLabel* lblFosc;            // the main window's Fosc
  QLineEdit* txtSamplePoint;  // percent; empty for the default of the bit rate
  QComboBox* cmbSJW;          // "Default", "1 TQ" .. "4 TQ"
  QTableWidget* tblSettings;  // one row per setting, the recommended one marked
  QLabel* lblNote;            // what is recommended, or why nothing is
  QPushButton* cmdApply;
  QPushButton* cmdCancel;

 private:
  void recompute();
  void apply();

  std::vector<zk7::BitTimingSetting> rows_;
};
