// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmSTCON.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "editors/frmPWM.h"
#include "gui/app.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "model/stcon.h"

frmSTCON::frmSTCON() {
  setObjectName("frmSTCON");
  setWindowTitle("STCON");
  auto* top = new QVBoxLayout(this);

  chkSTEN = new QCheckBox("Scheduled TX = OFF", this);
  chkSTEN->setObjectName("chkSTEN");
  top->addWidget(chkSTEN);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("Base Frequency", this), 0, 0);
  cmbBaseFreq = new QComboBox(this);
  cmbBaseFreq->setObjectName("cmbBaseFreq");
  cmbBaseFreq->setAccessibleName("Base frequency");
  for (int i = 0; i < zk7::kSTCONBaseCount; ++i)
    cmbBaseFreq->addItem(zk7::STCONBaseOf(i).text, zk7::STCONBaseOf(i).bits);
  grid->addWidget(cmbBaseFreq, 1, 0);

  grid->addWidget(new QLabel("Scheduled TX (ms)", this), 0, 1);
  txtSTCONRate = new QLineEdit(this);
  txtSTCONRate->setObjectName("txtSTCONRate");
  txtSTCONRate->setAccessibleName("Scheduled TX period (ms)");
  txtSTCONRate->setReadOnly(true);
  txtSTCONRate->setAlignment(Qt::AlignRight);
  grid->addWidget(txtSTCONRate, 1, 1);

  grid->addWidget(new QLabel("Scheduled Transmission Multiplier", this), 2, 0, 1, 2);
  sldrTxMult = new QSlider(Qt::Horizontal, this);
  sldrTxMult->setObjectName("sldrTxMult");
  sldrTxMult->setAccessibleName("Scheduled transmission multiplier");
  sldrTxMult->setRange(1, 16);
  sldrTxMult->setPageStep(4);
  sldrTxMult->setTickPosition(QSlider::TicksBelow);
  sldrTxMult->setTickInterval(1);
  sldrTxMult->setToolTip("Multiplier 1 to 16");
  grid->addWidget(sldrTxMult, 3, 0, 1, 2);
  auto* scale = new QHBoxLayout;
  scale->addWidget(new QLabel("1", this));
  scale->addStretch();
  scale->addWidget(new QLabel("16", this));
  grid->addLayout(scale, 4, 0, 1, 2);
  top->addLayout(grid);

  auto* lower = new QHBoxLayout;
  auto* content = new QGroupBox("Message Content", this);
  auto* cl = new QVBoxLayout(content);
  optNoData = new QRadioButton("TX no data", content);
  optNoData->setObjectName("optNoData");
  optAtoDRegs = new QRadioButton("TX A/D Registers", content);
  optAtoDRegs->setObjectName("optAtoDRegs");
  cl->addWidget(optNoData);
  cl->addWidget(optAtoDRegs);
  lower->addWidget(content);

  auto* regFrame = new QGroupBox("Register", this);
  auto* rl = new QVBoxLayout(regFrame);
  lblAddr = new QLabel("STCON", regFrame);
  lblAddr->setObjectName("lblAddr_0");
  lblAddr->setAlignment(Qt::AlignCenter);
  txtSTCON = new QLineEdit(regFrame);
  txtSTCON->setObjectName("txtSTCON_0");
  txtSTCON->setAccessibleName(RegisterBoxName("STCON"));
  txtSTCON->setReadOnly(true);
  txtSTCON->setAlignment(Qt::AlignCenter);
  txtSTCON->setFixedWidth(58);
  rl->addWidget(lblAddr);
  rl->addWidget(txtSTCON);
  rl->addStretch();
  lower->addWidget(regFrame);
  top->addLayout(lower);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  cmdOK = new QPushButton("OK", this);
  cmdOK->setObjectName("cmdOK");
  buttons->addWidget(cmdOK);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(chkSTEN, &QCheckBox::toggled, this, [this](bool on) {
    showEnableLook();
    if (on)
      write(0xFF, zk7::kSTCONEnable);
    else
      write(0x7F, 0);
  });
  connect(cmbBaseFreq, &QComboBox::currentIndexChanged, this,
          [this] { write(0xCF, cmbBaseFreq->currentData().toInt()); });
  connect(sldrTxMult, &QSlider::valueChanged, this, [this](int m) { write(0xF0, m - 1); });
  connect(optAtoDRegs, &QRadioButton::clicked, this, [this] { write(0xFF, zk7::kSTCONAtoDData); });
  connect(optNoData, &QRadioButton::clicked, this, [this] { write(0xBF, 0); });
  connect(cmdOK, &QPushButton::clicked, this, [this] { done(0); });

  showEnableLook();
}

void frmSTCON::showEnableLook() {
  ShowOnOff(chkSTEN, chkSTEN->isChecked(), "Scheduled TX = ON", "Scheduled TX = OFF");
}

void frmSTCON::write(int keep, int set) {
  App().regs.set(zk7::STCON, (App().regs[zk7::STCON] & keep) | set);
  RefreshSTCONDisp();
}

void frmSTCON::loadFromRegister() {
  const std::uint8_t v = App().regs[zk7::STCON];
  {
    // The controls take exactly the register's fields, so their rules would
    // write the same byte back: showing runs only the visible consequences.
    QSignalBlocker b1(cmbBaseFreq), b2(chkSTEN), b3(optAtoDRegs), b4(optNoData), b5(sldrTxMult);
    cmbBaseFreq->setCurrentIndex(zk7::STCONBaseIndex(v));
    chkSTEN->setChecked((v & zk7::kSTCONEnable) != 0);
    ((v & zk7::kSTCONAtoDData) ? optAtoDRegs : optNoData)->setChecked(true);
    sldrTxMult->setValue(zk7::STCONMultiplier(v));
  }
  showEnableLook();
  RefreshSTCONDisp();
}

void frmSTCON::RefreshSTCONDisp() {
  txtSTCON->setText(QString::fromStdString(zk7::Hex2(App().regs[zk7::STCON])));
  const int index = cmbBaseFreq->currentIndex();
  if (index < 0 || index >= zk7::kSTCONBaseCount) return;
  const double ms = zk7::STCONPeriodMs(index, sldrTxMult->value(), App().Fosc);
  txtSTCONRate->setText(DecimalText(ms));
}

void frmSTCON::showEvent(QShowEvent* event) {
  EditorWindow::showEvent(event);
  if (!event->spontaneous()) loadFromRegister();
}
