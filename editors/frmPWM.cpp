// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmPWM.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

#include "editors/frmDCSlider.h"
#include "editors/frmPWMSlider.h"
#include "gui/app.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "model/pwm.h"

namespace {

constexpr double kTwipsPerPixel = 15.0;

// What differs between the two PWM windows.
struct PwmTwin {
  int module;
  const char* caption;
  const char* picture;
  bool refreshAllOnActivate;  // the summary refresh runs when PWM1 comes to the front
};
const PwmTwin& TwinOf(int module) {
  static const PwmTwin twins[2] = {{1, "PWM1", "picPWM1", true}, {2, "PWM2", "picPWM2", false}};
  return twins[module == 2 ? 1 : 0];
}

const zk7::PwmModule& Regs(int module) {
  return zk7::PwmModuleOf(module);
}

}  // namespace

PwmShared& PwmState() {
  static PwmShared state;
  return state;
}

void ShowOnOff(QCheckBox* box, bool on, const QString& onText, const QString& offText) {
  box->setText(on ? onText : offText);
  QPalette pal = box->palette();
  QColor c = on ? QColor(0, 255, 0) : QColor(255, 0, 0);
  pal.setColor(QPalette::Window, c);
  pal.setColor(QPalette::Button, c);
  pal.setColor(QPalette::WindowText, Qt::black);
  box->setPalette(pal);
  box->setAutoFillBackground(true);
}

QString DivisionByZeroText() {
  return QStringLiteral("Division by zero");
}

// The waveform picture: a PWM signal with its period and duty-cycle labels,
// which open the slider dialogs when pressed.
class PwmPicture : public QWidget {
 public:
  PwmPicture(int module, QWidget* parent) : QWidget(parent), module_(module) {
    setFixedSize(300, 196);
    setMouseTracking(true);
  }
  std::function<void(QPointF)> onPress;

 protected:
  void paintEvent(QPaintEvent*) override {
    const zk7::PwmModule& m = Regs(module_);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(250, 250, 245));
    p.setPen(QColor(160, 160, 160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    // Clickable label areas (pixels inside the twips rectangles).
    const QRectF period(47, 18, 210, 12), duty(47, 148, 140, 30);
    p.setPen(QColor(40, 80, 200));
    p.setBrush(QColor(225, 235, 255));
    p.drawRoundedRect(period.adjusted(0, -1, 0, 1), 3, 3);
    p.drawRoundedRect(duty, 3, 3);
    QFont f = font();
    f.setPixelSize(10);
    f.setUnderline(true);
    p.setFont(f);
    p.drawText(period, Qt::AlignCenter,
               QStringLiteral("PWM Period (%1)").arg(zk7::RegisterName(m.pr)));
    p.drawText(duty.adjusted(0, 2, 0, -14), Qt::AlignCenter, QStringLiteral("Duty Cycle"));
    f.setUnderline(false);
    f.setPixelSize(9);
    p.setFont(f);
    p.drawText(
        duty.adjusted(0, 14, 0, 0), Qt::AlignCenter,
        QStringLiteral("%1 : %2<1:0>").arg(zk7::RegisterName(m.dch), zk7::RegisterName(m.con)));

    // Marker lines and arrows of one period and of the high time.
    const int x0 = 50, xd = 150, x1 = 250, hi = 62, lo = 122;
    QPen dash(QColor(120, 120, 120), 1, Qt::DashLine);
    p.setPen(dash);
    p.drawLine(x0, 36, x0, 142);
    p.drawLine(x1, 36, x1, hi);
    p.drawLine(xd, lo, xd, 142);
    p.setPen(QPen(QColor(40, 80, 200), 1));
    arrow(p, x0, x1, 42);
    arrow(p, x0, xd, 138);

    // The signal.
    p.setPen(QPen(QColor(0, 130, 0), 2));
    const QPoint wave[] = {{12, lo}, {x0, lo}, {x0, hi}, {xd, hi},
                           {xd, lo}, {x1, lo}, {x1, hi}, {288, hi}};
    p.drawPolyline(wave, 8);
    f.setPixelSize(9);
    p.setFont(f);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRect(256, 124, 40, 12), Qt::AlignLeft,
               QStringLiteral("GP%1").arg(module_ == 2 ? 3 : 2));
  }

  void mousePressEvent(QMouseEvent* e) override {
    if (onPress) onPress(e->position() * kTwipsPerPixel);
  }

