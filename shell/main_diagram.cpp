// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's block diagram and what lies around it: the 14 pin markers
// and their names, laid out in twips as the design gives them, the Scheduled
// TX button beside the TXCAN pin, and the editors the blocks open.
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <cmath>

#include "gui/seam.h"
#include "gui/windows.h"
#include "shell/blockdiagram.h"
#include "shell/frmMain.h"

namespace {

// Design units: twips, 15 to a logical pixel.
constexpr double kTwipsPerPixel = 15.0;
constexpr int kPinW = 735;  // marker template, twips
constexpr int kPinH = BlockDiagram::kPinHeightTwips;
constexpr int kPinLabelWidth = 56;  // label template, pixels

// Placement of the picture in the window (pixels).
constexpr int kPicLeft = 150;
constexpr int kPicTop = 4;

int Px(double twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

}  // namespace

const std::array<const char*, frmMain::kPinCount>& frmMain::pinNames() {
  static const std::array<const char*, kPinCount> names = {"GP0",  "GP1",   "GP2",   "GP3", "OSC2",
                                                           "OSC1", "Vss",   "GP4",   "GP5", "GP6",
                                                           "GP7",  "RXCAN", "TXCAN", "Vdd"};
  return names;
}

void frmMain::buildDiagram(QWidget* content) {
  picBlkDgm = new BlockDiagram(content);
  picBlkDgm->move(kPicLeft, kPicTop);
  connect(picBlkDgm, &BlockDiagram::blockPressed, this, &frmMain::openBlock);
  buildDeviceControls();

  // Pin templates (index 0), hidden.
  shpPin[0] = new QFrame(content);
  shpPin[0]->setObjectName("shpPin_0");
  shpPin[0]->setGeometry(0, 0, Px(kPinW), Px(kPinH));
  shpPin[0]->hide();
  lblPinName[0] = new QLabel("GP3/AN3/PWM2", content);
  lblPinName[0]->setObjectName("lblPinName_0");
  lblPinName[0]->setGeometry(0, 0, kPinLabelWidth, Px(kPinH));
  lblPinName[0]->hide();

  cmdSTCON = new QPushButton("Scheduled TX", content);
  cmdSTCON->setObjectName("cmdSTCON");
  cmdSTCON->resize(100, 26);
  connect(cmdSTCON, &QPushButton::clicked, this, &frmMain::stconClicked);
}

void frmMain::layOutPins() {
  // Twips, as the design lays them out: markers in two columns of seven just
  // outside the picture, labels beside them in package pin order.
  const double picLeft = kPicLeft * kTwipsPerPixel;
  const double picTop = kPicTop * kTwipsPerPixel;
  const double W = shpPin[0]->width() * kTwipsPerPixel;
  const double H = shpPin[0]->height() * kTwipsPerPixel;
  const double labelW = lblPinName[0]->width() * kTwipsPerPixel;
  QWidget* content = shpPin[0]->parentWidget();
  QPalette markerPalette = shpPin[0]->palette();
  markerPalette.setColor(QPalette::Window, QColor(190, 190, 190));
  markerPalette.setColor(QPalette::WindowText, QColor(80, 80, 80));
  for (int c = 0; c < 2; ++c) {
    for (int r = 0; r < 7; ++r) {
      const int n = 7 * c + r + 1;
      const double top = picTop + BlockDiagram::kPinTopTwips + r * BlockDiagram::kPinPitch * H;
      const double left = picLeft - W + c * 8.98 * W;
      auto* marker = new QFrame(content);
      marker->setObjectName(QString("shpPin_%1").arg(n));
      marker->setGeometry(Px(left), Px(top), Px(W), Px(H));
      marker->setFrameShape(QFrame::Box);
      marker->setAutoFillBackground(true);
      marker->setPalette(markerPalette);
      marker->show();
      shpPin[static_cast<std::size_t>(n)] = marker;

      const int pin = c == 0 ? r + 1 : 14 - r;
      auto* label = new QLabel(pinNames()[static_cast<std::size_t>(pin - 1)], content);
      label->setObjectName(QString("lblPinName_%1").arg(pin));
      const double labelLeft = c == 0 ? left - labelW : left + W;
      label->setGeometry(Px(labelLeft), Px(top), Px(labelW), Px(H));
      label->setAlignment((c == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
      label->setContentsMargins(3, 0, 3, 0);
      label->show();
      lblPinName[static_cast<std::size_t>(pin)] = label;
    }
  }
  // "Scheduled TX" level with the TXCAN label, a little to its right.
  QLabel* txcan = lblPinName[13];
  cmdSTCON->move(txcan->x() + static_cast<int>(std::lround(1.1 * txcan->width())), txcan->y());
}

void frmMain::openBlock(int block) {
  if (flowRunning_ || block < 0 || block >= BlockDiagram::kBlockCount) return;
  const DiagramBlock& b = BlockDiagram::blocks()[static_cast<std::size_t>(block)];
  if (!Windows::instance().has(b.opens)) return;
  picBlkDgm->setVisited(block);
  if (EditorWindow* w = Windows::instance().get(b.opens)) openModal(w);
}

void frmMain::stconClicked() {
  if (!Windows::instance().has(WindowId::STCON)) return;
  EditorWindow* w = Windows::instance().get(WindowId::STCON);
  if (!w) return;
  Seam::instance().execModal(w);
  QPalette pal = cmdSTCON->palette();
  pal.setColor(QPalette::Button, QColor(0, 255, 0));
  pal.setColor(QPalette::ButtonText, Qt::black);  // readable on the green in every theme
  cmdSTCON->setPalette(pal);
  activated();
}
