// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The memory map window: the 70 image bytes and the configuration word read
// back from a chip, with "Load to Memory" taking them over as the
// configuration being edited.
#pragma once

#include <array>
#include <cstdint>

#include "gui/windows.h"
#include "model/registers.h"

class QLabel;
class QLineEdit;
class QPushButton;

class frmMemoryMap : public EditorWindow {
  Q_OBJECT
 public:
  explicit frmMemoryMap(QWidget* parent = nullptr);

  // Box k (1..70) shows image position k - 1; element 0 is unused.
  std::array<QLineEdit*, zk7::kImageSize + 1> txtUserMemReg{};
  std::array<QLabel*, zk7::kImageSize + 1> lblAddr{};
  QLabel* lblOSCConfig = nullptr;
  QLabel* lblGP7 = nullptr;
  QLabel* lblConfigWord = nullptr;
  QPushButton* cmdSetDefaults = nullptr;
  QPushButton* cmdOK = nullptr;

  // Reads the chip into MemMap and ChipConfigWord and shows them. Refused
  // with a message while another flow drives the port; ignored while this
  // window's own read runs.
  void readDevice();
  bool reading() const { return reading_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void loadToMemory();
  void setBoxColour(int k, const QColor& colour);
  void showConfigWord(std::uint16_t w);

  bool reading_ = false;
  // The last read went through to the end, so MemMap and ChipConfigWord hold
  // a whole chip's contents that "Load to Memory" may take over.
  bool readComplete_ = false;
};
