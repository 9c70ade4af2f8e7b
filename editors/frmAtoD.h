// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The A/D converter editor: converter on/off, analog channels, references,
// conversion clock, acquisition and auto-conversion times, and the four
// threshold detectors.
#pragma once

#include <array>

#include "editors/frmGPIO.h"
#include "gui/windows.h"
#include "model/atod.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

class frmAtoD : public EditorWindow {
  Q_OBJECT
 public:
  explicit frmAtoD(QWidget* parent = nullptr);

  void showRegisterSet() override;
  // Rewrites the fourteen register boxes.
  void RefreshAtoDDisp();
  // Sets the threshold voltage scale from the two reference voltages and
  // shows the thresholds on it.
  void SetVrefSpan(double vrefPlus, double vrefMinus);
  const zk7::ThresholdScale& scale() const { return scale_; }

  QCheckBox* chkADON = nullptr;
  std::array<QCheckBox*, 4> chkAtoDEnable{};
  QRadioButton *optVDD = nullptr, *optVrefP = nullptr, *optVSS = nullptr, *optVrefM = nullptr;
  QLineEdit *txtVrefP = nullptr, *txtVrefM = nullptr;
  QComboBox *cmbAtoDConv = nullptr, *cmbAtoDAQT = nullptr, *cmbAutoConv = nullptr;
  QLineEdit *txtAtoDConv = nullptr, *txtAtoDAQT = nullptr, *txtAutoConv = nullptr;
  std::array<QCheckBox*, 4> chkVcmpON{};
  std::array<QCheckBox*, 4> chkThreshPol{};
  std::array<QSlider*, 4> CMPSlider{};
  std::array<QLineEdit*, 4> txtVcmp{};
  editor_ui::RegisterDisplay* registers = nullptr;
  QLineEdit* txtAtoDReg(int i) const { return registers->box(i); }
  QLabel* lblAddr(int i) const { return registers->label(i); }
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* buildConverter();
  QWidget* buildThresholds();
  QLineEdit* referenceBox(const QString& name, const QString& text);
  // Sets every control from the register set with its captions, colours and
  // derived texts; writes nothing.
  void showControls();
  void showDerivedTimes();
  void showThreshold(int channel);
  void changed();
  void referencesEdited();

  zk7::ThresholdScale scale_;
};