  void mouseMoveEvent(QMouseEvent* e) override {
    QPointF t = e->position() * kTwipsPerPixel;
    if (frmPWM::inPeriodLabel(t) || frmPWM::inDutyLabel(t))
      setCursor(Qt::PointingHandCursor);
    else
      unsetCursor();
  }

 private:
  static void arrow(QPainter& p, int xa, int xb, int y) {
    p.drawLine(xa, y, xb, y);
    p.drawLine(xa, y, xa + 5, y - 3);
    p.drawLine(xa, y, xa + 5, y + 3);
    p.drawLine(xb, y, xb - 5, y - 3);
    p.drawLine(xb, y, xb - 5, y + 3);
  }
  int module_;
};

// A label of the waveform as a Tab stop: Enter or Space opens its dialog, as a
// click on the label does. The mouse goes through to the picture, whose
// bounds decide what a click opens.
class WaveformLabel : public QAbstractButton {
 public:
  WaveformLabel(const QString& text, const QRect& area, QWidget* picture)
      : QAbstractButton(picture) {
    setText(text);
    setGeometry(area);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!hasFocus()) return;
    // On the picture's fixed light colours.
    QPainter p(this);
    p.setPen(QPen(QColor(20, 20, 20), 2, Qt::DashLine));
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
  void keyPressEvent(QKeyEvent* e) override {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !e->isAutoRepeat()) {
      click();
      return;
    }
    QAbstractButton::keyPressEvent(e);  // Space clicks when it is released
  }
};

bool frmPWM::inPeriodLabel(QPointF t) {
  return t.x() > 690 && t.x() < 3870 && t.y() > 255 && t.y() < 450;
}

bool frmPWM::inDutyLabel(QPointF t) {
  return t.x() > 690 && t.x() < 2820 && t.y() > 2205 && t.y() < 2685;
}

