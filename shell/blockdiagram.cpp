#include "shell/blockdiagram.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Blocks that only explain the chip; they open nothing.
struct PlainBlock {
  QRect rect;
  const char* text;
};

const PlainBlock kPlainBlocks[] = {
    {QRect(22, 70, 68, 80), "Oscillator\nLP / XT / HS"},
    {QRect(110, 180, 155, 110), "OTP Program\nMemory\n70 words\n(power-up values)"},
    {QRect(110, 300, 155, 105), "Message\nControl\nTX ID0-2, Mask,\nFilters, Scheduled TX"},
    {QRect(30, 300, 60, 105), "Reset and\nPower\nControl"},
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

const std::array<DiagramBlock, BlockDiagram::kBlockCount>& BlockDiagram::Blocks() {
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

int BlockDiagram::BlockAt(QPointF p) {
  const auto& blocks = Blocks();
  for (int i = 0; i < kBlockCount; ++i) {
    const DiagramBlock& b = blocks[static_cast<std::size_t>(i)];
    if (b.x1 < p.x() && p.x() < b.x2 && b.y1 < p.y() && p.y() < b.y2) return i;
  }
  return -1;
}

BlockDiagram::BlockDiagram(QWidget* parent) : QWidget(parent), cursor_(MakeBlockCursor()) {
  setObjectName("picBlkDgm");
  setFixedSize(kWidth, kHeight);
  setMouseTracking(true);
  // Clicking the picture takes the focus, so a frequency being typed is
  // committed before an editor opens.
  setFocusPolicy(Qt::ClickFocus);
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
  p.drawText(QRect(6, 10, kWidth - 12, 18), Qt::AlignCenter, "ZK7A / ZK7B  CAN I/O Expander");

  QFont small = font();
  small.setPointSizeF(7.5);
  QFont blockFont = small;
  blockFont.setBold(true);

  // Connections, drawn first so the blocks sit on top of them.
  const QColor wire(70, 70, 70);
  p.setPen(QPen(wire, 1.5));
  p.setBrush(Qt::NoBrush);
  // Internal bus.
  p.fillRect(QRectF(30, 432, 330, 10), QColor(200, 200, 200));
  p.drawRect(QRectF(30, 432, 330, 10));
  p.setFont(small);
  p.drawText(QRectF(30, 442, 330, 14), Qt::AlignCenter, "Internal bus");
  for (qreal x : {72.5, 187.5, 317.5}) Arrow(p, QPointF(x, 442), QPointF(x, 474));
  for (qreal x : {60.0, 187.5, 322.5}) p.drawLine(QPointF(x, 405), QPointF(x, 432));
  Arrow(p, QPointF(90, 235), QPointF(109, 235));       // user memory -> OTP
  Arrow(p, QPointF(187.5, 290), QPointF(187.5, 299));  // OTP -> message control
  Arrow(p, QPointF(265, 352), QPointF(284, 352));      // message control -> CAN
  p.drawLine(QPointF(265, 245), QPointF(310, 245));    // OTP -> GPIO
  Arrow(p, QPointF(310, 245), QPointF(310, 211));
  // Outside lines of the pins.
  for (int k = 0; k < 4; ++k) p.drawLine(QPointF(335, 95 + k * 30), QPointF(384, 95 + k * 30));
  p.drawText(QRectF(337, 80, 46, 12), Qt::AlignCenter, "GP0-7");
  Arrow(p, QPointF(360, 330), QPointF(383, 330));
  Arrow(p, QPointF(383, 375), QPointF(361, 375));
  p.drawText(QRectF(361, 316, 23, 12), Qt::AlignCenter, "TX");
  p.drawText(QRectF(361, 378, 23, 12), Qt::AlignCenter, "RX");
  p.drawLine(QPointF(7, 95), QPointF(22, 95));
  p.drawLine(QPointF(7, 125), QPointF(22, 125));

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
  const auto& blocks = Blocks();
  for (int i = 0; i < kBlockCount; ++i) {
    const QRect r = RectOf(blocks[static_cast<std::size_t>(i)]);
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
  const auto& blocks = Blocks();
  for (int i = 0; i < kBlockCount; ++i)
    if (visited_[static_cast<std::size_t>(i)])
      p.drawRect(RectOf(blocks[static_cast<std::size_t>(i)]));
  p.end();
  update();
}

void BlockDiagram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(QPoint(0, 0), picture_);
}

void BlockDiagram::updateCursor(QPointF pos) {
  const bool inside = BlockAt(pos) >= 0;
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
  const int block = BlockAt(e->position());
  if (block >= 0) emit blockPressed(block);
}
