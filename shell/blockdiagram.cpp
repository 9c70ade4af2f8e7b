// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/blockdiagram.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "shell/accessible.h"

namespace {

// Blocks that only explain the chip; they open nothing.
struct PlainBlock {
  QRect rect;
  const char* text;
};

const PlainBlock kPlainBlocks[] = {
    {QRect(30, 318, 60, 82), "Oscillator\nLP/XT/HS"},
    {QRect(110, 180, 155, 110), "OTP Program\nMemory\n70 words\n(power-up values)"},
    {QRect(110, 300, 155, 105), "Message\nControl\nTX ID0-2, Mask,\nFilters, Scheduled TX"},
    {QRect(300, 10, 80, 38), "Reset and\nPower Control"},
};

const char* const kBlockCaptions[BlockDiagram::kBlockCount] = {"PWM1",
                                                               "PWM2",
                                                               "A/D\nConverter",
                                                               "CAN\nProtocol\nEngine",
                                                               "GPIO\nGP0\nto\nGP7",
                                                               "User\nMemory\n16 bytes"};

QRect RectOf(const DiagramBlock& b) {
  return QRect(b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
}

void Arrow(QPainter& p, QPointF from, QPointF to) {
  p.drawLine(from, to);
  QLineF l(to, from);
  QLineF a = l;
  a.setLength(7);
  a.setAngle(l.angle() + 25);
  QLineF b = l;
  b.setLength(7);
  b.setAngle(l.angle() - 25);
  QPainterPath head;
  head.moveTo(to);
  head.lineTo(a.p2());
  head.lineTo(b.p2());
  head.closeSubpath();
  p.fillPath(head, p.pen().color());
}

// A wire through points; with an arrow on its last stretch when arrow is set.
void Wire(QPainter& p, std::initializer_list<QPointF> points, bool arrow = false) {
  const std::vector<QPointF> v(points);
  for (std::size_t i = 1; i < v.size(); ++i) {
    if (arrow && i + 1 == v.size())
      Arrow(p, v[i - 1], v[i]);
    else
      p.drawLine(v[i - 1], v[i]);
  }
}

// The wires from the blocks to the package pins. The pin markers stand just
// outside the picture's left and right edges, pins 1-7 on the left and 14-8
// on the right, top to bottom; each wire ends at the edge in its pin's row.
void DrawPinWires(QPainter& p, const QFont& small) {
  const auto row = [](int r) { return BlockDiagram::pinRowY(r); };
  constexpr qreal kLeft = 0, kRight = BlockDiagram::kWidth;
  const QPen thin = p.pen();
  QPen thick = thin;
  thick.setWidthF(4);
  thick.setCapStyle(Qt::FlatCap);
  thick.setJoinStyle(Qt::MiterJoin);
  const auto dot = [&p, &thin](QPointF at) {
    p.setBrush(thin.color());
    p.drawEllipse(at, 2.5, 2.5);
    p.setBrush(Qt::NoBrush);
  };
  // GPIO lines as two buses of four with a tap at each pin: GP0-GP3 along the
  // left margin (rows 0-3), GP4-GP7 along the right margin (rows 6-3). Dots
  // mark the taps; a line that crosses a bus without a dot is not on it.
  const struct {
    qreal fromX, y, busX;
    int firstRow, lastRow;
    QPointF label;  // centre of the caption, turned upright along a vertical stretch
    bool upright;
  } buses[] = {{285, 166, 16, 0, 3, QPointF(230, 159), false},
               {335, 140, 374, 3, 6, QPointF(365, 238), true}};
  for (const auto& b : buses) {
    const qreal top = std::min(b.y, row(b.firstRow)), bottom = std::max(b.y, row(b.lastRow));
    const qreal pinX = b.busX < b.fromX ? kLeft : kRight;
    p.setPen(thick);
    p.drawLine(QPointF(b.fromX, b.y), QPointF(b.busX, b.y));
    p.drawLine(QPointF(b.busX, top - 2), QPointF(b.busX, bottom + 2));
    p.setPen(thin);
    for (int r = b.firstRow; r <= b.lastRow; ++r) {
      p.drawLine(QPointF(b.busX, row(r)), QPointF(pinX, row(r)));
      if (row(r) > top && row(r) < bottom) dot(QPointF(b.busX, row(r)));
    }
    if (b.y > top && b.y < bottom) dot(QPointF(b.busX, b.y));
    p.setFont(small);
    p.save();
    p.translate(b.label);
    if (b.upright) p.rotate(-90);
    p.drawText(QRectF(-25, -6, 50, 12), Qt::AlignCenter, b.firstRow == 0 ? "GP0-3" : "GP4-7");
    p.restore();
  }
  // CAN transmit out to TXCAN (right row 1), receive in from RXCAN (row 2).
  Wire(p, {{345, 300}, {345, row(1)}, {kRight - 1, row(1)}}, true);
  Wire(p, {{kRight, row(2)}, {355, row(2)}, {355, 301}}, true);
  p.drawText(QRectF(350, row(1) - 13, 22, 11), Qt::AlignCenter, "TX");
  p.drawText(QRectF(350, row(2) - 13, 22, 11), Qt::AlignCenter, "RX");
  // Oscillator to OSC2 and OSC1 (left rows 4 and 5).
  Wire(p, {{kLeft, row(4)}, {30, row(4)}});
  Wire(p, {{kLeft, row(5)}, {18, row(5)}, {18, 392}, {30, 392}});
  // Supply: Vdd (right row 0) feeds reset and power control; Vss (left row
  // 6) is the ground.
  Wire(p, {{kRight, row(0)}, {380, row(0)}});
  Wire(p, {{kLeft, row(6)}, {22, row(6)}});
  for (int k = 0; k < 3; ++k) {
    const qreal half = 7 - 2.5 * k;
    p.drawLine(QPointF(22 + 4 * k, row(6) - half), QPointF(22 + 4 * k, row(6) + half));
  }
}

// A pointer that says "opens an editor": an arrow with a small window beside it.
QCursor MakeBlockCursor() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath arrow;
  arrow.moveTo(1, 1);
  arrow.lineTo(1, 18);
  arrow.lineTo(5.5, 14);
  arrow.lineTo(9, 21);
  arrow.lineTo(11.5, 20);
  arrow.lineTo(8, 13);
  arrow.lineTo(14, 13);
  arrow.closeSubpath();
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawPath(arrow);
  p.setBrush(QColor(0, 200, 0));
  p.drawRect(QRectF(16.5, 18.5, 13, 11));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(18.5, 22.5, 9, 5));
  p.end();
  return QCursor(pm, 1, 1);
}

}  // namespace

