// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The production window's controls and their layout: the station's settings
// with Start and Stop above, the result, the one key and the details on the
// left, the counts and the log's last records on the right.
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/seam.h"
#include "gui/windows.h"
#include "shell/frmProduction.h"

void frmProduction::buildControls() {
  auto* settingsBox = new QGroupBox("Station", this);
  auto* grid = new QGridLayout(settingsBox);
  auto row = [&](int r, const char* caption, QLineEdit*& edit, const char* name, QLabel*& info,
                 const char* infoName, const QString& placeholder) {
    auto* label = new QLabel(caption);
    grid->addWidget(label, r, 0);
    edit = new QLineEdit;
    label->setBuddy(edit);  // its name for a screen reader
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    grid->addWidget(edit, r, 1);
    info = new QLabel;
    info->setObjectName(infoName);
    info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(info, r, 3);
  };
  row(0, "Configuration:", txtConfiguration, "txtConfiguration", lblConfigurationInfo,
      "lblConfigurationInfo",
      mode_ == Mode::Station ? "the default configuration" : "the configuration in memory");
  row(1, "Port:", txtPort, "txtPort", lblPortInfo, "lblPortInfo", "378, /dev/parport0, ftdi, ...");
  row(2, "Serial rule:", txtSerial, "txtSerial", lblSerialInfo, "lblSerialInfo",
      "none, or NAME=START[:STEP][..LAST], e.g. TXID0=std:100..std:1FF");
  row(3, "Log file:", txtLog, "txtLog", lblLogInfo, "lblLogInfo", "none, or LOG.csv");
  cmdBrowseConfiguration = new QPushButton("Browse...");
  cmdBrowseConfiguration->setObjectName("cmdBrowseConfiguration");
  cmdBrowseConfiguration->setAutoDefault(false);
  connect(cmdBrowseConfiguration, &QPushButton::clicked, this, &frmProduction::browseConfiguration);
  grid->addWidget(cmdBrowseConfiguration, 0, 2);
  grid->setColumnStretch(1, 2);
  grid->setColumnStretch(3, 3);

  cmdStart = new QPushButton("Start");
  cmdStart->setObjectName("cmdStart");
  connect(cmdStart, &QPushButton::clicked, this, [this] { start(); });
  cmdStop = new QPushButton("Stop");
  cmdStop->setObjectName("cmdStop");
  connect(cmdStop, &QPushButton::clicked, this, &frmProduction::stop);

  fraResult = new QFrame;
  fraResult->setObjectName("fraResult");
  fraResult->setFrameShape(QFrame::Box);
  fraResult->setAutoFillBackground(true);
  fraResult->setMinimumHeight(150);
  fraResult->setAccessibleName("Result");
  auto* resultLayout = new QVBoxLayout(fraResult);
  lblResult = new QLabel;
  lblResult->setObjectName("lblResult");
  lblResult->setAlignment(Qt::AlignCenter);
  QFont big = lblResult->font();
  big.setPointSize(44);
  big.setBold(true);
  lblResult->setFont(big);
  lblResultInfo = new QLabel;
  lblResultInfo->setObjectName("lblResultInfo");
  lblResultInfo->setAlignment(Qt::AlignCenter);
  QFont infoFont = lblResultInfo->font();
  infoFont.setPointSize(16);
  lblResultInfo->setFont(infoFont);
  resultLayout->addWidget(lblResult, 1);
  resultLayout->addWidget(lblResultInfo);

  lblState = new QLabel;
  lblState->setObjectName("lblState");
  lblState->setWordWrap(true);
  QFont stateFont = lblState->font();
  stateFont.setBold(true);
  lblState->setFont(stateFont);

  Progress = new QProgressBar;
  Progress->setObjectName("Progress");
  Progress->setRange(0, zk7::kImageSize - 1);
  Progress->setTextVisible(false);
  Progress->setMaximumHeight(12);
  // Kept in the layout while hidden, so nothing below it moves during a run.
  QSizePolicy keep = Progress->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  Progress->setSizePolicy(keep);
  Progress->hide();

  cmdProgramNext = new QPushButton("Program Next Chip");
  cmdProgramNext->setObjectName("cmdProgramNext");
  cmdProgramNext->setMinimumHeight(64);
  QFont buttonFont = cmdProgramNext->font();
  buttonFont.setPointSize(20);
  buttonFont.setBold(true);
  cmdProgramNext->setFont(buttonFont);
  connect(cmdProgramNext, &QPushButton::clicked, this, &frmProduction::programNext);

  txtDetails = new QPlainTextEdit;
  txtDetails->setObjectName("txtDetails");
  txtDetails->setReadOnly(true);
  txtDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  txtDetails->setPlaceholderText("Why a chip was refused or failed, and notes on the log");
  txtDetails->setAccessibleName("Details");

  lblSessionCounts = new QLabel;
  lblSessionCounts->setObjectName("lblSessionCounts");
  lblLogTotals = new QLabel;
  lblLogTotals->setObjectName("lblLogTotals");
  grdRecent = new QTableWidget(0, 5);
  grdRecent->setObjectName("grdRecent");
  grdRecent->setHorizontalHeaderLabels({"Time", "Serial", "Result", "Position", "ms"});
  grdRecent->setAccessibleName("Last records of the log");
  grdRecent->verticalHeader()->hide();
  grdRecent->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdRecent->setSelectionMode(QAbstractItemView::NoSelection);
  grdRecent->setFocusPolicy(Qt::NoFocus);
  grdRecent->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  grdRecent->horizontalHeader()->setStretchLastSection(true);

  auto* left = new QVBoxLayout;
  left->addWidget(fraResult, 3);
  left->addWidget(Progress);
  left->addWidget(cmdProgramNext);
  left->addWidget(lblState);
  left->addWidget(new QLabel("Details:"));
  left->addWidget(txtDetails, 2);
  auto* right = new QVBoxLayout;
  right->addWidget(lblSessionCounts);
  right->addWidget(lblLogTotals);
  right->addWidget(new QLabel("Last records of the log:"));
  right->addWidget(grdRecent, 1);
  auto* body = new QHBoxLayout;
  body->addLayout(left, 3);
  body->addLayout(right, 2);

  auto* top = new QHBoxLayout;
  top->addWidget(settingsBox, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(cmdStart);
  buttons->addWidget(cmdStop);
  buttons->addStretch(1);
  top->addLayout(buttons);
  for (QPushButton* b : {cmdStart, cmdStop, cmdProgramNext}) b->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(body, 1);
  // Roomy where the screen allows; on a small one, no larger than its work area.
  QSize size(960, 680);
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(WorkArea(s).size().shrunkBy(WindowFrame(this)));
  resize(size.expandedTo(minimumSizeHint()));
}

void frmProduction::browseConfiguration() {
  const QString path = Seam::instance().openFileName(this, "Configuration for Production",
                                                     "Configuration (*.dvs *.hex);;All Files (*)",
                                                     "dvs", txtConfiguration->text());
  if (!path.isEmpty()) txtConfiguration->setText(path);
}

void frmProduction::updateControls() {
  const bool editable = mode_ == Mode::FromMenu && !session_;
  for (QLineEdit* e : {txtConfiguration, txtPort, txtSerial, txtLog}) e->setReadOnly(!editable);
  cmdBrowseConfiguration->setEnabled(editable);
  cmdStart->setEnabled(!session_ && !running_);
  cmdStop->setEnabled(!running_);
  cmdStop->setText(session_ ? "Stop" : "Close");
  cmdProgramNext->setEnabled(session_ && !running_ && session_->stopReason().empty());
}
