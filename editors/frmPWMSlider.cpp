// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmPWMSlider.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>

#include "editors/frmPWM.h"
#include "gui/app.h"
#include "model/format.h"
#include "model/pwm.h"

PwmSliderDialog::PwmSliderDialog(const char* name, const QString& title, const char* sliderName,
                                 int maximum, int pageStep, const char* valueName,
                                 const char* resultName, const QString& what) {
  setObjectName(name);
  setWindowTitle(title);
  auto* top = new QVBoxLayout(this);

  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName(sliderName);
  slider_->setRange(0, maximum);
  slider_->setSingleStep(1);
  slider_->setPageStep(pageStep);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setTickInterval(pageStep);
  slider_->setMinimumWidth(360);
  slider_->setToolTip(what);
  slider_->setAccessibleName(what);
  top->addWidget(slider_);
  auto* scale = new QHBoxLayout;
  scale->addWidget(new QLabel("0", this));
  scale->addStretch();
  scale->addWidget(new QLabel(QString::fromStdString(zk7::HexNoPad(maximum)), this));
  top->addLayout(scale);

  auto* grid = new QGridLayout;
  value_ = new QLabel("0", this);
  value_->setObjectName(valueName);
  result_ = new QLabel(this);
  result_->setObjectName(resultName);
  for (QLabel* l : {value_, result_}) {
    l->setFrameShape(QFrame::StyledPanel);
    l->setMinimumWidth(120);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  grid->addWidget(new QLabel(what + " (hex)", this), 0, 0);
  grid->addWidget(value_, 0, 1);
  grid->addWidget(new QLabel("Time", this), 1, 0);
  grid->addWidget(result_, 1, 1);
  grid->setColumnStretch(2, 1);
  top->addLayout(grid);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  cmdSet = new QPushButton("Set", this);
  cmdSet->setObjectName("cmdSet");
  cmdSet->setDefault(true);
  cmdCancel = new QPushButton("Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  buttons->addWidget(cmdSet);
  buttons->addWidget(cmdCancel);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(slider_, &QSlider::valueChanged, this, [this] { RefreshSliderDisp(); });
  connect(cmdSet, &QPushButton::clicked, this, [this] { set(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { reject(); });
}

void PwmSliderDialog::RefreshSliderDisp() {
  const int v = slider_->value();
  value_->setText(QString::fromStdString(zk7::HexNoPad(static_cast<unsigned>(v))));
  const int x = PwmState().PWMSelect;
  if (x != 1 && x != 2) return;
  const double fosc = App().Fosc;
  if (fosc == 0) {
    result_->setText(zk7::NoValue());
    return;
  }
  const double us = seconds(v, PwmState().prescale(x), fosc) * 1000000.0;
  result_->setText(DecimalText(us) + QStringLiteral(" \u00B5s"));
}

void PwmSliderDialog::showEvent(QShowEvent* event) {
  EditorWindow::showEvent(event);
  if (event->spontaneous()) return;
  saved_ = slider_->value();
  RefreshSliderDisp();
}

void PwmSliderDialog::set() {
  RefreshSliderDisp();
  const int x = PwmState().PWMSelect;
  if (x == 1 || x == 2) store(x, slider_->value());
  done(QDialog::Accepted);
}

void PwmSliderDialog::reject() {
  slider_->setValue(saved_);
  RefreshSliderDisp();
  done(QDialog::Rejected);
}

frmPWMSlider::frmPWMSlider()
    : PwmSliderDialog("frmPWMSlider", "Set PWM Period Register", "PWMSlider", 255, 16, "lblPRegVal",
                      "lblPWMResult", "Period register") {
  PWMSlider = slider_;
  lblPRegVal = value_;
  lblPWMResult = result_;
}

double frmPWMSlider::seconds(int v, int prescale, double fosc) const {
  return zk7::PwmPeriod(v, prescale, fosc);
}

void frmPWMSlider::store(int module, int v) {
  App().regs.set(zk7::PwmModuleOf(module).pr, v);
}