const std::array<DiagramBlock, BlockDiagram::kBlockCount>& BlockDiagram::blocks() {
  static const std::array<DiagramBlock, kBlockCount> blocks = {{
      {"PWM1", 30, 475, 115, 510, WindowId::PWM1},
      {"PWM2", 145, 475, 230, 510, WindowId::PWM2},
      {"A/D converter", 275, 475, 360, 510, WindowId::AtoD},
      {"CAN", 285, 300, 360, 405, WindowId::CAN},
      {"GPIO", 285, 75, 335, 210, WindowId::GPIO},
      {"User memory", 30, 180, 90, 290, WindowId::UserReg},
  }};
  return blocks;
}

double BlockDiagram::pinRowY(int row) {
  return (kPinTopTwips + row * kPinPitch * kPinHeightTwips + kPinHeightTwips / 2.0) / 15.0;
}

int BlockDiagram::blockAt(QPointF p) {
  const auto& table = blocks();
  for (int i = 0; i < kBlockCount; ++i) {
    const DiagramBlock& b = table[static_cast<std::size_t>(i)];
    if (b.x1 < p.x() && p.x() < b.x2 && b.y1 < p.y() && p.y() < b.y2) return i;
  }
  return -1;
}

BlockDiagram::BlockDiagram(QWidget* parent) : QWidget(parent), cursor_(MakeBlockCursor()) {
  setObjectName("picBlkDgm");
  setFixedSize(kWidth, kHeight);
  setMouseTracking(true);
  // Clicking the picture takes the focus, so a frequency being typed is
  // committed before an editor opens; Tab reaches it for the keyboard.
  setFocusPolicy(Qt::StrongFocus);
  InstallAccessibleFactories();
  setAccessibleName("Block diagram");
  setAccessibleDescription("Arrow keys choose a block, Enter or Space opens its editor");
  renderPicture();
}

