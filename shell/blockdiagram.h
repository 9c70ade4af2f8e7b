// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's block diagram on the main window: a drawn picture whose six
// blocks open their editors, with a custom pointer over them and green marks
// over the blocks already visited.
#pragma once

#include <QCursor>
#include <QImage>
#include <QRectF>
#include <QWidget>
#include <array>

#include "gui/windows.h"

struct DiagramBlock {
  const char* name;
  int x1, y1, x2, y2;  // picture pixels; a point lies inside when x1 < x < x2 and y1 < y < y2
  WindowId opens;
};

class BlockDiagram : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 390;
  static constexpr int kHeight = 563;
  static constexpr int kBlockCount = 6;
  // Indices into blocks().
  enum Block { PWM1, PWM2, AtoD, CAN, GPIO, UserMemory };
  // PWM1, PWM2, A/D converter, CAN, GPIO, user memory: the order of testing and marking.
  static const std::array<DiagramBlock, kBlockCount>& blocks();
  // Index of the block containing p (strict inequalities), or -1.
  static int blockAt(QPointF p);
  // The pin markers beside the picture, in twips: the first row's top below
  // the picture's top, a marker's height, and the row pitch in marker heights.
  static constexpr int kPinTopTwips = 100;
  static constexpr int kPinHeightTwips = 375;
  static constexpr double kPinPitch = 3.5;
  // Centre of pin-marker row r (0 = top, 6 = bottom) in picture pixels; the
  // pin wires of the picture end there.
  static double pinRowY(int row);

  explicit BlockDiagram(QWidget* parent = nullptr);

  bool visited(int block) const { return visited_.at(static_cast<std::size_t>(block)); }
  void setVisited(int block) { visited_.at(static_cast<std::size_t>(block)) = true; }
  // Draws a 10-pixel green box in mask mode over every visited block.
  void redrawMarks();
  // True while the pointer is the diagram's own pointer (over a block).
  bool showsBlockCursor() const { return blockCursor_; }
  // The picture as currently shown (marks included).
  const QImage& picture() const { return picture_; }

  // Keyboard use: the arrow keys move a focus frame to the nearest block that
  // way, Enter or Space opens the framed block (as a click would: the visited
  // mark comes with the opening). A disabled block (the A/D converter under
  // the ZK7B mask) takes no focus.
  int focusedBlock() const { return focused_; }
  void setBlockEnabled(int block, bool enabled);
  bool blockEnabled(int block) const { return enabled_.at(static_cast<std::size_t>(block)); }
  // The enabled block nearest from `from` in direction (dx, dy), one of them
  // 0, the other +1 or -1; -1 when none lies that way.
  int blockToward(int from, int dx, int dy) const;

 signals:
  void blockPressed(int block);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void renderPicture();
  void updateCursor(QPointF p);
  void focusBlock(int block);

  QImage picture_;
  QCursor cursor_;
  bool blockCursor_ = false;
  std::array<bool, kBlockCount> visited_{};
  std::array<bool, kBlockCount> enabled_{true, true, true, true, true, true};
  int focused_ = GPIO;
  bool keyboardFocus_ = false;  // the focus frame shows
};
