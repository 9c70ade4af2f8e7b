// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The user memory editor: the 16 bytes of user memory as two-digit hex boxes.
#pragma once

#include <array>

#include "gui/windows.h"

class QLabel;
class QLineEdit;
class QPushButton;

class frmUserReg : public EditorWindow {
  Q_OBJECT
 public:
  explicit frmUserReg(QWidget* parent = nullptr);

  // Box k (1..16) edits user memory byte k - 1; element 0 is unused.
  std::array<QLineEdit*, 17> txtUserReg{};
  std::array<QLabel*, 17> lblAddr{};
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  int boxIndex(QObject* o) const;
  // Stores box k's text into its byte, or restores the box when the text is
  // not a byte in hex; then shows the stored byte.
  void commit(int k);
  void showBytes();
};