void BlockDiagram::renderPicture() {
  const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
  picture_ = QImage(QSize(kWidth, kHeight) * dpr, QImage::Format_RGB32);
  picture_.setDevicePixelRatio(dpr);
  picture_.fill(Qt::white);

  QPainter p(&picture_);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // Package body.
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(QColor(247, 247, 244));
  p.drawRoundedRect(QRectF(6, 6, kWidth - 12, kHeight - 12), 10, 10);
  QFont title = font();
  title.setPointSizeF(9);
  title.setBold(true);
  p.setFont(title);
  p.setPen(QColor(40, 40, 40));
  p.drawText(QRect(50, 10, 248, 18), Qt::AlignCenter, "ZK7A / ZK7B  CAN I/O Expander");

  QFont small = font();
  small.setPointSizeF(7.5);
  QFont blockFont = small;
  blockFont.setBold(true);

  // Connections, drawn first so the blocks sit on top of them.
  const QColor wire(70, 70, 70);
  p.setPen(QPen(wire, 1.5));
  p.setBrush(Qt::NoBrush);
  // Internal bus: message control on it, the PWM modules and the converter
  // below; the caption sits between the arrows.
  p.fillRect(QRectF(30, 432, 330, 10), QColor(200, 200, 200));
  p.drawRect(QRectF(30, 432, 330, 10));
  p.setFont(small);
  p.drawText(QRectF(200, 443, 110, 13), Qt::AlignLeft | Qt::AlignVCenter, "Internal bus");
  for (qreal x : {72.5, 187.5, 317.5}) Arrow(p, QPointF(x, 442), QPointF(x, 474));
  p.drawLine(QPointF(187.5, 405), QPointF(187.5, 432));
  Arrow(p, QPointF(90, 235), QPointF(109, 235));       // user memory -> OTP
  Arrow(p, QPointF(187.5, 290), QPointF(187.5, 299));  // OTP -> message control
  Arrow(p, QPointF(265, 352), QPointF(284, 352));      // message control -> CAN
  Arrow(p, QPointF(265, 195), QPointF(284, 195));      // OTP -> GPIO
  DrawPinWires(p, small);

  // Blocks that only explain.
  for (const PlainBlock& b : kPlainBlocks) {
    p.setPen(QPen(QColor(120, 120, 120), 1.5));
    p.setBrush(QColor(228, 228, 228));
    p.drawRoundedRect(QRectF(b.rect), 4, 4);
    p.setPen(QColor(40, 40, 40));
    p.setFont(small);
    p.drawText(b.rect.adjusted(2, 2, -2, -2), Qt::AlignCenter | Qt::TextWordWrap, b.text);
  }
  // The six blocks that open editors.
  const auto& table = blocks();
  for (int i = 0; i < kBlockCount; ++i) {
    const QRect r = RectOf(table[static_cast<std::size_t>(i)]);
    p.setPen(QPen(QColor(31, 78, 140), 2));
    p.setBrush(QColor(207, 227, 255));
    p.drawRoundedRect(QRectF(r), 4, 4);
    p.setPen(QColor(10, 30, 70));
    p.setFont(blockFont);
    p.drawText(r.adjusted(2, 2, -2, -2), Qt::AlignCenter | Qt::TextWordWrap, kBlockCaptions[i]);
  }
  p.end();
}

