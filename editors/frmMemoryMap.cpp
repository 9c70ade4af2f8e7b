// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmMemoryMap.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "gui/app.h"
#include "gui/guiflow.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "model/named_fields.h"

namespace {
constexpr int kColumns = 8;
const QColor kReadColour(255, 255, 0);
const QColor kLoadedColour(0, 255, 0);

}  // namespace

frmMemoryMap::frmMemoryMap(QWidget* parent) : EditorWindow(parent) {
  setObjectName("frmMemoryMap");
  setWindowTitle("User Memory Map");

  auto* image = new QGroupBox("Device Memory Image (address hex)");
  image->setObjectName("fraImage");
  auto* grid = new QGridLayout(image);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(1);
  const QFontMetrics fm(font());
  const int boxWidth = fm.horizontalAdvance("WW") + 16;
  for (int k = 1; k <= zk7::kImageSize; ++k) {
    const int row = (k - 1) / kColumns;
    const int col = (k - 1) % kColumns;
    auto* label = new QLabel(QString::fromStdString(zk7::HexNoPad(k - 1)));
    label->setObjectName(QString("lblAddr_%1").arg(k));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    label->setContentsMargins(0, row == 0 ? 0 : 5, 0, 0);  // keeps each row with its labels
    auto* box = new QLineEdit("--");
    box->setObjectName(QString("txtUserMemReg_%1").arg(k));
    const int position = k - 1;
    box->setAccessibleName(
        QString("Image byte %1 (%2)")
            .arg(QString::fromStdString(zk7::HexNoPad(position)),
                 position < zk7::kUserMemoryFirstEntry ? QString(zk7::RegisterName(position))
                 : position < zk7::kUserMemoryFirstEntry + zk7::kUserMemorySize
                     ? QString("user memory byte %1").arg(position - zk7::kUserMemoryFirstEntry)
                     : QString("checksum")));
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setAlignment(Qt::AlignCenter);
    box->setFixedWidth(boxWidth);
    lblAddr[k] = label;
    txtUserMemReg[k] = box;
    grid->addWidget(label, row * 2, col, Qt::AlignHCenter);
    grid->addWidget(box, row * 2 + 1, col, Qt::AlignHCenter);
  }

  auto* config = new QGroupBox("Configuration Word");
  config->setObjectName("fraConfig");
  auto* configRows = new QVBoxLayout(config);
  lblOSCConfig = new QLabel("OSC Setting = ");
  lblOSCConfig->setObjectName("lblOSCConfig");
  lblGP7 = new QLabel("GP7 = ");
  lblGP7->setObjectName("lblGP7");
  lblConfigWord = new QLabel("Config Word = ");
  lblConfigWord->setObjectName("lblConfigWord");
  for (QLabel* l : {lblOSCConfig, lblGP7, lblConfigWord}) {
    l->setMinimumWidth(fm.horizontalAdvance("GP7 = Digital Input") + 20);
    configRows->addWidget(l);
  }
  configRows->addStretch();

  cmdSetDefaults = new QPushButton("Load to Memory");
  cmdSetDefaults->setObjectName("cmdSetDefaults");
  cmdSetDefaults->setEnabled(false);
  cmdOK = new QPushButton("Close");
  cmdOK->setObjectName("cmdOK");
  for (QPushButton* b : {cmdSetDefaults, cmdOK}) b->setAutoDefault(false);
  connect(cmdSetDefaults, &QPushButton::clicked, this, [this] { loadToMemory(); });
  connect(cmdOK, &QPushButton::clicked, this, [this] { hide(); });

  auto* side = new QVBoxLayout;
  side->addWidget(config);
  side->addStretch();
  side->addWidget(cmdSetDefaults);
  side->addWidget(cmdOK);

  auto* top = new QHBoxLayout(this);
  top->addWidget(image);
  top->addLayout(side);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void frmMemoryMap::setBoxColour(int k, const QColor& colour) {
  QLineEdit* box = txtUserMemReg[k];
  if (!colour.isValid()) {
    box->setPalette(QPalette());
    return;
  }
  QPalette p = box->palette();
  p.setColor(QPalette::Base, colour);
  p.setColor(QPalette::Text, Qt::black);
  box->setPalette(p);
}

void frmMemoryMap::showConfigWord(std::uint16_t w) {
  const zk7::ConfigWordMeaning meaning = zk7::DescribeConfigWord(w);
  lblOSCConfig->setText(QString("OSC Setting = ") + meaning.oscillator);
  lblGP7->setText(QString("GP7 = ") + meaning.gp7);
  lblConfigWord->setText(QString("Config Word = 0x0%1").arg(meaning.meaningfulBits));
}

void frmMemoryMap::showEvent(QShowEvent* event) {
  EditorWindow::showEvent(event);
  // Shown by its opener: read the chip once the window is on screen, so the
  // boxes can be seen filling in.
  if (!event->spontaneous())
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (isVisible()) readDevice();
        },
        Qt::QueuedConnection);
}

void frmMemoryMap::readDevice() {
  if (reading_) return;
  reading_ = true;
  readComplete_ = false;
  cmdSetDefaults->setEnabled(false);
  for (int k = 1; k <= zk7::kImageSize; ++k) setBoxColour(k, QColor());

  zk7::FlowCallbacks cb = GuiFlowCallbacks();
  cb.byteArrived = [this](int position, std::uint8_t value) {
    if (position < 0 || position >= zk7::kImageSize) return;
    txtUserMemReg[position + 1]->setText(QString::fromStdString(zk7::Hex2(value)));
    setBoxColour(position + 1, kReadColour);
  };
  zk7::Programmer& programmer = App().programmer;
  zk7::FlowResult result = programmer.ReadImageWords(App().image, cb);
  if (result.ok()) {
    std::uint16_t word = 0;
    result = programmer.ReadChipConfigWord(word, cb);
    if (result.ok()) {
      App().ChipConfigWord = word;
      showConfigWord(word);
      readComplete_ = true;
      // The boxes show what was read; the main window says if nothing answered.
      if (App().chipAnswered) App().chipAnswered(word);
    }
  }
  reading_ = false;
  cmdSetDefaults->setEnabled(readComplete_);
  if (!result.ok() && !result.text.empty())
    Seam::instance().message(this, QString::fromStdString(result.title),
                             QString::fromStdString(result.text), Seam::Icon::Critical);
}

void frmMemoryMap::loadToMemory() {
  if (!readComplete_ || reading_) return;
  zk7::RegisterSet& rs = App().regs;
  zk7::TakeOverChipImage(App().image, App().ChipConfigWord, rs);
  for (int k = 1; k <= zk7::kImageSize; ++k) setBoxColour(k, kLoadedColour);
  RefreshAll();
}