frmPWM::frmPWM(int module) : module_(module == 2 ? 2 : 1) {
  const PwmTwin& twin = TwinOf(module_);
  const zk7::PwmModule& m = Regs(module_);
  setObjectName(module_ == 2 ? "frmPWM2" : "frmPWM1");
  setWindowTitle(twin.caption);

  auto* top = new QVBoxLayout(this);

  lblCaption = new QLabel(twin.caption, this);
  lblCaption->setObjectName("lblCaption");
  QFont cf = lblCaption->font();
  cf.setBold(true);
  cf.setPointSizeF(cf.pointSizeF() * 1.6);
  lblCaption->setFont(cf);
  lblHint = new QLabel("Click on waveform labels to configure PWM", this);
  lblHint->setObjectName("lblHint");
  auto* head = new QHBoxLayout;
  head->addWidget(lblCaption);
  head->addSpacing(16);
  head->addWidget(lblHint, 1);
  top->addLayout(head);

  // Picture on the left, derived values on the right.
  auto* middle = new QHBoxLayout;
  auto* picture = new PwmPicture(module_, this);
  picture->setObjectName(twin.picture);
  picture->onPress = [this](QPointF t) { picturePressed(t); };
  picPWM = picture;
  // The labels' areas, a little larger than the picture's label boxes, in pixels;
  // their centres lie inside the areas that open the dialogs.
  cmdPeriod =
      new WaveformLabel(QString("%1 period (%2)").arg(twin.caption, zk7::RegisterName(m.pr)),
                        QRect(44, 14, 216, 18), picture);
  cmdPeriod->setObjectName("cmdPeriod");
  cmdDuty =
      new WaveformLabel(QString("%1 duty cycle (%2 : %3<1:0>)")
                            .arg(twin.caption, zk7::RegisterName(m.dch), zk7::RegisterName(m.con)),
                        QRect(44, 145, 146, 36), picture);
  cmdDuty->setObjectName("cmdDuty");
  for (QAbstractButton* label : {cmdPeriod, cmdDuty})
    connect(label, &QAbstractButton::clicked, this,
            [this, label] { picturePressed(QRectF(label->geometry()).center() * kTwipsPerPixel); });
  middle->addWidget(picPWM, 0, Qt::AlignTop);

  auto* values = new QGroupBox("PWM Figures", this);
  auto* vg = new QGridLayout(values);
  auto valueRow = [&](int row, const char* name, const char* caption, const QString& unit) {
    auto* box = new QLineEdit(values);
    box->setObjectName(name);
    box->setAccessibleName(unit.isEmpty() ? QString(caption)
                                          : QString("%1 (%2)").arg(caption, unit));
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setAlignment(Qt::AlignRight);
    box->setFixedWidth(110);
    vg->addWidget(new QLabel(caption, values), row, 0);
    vg->addWidget(box, row, 1);
    vg->addWidget(new QLabel(unit, values), row, 2);
    return box;
  };
  const QString us = QStringLiteral("\u00B5s");
  txtPWMPeriod = valueRow(0, "txtPWMPeriod", "PWM Period", us);
  txtPWMFreq = valueRow(1, "txtPWMFreq", "PWM Freq", "KHz");
  txtPWMResolution = valueRow(2, "txtPWMResolution", "PWM Resolution", "");
  txtDCPeriod = valueRow(3, "txtDCPeriod", "Duty Cycle Period", us);
  txtDC = valueRow(4, "txtDC", "Duty Cycle", "%");
  vg->setRowStretch(5, 1);
  middle->addWidget(values, 1);
  top->addLayout(middle);

  // Output, prescaler and register display in one row.
  auto* bottom = new QHBoxLayout;
  auto* outFrame = new QGroupBox("PWM Output", this);
  auto* ol = new QVBoxLayout(outFrame);
  chkPWMEnable = new QCheckBox(outFrame);
  chkPWMEnable->setObjectName("chkPWMEnable");
  chkPWMEnable->setAccessibleName(
      BitControlName(QString("%1 output on").arg(twin.caption), m.con, 7));
  chkPWMEnable->setMinimumWidth(70);
  ol->addWidget(chkPWMEnable);
  ol->addStretch();
  bottom->addWidget(outFrame);

  auto* preFrame = new QGroupBox("Timer Prescaler", this);
  auto* pl = new QHBoxLayout(preFrame);
  auto option = [&](const char* name, const char* text, int prescale) {
    auto* o = new QRadioButton(text, preFrame);
    o->setObjectName(name);
    o->setAccessibleName(QString("Timer prescaler 1:%1").arg(text));
    pl->addWidget(o);
    connect(o, &QRadioButton::clicked, this, [this, prescale] { prescaleChosen(prescale); });
    return o;
  };
  opt1 = option("opt1", "1", 1);
  opt4 = option("opt4", "4", 4);
  opt16 = option("opt16", "16", 16);
  opt1->setChecked(true);
  bottom->addWidget(preFrame);

  // Register display: copies 1..3 of the hidden template box and label, the
  // register name above each box.
  auto* regFrame = new QGroupBox("Registers", this);
  auto* rg = new QGridLayout(regFrame);
  rg->setHorizontalSpacing(10);
  const zk7::Reg regs[4] = {m.con, m.con, m.pr, m.dch};
  for (int i = 0; i <= 3; ++i) {
    lblAddr[i] = new QLabel(i == 0 ? QString() : QString(zk7::RegisterName(regs[i])), regFrame);
    lblAddr[i]->setObjectName(QStringLiteral("lblAddr_%1").arg(i));
    lblAddr[i]->setAlignment(Qt::AlignCenter);
    txtPWMReg[i] = new QLineEdit(regFrame);
    txtPWMReg[i]->setObjectName(QStringLiteral("txtPWMReg_%1").arg(i));
    txtPWMReg[i]->setAccessibleName(RegisterBoxName(zk7::RegisterName(regs[i])));
    txtPWMReg[i]->setReadOnly(true);
    txtPWMReg[i]->setAlignment(Qt::AlignCenter);
    txtPWMReg[i]->setFixedWidth(58);
    if (i == 0) {
      lblAddr[i]->hide();
      txtPWMReg[i]->hide();
      continue;
    }
    rg->addWidget(lblAddr[i], 0, i - 1);
    rg->addWidget(txtPWMReg[i], 1, i - 1);
  }
  setTabOrder(txtPWMReg[1], txtPWMReg[2]);
  setTabOrder(txtPWMReg[2], txtPWMReg[3]);
  bottom->addWidget(regFrame, 1);
  top->addLayout(bottom);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  cmdOK = new QPushButton("Close", this);
  cmdOK->setObjectName("cmdOK");
  cmdCancel = new QPushButton("Cancel", this);
  cmdCancel->setObjectName("cmdCancel");
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(cmdOK, &QPushButton::clicked, this, [this] { done(0); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { done(0); });
  connect(chkPWMEnable, &QCheckBox::clicked, this, [this](bool on) { enableClicked(on); });

  showEnableLook();
  // The prescale factor follows the option selected at load ("1").
  PwmState().prescale(module_) = 1;
}

void frmPWM::showEnableLook() {
  ShowOnOff(chkPWMEnable, chkPWMEnable->isChecked(), "ON", "OFF");
}

void frmPWM::RefreshPWMDisp(bool report) {
  const zk7::PwmModule& m = Regs(module_);
  const zk7::RegisterSet& rs = App().regs;
  // The register bytes do not depend on Fosc, so they are always current.
  txtPWMReg[1]->setText(QString::fromStdString(zk7::Hex2(rs[m.con])));
  txtPWMReg[2]->setText(QString::fromStdString(zk7::Hex2(rs[m.pr])));
  txtPWMReg[3]->setText(QString::fromStdString(zk7::Hex2(rs[m.dch])));

  zk7::PwmFigures f{};
  if (zk7::ComputePwmFigures(rs, module_, PwmState().prescale(module_), App().Fosc, f)) {
    txtPWMPeriod->setText(DecimalText(f.periodUs));
    txtPWMFreq->setText(DecimalText(f.frequencyKHz));
    txtPWMResolution->setText(DecimalText(f.resolution));
    txtDCPeriod->setText(DecimalText(f.dutyUs));
    txtDC->setText(DecimalText(f.dutyPercent));
    return;
  }
  for (QLineEdit* box : {txtPWMPeriod, txtPWMFreq, txtPWMResolution, txtDCPeriod, txtDC})
    box->setText(zk7::NoValue());
  if (report)
    Seam::instance().message(this, DivisionByZeroText(), "Error = " + DivisionByZeroText(),
                             Seam::Icon::Critical);
}

void frmPWM::showRegisterSet() {
  const std::uint8_t con = App().regs[Regs(module_).con];
  const int prescale = zk7::PwmPrescale(con);
  {
    QSignalBlocker b1(chkPWMEnable), b2(opt1), b3(opt4), b4(opt16);
    chkPWMEnable->setChecked((con & zk7::kPwmOutputOn) != 0);
    (prescale == 1 ? opt1 : prescale == 4 ? opt4 : opt16)->setChecked(true);
  }
  PwmState().prescale(module_) = prescale;
  showEnableLook();
  RefreshPWMDisp(false);
}

void frmPWM::enableClicked(bool on) {
  const zk7::Reg con = Regs(module_).con;
  showEnableLook();
  int v = App().regs[con];
  App().regs.set(con, on ? (v | zk7::kPwmOutputOn) : (v & 0x7F));
  RefreshPWMDisp();
}

void frmPWM::prescaleChosen(int prescale) {
  const zk7::Reg con = Regs(module_).con;
  App().regs.set(con, zk7::WithPwmPrescale(App().regs[con], prescale));
  PwmState().prescale(module_) = prescale;
  RefreshPWMDisp();
}

void frmPWM::activate(bool deferMessage) {
  if (TwinOf(module_).refreshAllOnActivate) RefreshAll();
  if (!deferMessage) {
    RefreshPWMDisp();
    return;
  }
  // Shown by its opener: the message, if any, appears once the window is up.
  RefreshPWMDisp(false);
  if (App().Fosc == 0) {
    QPointer<frmPWM> self(this);
    QTimer::singleShot(0, this, [self] {
      if (self && self->isVisible()) self->RefreshPWMDisp(true);
    });
  }
}

void frmPWM::showEvent(QShowEvent* event) {
  EditorWindow::showEvent(event);
  if (!event->spontaneous()) activate(true);
}

void frmPWM::picturePressed(QPointF twips) {
  PwmState().PWMSelect = module_;
  EditorWindow* dlg = nullptr;
  if (inPeriodLabel(twips))
    dlg = Windows::instance().get(WindowId::PWMSlider);
  else if (inDutyLabel(twips))
    dlg = Windows::instance().get(WindowId::DCSlider);
  if (!dlg) return;
  Seam::instance().execModal(dlg);
  // Back in front after the dialog closed: this window's activation, whose
  // display refresh is the one the press asks for.
  activate(false);
}

frmPWM* frmPWM1() {
  return window<frmPWM>(WindowId::PWM1);
}
frmPWM* frmPWM2() {
  return window<frmPWM>(WindowId::PWM2);
}