void BlockDiagram::redrawMarks() {
  QPainter p(&picture_);
  // Each drawn pixel keeps only the bits of the pen colour: with pure green,
  // the picture keeps its green component where the box lies.
  p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
  p.setPen(QPen(QColor(0, 255, 0), 10, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  const auto& table = blocks();
  for (int i = 0; i < kBlockCount; ++i)
    if (visited_[static_cast<std::size_t>(i)])
      p.drawRect(RectOf(table[static_cast<std::size_t>(i)]));
  p.end();
  update();
}

void BlockDiagram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(QPoint(0, 0), picture_);
  if (hasFocus() && keyboardFocus_ && focused_ >= 0) {
    // Outside the green mark (which reaches 5 pixels beyond the block), in a
    // colour fixed like the picture's own.
    p.setPen(QPen(QColor(20, 20, 20), 2, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(RectOf(blocks()[static_cast<std::size_t>(focused_)])).adjusted(-8, -8, 8, 8));
  }
}

void BlockDiagram::setBlockEnabled(int block, bool enabled) {
  enabled_.at(static_cast<std::size_t>(block)) = enabled;
  if (!enabled && focused_ == block) focusBlock(blockToward(block, 0, -1));
}

int BlockDiagram::blockToward(int from, int dx, int dy) const {
  // Among the blocks within 45 degrees of the direction, the nearest by the
  // distance that way plus twice the distance across it.
  const auto centre = [](int i) {
    return QRectF(RectOf(blocks()[static_cast<std::size_t>(i)])).center();
  };
  int best = -1;
  double bestScore = 0;
  for (int i = 0; i < kBlockCount; ++i) {
    if (i == from || !enabled_[static_cast<std::size_t>(i)]) continue;
    const QPointF d = centre(i) - centre(from);
    const double along = d.x() * dx + d.y() * dy;
    const double across = std::abs(d.x() * dy) + std::abs(d.y() * dx);
    if (along <= 0 || across > along) continue;
    const double score = along + 2 * across;
    if (best < 0 || score < bestScore) {
      best = i;
      bestScore = score;
    }
  }
  return best;
}

void BlockDiagram::focusBlock(int block) {
  if (block < 0) return;
  focused_ = block;
  update();
  if (hasFocus()) AnnounceDiagramFocus(this, block);
}

void BlockDiagram::keyPressEvent(QKeyEvent* e) {
  const struct {
    int key, dx, dy;
  } arrows[] = {
      {Qt::Key_Left, -1, 0}, {Qt::Key_Right, 1, 0}, {Qt::Key_Up, 0, -1}, {Qt::Key_Down, 0, 1}};
  for (const auto& a : arrows)
    if (e->key() == a.key && e->modifiers() == Qt::NoModifier) {
      keyboardFocus_ = true;
      focusBlock(blockToward(focused_, a.dx, a.dy));
      update();
      return;
    }
  const bool opens =
      e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_Space;
  if (opens && !e->isAutoRepeat() && blockEnabled(focused_)) {
    keyboardFocus_ = true;
    update();
    emit blockPressed(focused_);
    return;
  }
  QWidget::keyPressEvent(e);
}

void BlockDiagram::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  // The frame shows for keyboard use, not for a click or the window's start.
  keyboardFocus_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason ||
                   e->reason() == Qt::ShortcutFocusReason;
  update();
  AnnounceDiagramFocus(this, focused_);
}

void BlockDiagram::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  update();
}

void BlockDiagram::updateCursor(QPointF pos) {
  const bool inside = blockAt(pos) >= 0;
  if (inside == blockCursor_) return;
  blockCursor_ = inside;
  if (inside)
    setCursor(cursor_);
  else
    setCursor(Qt::ArrowCursor);
}

void BlockDiagram::mouseMoveEvent(QMouseEvent* e) {
  updateCursor(e->position());
}

void BlockDiagram::leaveEvent(QEvent*) {
  updateCursor(QPointF(-1, -1));
}

void BlockDiagram::mousePressEvent(QMouseEvent* e) {
  keyboardFocus_ = false;
  const int block = blockAt(e->position());
  if (block >= 0 && blockEnabled(block)) emit blockPressed(block);
}
