// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmAtoD.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/app.h"
#include "gui/refresh.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "model/gpio.h"

using namespace editor_ui;

namespace {

template <std::size_t N>
QComboBox* ListBox(const QString& name, const std::array<zk7::ListLine, N>& lines, QWidget* p) {
  auto* c = new QComboBox(p);
  c->setObjectName(name);
  for (const auto& l : lines) c->addItem(l.text, l.data);
  return c;
}

QLineEdit* DerivedBox(const QString& name, QWidget* p) {
  auto* t = new QLineEdit(p);
  t->setObjectName(name);
  t->setReadOnly(true);
  t->setFocusPolicy(Qt::NoFocus);
  t->setFixedWidth(96);
  t->setAlignment(Qt::AlignRight);
  return t;
}

void SetChecked(QCheckBox* b, bool on) {
  QSignalBlocker block(b);
  b->setChecked(on);
}

}  // namespace

frmAtoD::frmAtoD(QWidget* parent) : EditorWindow(parent) {
  setObjectName("frmAtoD");
  setWindowTitle("A/D Converter Configuration");

  registers = new RegisterDisplay(
      "ADC Registers", "txtAtoDReg",
      {"GPDDR", "ADCON0", "ADCON1", "IOINTEN", "IOINTPO", "OPTREG1", "ADCMP0H", "ADCMP0L",
       "ADCMP1H", "ADCMP1L", "ADCMP2H", "ADCMP2L", "ADCMP3H", "ADCMP3L"},
      {6, 8}, this);
  registers->setObjectName("fraADCRegisters");

  MakeCloseButtons(this, cmdOK, cmdCancel);

  auto* top = new QHBoxLayout;
  top->addWidget(buildConverter(), 0, Qt::AlignTop);
  top->addWidget(buildThresholds(), 0, Qt::AlignTop);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(registers, 0, Qt::AlignBottom);
  bottom->addStretch();
  auto* buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  bottom->addLayout(buttons);

  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addLayout(bottom);
  main->setSizeConstraint(QLayout::SetFixedSize);

  // The analog channels start as inputs.
  App().regs.set(zk7::GPDDR, App().regs[zk7::GPDDR] | 0x0F);
  showControls();
  RefreshAtoDDisp();
}

QLineEdit* frmAtoD::referenceBox(const QString& name, const QString& text) {
  auto* t = new QLineEdit(text, this);
  t->setObjectName(name);
  t->setMaxLength(4);
  t->setFixedWidth(52);
  // Typed keys are filtered in eventFilter; the validator keeps pasted text
  // to the same characters.
  t->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9.]*"), t));
  t->installEventFilter(this);
  return t;
}

QWidget* frmAtoD::buildConverter() {
  auto* col = new QWidget(this);
  auto* v = new QVBoxLayout(col);
  v->setContentsMargins(0, 0, 0, 0);

  chkADON = new ColourBox(col);
  chkADON->setObjectName("chkADON");
  chkADON->setAccessibleName(BitControlName("A/D converter on", zk7::ADCON0, 7));
  chkADON->setMinimumHeight(28);
  QFont f = chkADON->font();
  f.setBold(true);
  chkADON->setFont(f);
  connect(chkADON, &QCheckBox::clicked, this, [this](bool on) {
    zk7::SetRegisterBit(App().regs, zk7::ADCON0, 7, on);
    changed();
  });
  chkADON->setMinimumWidth(240);
  v->addWidget(chkADON, 0, Qt::AlignLeft);

  auto* en = new QGroupBox("A/D Channel Enables", col);
  en->setObjectName("fraAtoDEnable");
  auto* eg = new QGridLayout(en);
  for (int n = 0; n < 4; ++n) {
    auto* l = new QLabel(QString("AN%1").arg(n), en);
    l->setObjectName(QString("lblAtoDChannel_%1").arg(n));
    l->setAlignment(Qt::AlignCenter);
    eg->addWidget(l, 0, n);
    auto* b = new ColourBox(en);
    b->setObjectName(QString("chkAtoDEnable_%1").arg(n));
    b->setFixedWidth(60);
    b->setToolTip(QString("AN%1 is an analog input (ADCON1 bit %1 = 0)").arg(n));
    b->setAccessibleName(BitControlName(QString("AN%1 analog input").arg(n), zk7::ADCON1, n));
    eg->addWidget(b, 1, n, Qt::AlignCenter);
    chkAtoDEnable[n] = b;
    connect(b, &QCheckBox::clicked, this, [this, n](bool on) {
      if (on) zk7::SetRegisterBit(App().regs, zk7::GPDDR, n, true);
      zk7::SetRegisterBit(App().regs, zk7::ADCON1, n, !on);
      changed();
    });
  }
  v->addWidget(en);

  // The two reference choices, each in its own frame.
  auto refFrame = [&](const QString& name, QRadioButton*& supply, const QString& supplyText,
                      QRadioButton*& pin, const QString& pinText, QLineEdit*& box,
                      const QString& boxName, const QString& boxText, int bit) {
    auto* g = new QGroupBox("Vref", col);
    g->setObjectName(name);
    auto* h = new QHBoxLayout(g);
    supply = new QRadioButton(supplyText, g);
    supply->setObjectName(supplyText == "VDD" ? "optVDD" : "optVSS");
    pin = new QRadioButton(pinText, g);
    pin->setObjectName(pinText == "Vref+" ? "optVrefP" : "optVrefM");
    supply->setChecked(true);
    const QString end = bit == 4 ? "Upper" : "Lower";
    supply->setAccessibleName(end + " reference " + supplyText);
    pin->setAccessibleName(BitControlName(end + " reference pin " + pinText, zk7::ADCON1, bit));
    box = referenceBox(boxName, boxText);
    box->setAccessibleName(pinText + " voltage (V)");
    h->addWidget(supply);
    h->addSpacing(8);
    h->addWidget(pin);
    h->addWidget(box);
    h->addWidget(new QLabel("V", g));
    h->addStretch();
    connect(supply, &QRadioButton::clicked, this, [this, bit] {
      zk7::SetRegisterBit(App().regs, zk7::ADCON1, bit, false);
      changed();
    });
    connect(pin, &QRadioButton::clicked, this, [this, bit] {
      zk7::SetRegisterBit(App().regs, zk7::ADCON1, bit, true);
      changed();
    });
    return g;
  };
  auto* refs = new QHBoxLayout;
  refs->addWidget(
      refFrame("fraVrefP", optVDD, "VDD", optVrefP, "Vref+", txtVrefP, "txtVrefP", "5", 4));
  refs->addWidget(
      refFrame("fraVrefM", optVSS, "VSS", optVrefM, "Vref-", txtVrefM, "txtVrefM", "0", 5));
  v->addLayout(refs);

  auto* timing = new QGroupBox("Conversion Timing", col);
  timing->setObjectName("fraAtoDTiming");
  auto* tg = new QGridLayout(timing);
  cmbAtoDConv = ListBox("cmbAtoDConv", zk7::AtoDConvLines(), timing);
  cmbAtoDAQT = ListBox("cmbAtoDAQT", zk7::AtoDAcqLines(), timing);
  cmbAutoConv = ListBox("cmbAutoConv", zk7::AutoConvLines(), timing);
  txtAtoDConv = DerivedBox("txtAtoDConv", timing);
  txtAtoDAQT = DerivedBox("txtAtoDAQT", timing);
  txtAutoConv = DerivedBox("txtAutoConv", timing);
  struct Row {
    const char* caption;
    const char* result;
    QComboBox* list;
    QLineEdit* box;
    const char* unit;
  } rows[] = {
      {"A/D Conversion Rate", "Conversion Clock", cmbAtoDConv, txtAtoDConv, "MHz"},
      {"A/D Aquisition Time", "Acquisition Time", cmbAtoDAQT, txtAtoDAQT, "µs"},
      {"Auto Conversion Time", "Time Between Conversions", cmbAutoConv, txtAutoConv, "ms"},
  };
  for (int r = 0; r < 3; ++r) {
    rows[r].list->setAccessibleName(rows[r].caption);
    rows[r].box->setAccessibleName(QString("%1 (%2)").arg(rows[r].result, rows[r].unit));
    tg->addWidget(new QLabel(rows[r].caption, timing), r, 0);
    tg->addWidget(rows[r].list, r, 1);
    auto* res = new QLabel(rows[r].result, timing);
    res->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tg->addWidget(res, r, 2);
    tg->addWidget(rows[r].box, r, 3);
    tg->addWidget(new QLabel(rows[r].unit, timing), r, 4);
  }
  tg->setColumnMinimumWidth(2, 150);
  connect(cmbAtoDConv, qOverload<int>(&QComboBox::activated), this, [this](int line) {
    zk7::SetAtoDConvLine(App().regs, line);
    changed();
  });
  connect(cmbAtoDAQT, qOverload<int>(&QComboBox::activated), this, [this](int line) {
    zk7::SetAtoDAcqLine(App().regs, line);
    changed();
  });
  connect(cmbAutoConv, qOverload<int>(&QComboBox::activated), this, [this](int line) {
    zk7::SetAutoConvLine(App().regs, line);
    changed();
  });
  v->addWidget(timing);
  v->addStretch();
  return col;
}

QWidget* frmAtoD::buildThresholds() {
  auto* g = new QGroupBox("Threshold Detection", this);
  g->setObjectName("fraThreshold");
  auto* grid = new QGridLayout(g);
  for (int n = 0; n < 4; ++n) {
    auto* l = new QLabel(QString("AN%1").arg(n), g);
    l->setObjectName(QString("lblThreshold_%1").arg(n));
    l->setAlignment(Qt::AlignCenter);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    grid->addWidget(l, 0, n * 2, 1, 2);

    auto* on = new ColourBox(g);
    on->setObjectName(QString("chkVcmpON_%1").arg(n));
    on->setFixedWidth(60);
    on->setToolTip(QString("Threshold detection of AN%1 (IOINTEN bit %1)").arg(n));
    on->setAccessibleName(
        BitControlName(QString("AN%1 threshold detection").arg(n), zk7::IOINTEN, n));
    grid->addWidget(on, 1, n * 2, 1, 2, Qt::AlignCenter);
    chkVcmpON[n] = on;
    connect(on, &QCheckBox::clicked, this, [this, n](bool c) {
      zk7::SetRegisterBit(App().regs, zk7::IOINTEN, n, c);
      changed();
    });

    auto* pol = new ColourBox(g);
    pol->setObjectName(QString("chkThreshPol_%1").arg(n));
    pol->setIconSize(QSize(28, 18));
    pol->setToolTip(QString("Threshold polarity of AN%1 (IOINTPO bit %1)").arg(n));
    pol->setAccessibleName(
        BitControlName(QString("AN%1 threshold polarity").arg(n), zk7::IOINTPO, n));
    grid->addWidget(pol, 2, n * 2, 1, 2, Qt::AlignCenter);
    chkThreshPol[n] = pol;
    connect(pol, &QCheckBox::clicked, this, [this, n](bool c) {
      zk7::SetRegisterBit(App().regs, zk7::IOINTPO, n, c);
      changed();
    });

    // Position 0 at the top is the highest code.
    auto* s = new QSlider(Qt::Vertical, g);
    s->setObjectName(QString("CMPSlider_%1").arg(n));
    s->setAccessibleName(QString("AN%1 threshold (ADCMP%1H, ADCMP%1L)").arg(n));
    s->setRange(0, zk7::kThresholdMax);
    s->setSingleStep(1);
    s->setPageStep(64);
    s->setInvertedAppearance(true);
    s->setInvertedControls(true);
    s->setTickPosition(QSlider::TicksRight);
    s->setTickInterval(128);
    s->setMinimumHeight(180);
    grid->addWidget(s, 3, n * 2, 1, 2, Qt::AlignHCenter);
    CMPSlider[n] = s;
    connect(s, &QSlider::valueChanged, this, [this, n](int position) {
      zk7::SetThresholdCode(App().regs, n, zk7::CodeAtSliderPosition(position));
      changed();
    });

    auto* t = new QLineEdit(g);
    t->setObjectName(QString("txtVcmp_%1").arg(n));
    t->setAccessibleName(QString("AN%1 threshold voltage (V)").arg(n));
    t->setReadOnly(true);
    t->setFocusPolicy(Qt::NoFocus);
    t->setFixedWidth(110);
    t->setAlignment(Qt::AlignRight);
    grid->addWidget(t, 4, n * 2);
    grid->addWidget(new QLabel("V", g), 4, n * 2 + 1);
    txtVcmp[n] = t;
  }
  return g;
}

void frmAtoD::showThreshold(int n) {
  int code = zk7::CodeAtSliderPosition(CMPSlider[n]->value());
  CMPSlider[n]->setToolTip(QString::number(code));
  txtVcmp[n]->setText(DecimalText(zk7::ThresholdVoltage(code, scale_)));
}

void frmAtoD::showDerivedTimes() {
  const double fosc = App().Fosc;
  const char sep = LocaleDecimalPoint();
  txtAtoDConv->setText(Q(zk7::AtoDConvRateText(fosc, cmbAtoDConv->currentIndex(), sep)));
  txtAtoDAQT->setText(Q(zk7::AtoDAcqTimeText(fosc, cmbAtoDAQT->currentIndex(), sep)));
  txtAutoConv->setText(Q(zk7::AutoConvTimeText(fosc, cmbAutoConv->currentIndex(), sep)));
}

void frmAtoD::showControls() {
  const zk7::RegisterSet& rs = App().regs;
  SetChecked(chkADON, rs[zk7::ADCON0] & 0x80);
  ShowOnOff(chkADON, "A/D Converter is ON", "A/D Converter is OFF");
  {
    QSignalBlocker a(cmbAutoConv), b(cmbAtoDConv), c(cmbAtoDAQT);
    cmbAutoConv->setCurrentIndex(zk7::AutoConvLine(rs));
    cmbAtoDConv->setCurrentIndex(zk7::AtoDConvLine(rs));
    cmbAtoDAQT->setCurrentIndex(zk7::AtoDAcqLine(rs));
  }
  {
    QSignalBlocker a(optVDD), b(optVrefP), c(optVSS), d(optVrefM);
    (rs[zk7::ADCON1] & 0x10 ? optVrefP : optVDD)->setChecked(true);
    (rs[zk7::ADCON1] & 0x20 ? optVrefM : optVSS)->setChecked(true);
  }
  for (int n = 0; n < 4; ++n) {
    SetChecked(chkAtoDEnable[n], !((rs[zk7::ADCON1] >> n) & 1));
    ShowOnOff(chkAtoDEnable[n], "ON", "OFF");
    SetChecked(chkVcmpON[n], (rs[zk7::IOINTEN] >> n) & 1);
    ShowOnOff(chkVcmpON[n], "ON", "OFF");
    SetChecked(chkThreshPol[n], (rs[zk7::IOINTPO] >> n) & 1);
    chkThreshPol[n]->setIcon(PolarityIcon(chkThreshPol[n]->isChecked(), chkThreshPol[n]));
    {
      QSignalBlocker b(CMPSlider[n]);
      CMPSlider[n]->setValue(zk7::SliderPositionOfCode(zk7::ThresholdCode(rs, n)));
    }
    showThreshold(n);
  }
  showDerivedTimes();
}

void frmAtoD::changed() {
  showControls();
  RefreshAtoDDisp();
}

void frmAtoD::showRegisterSet() {
  showControls();
  RefreshAtoDDisp();
}

void frmAtoD::RefreshAtoDDisp() {
  const zk7::RegisterSet& rs = App().regs;
  const int regs[] = {zk7::GPDDR,   zk7::ADCON0,  zk7::ADCON1,  zk7::IOINTEN, zk7::IOINTPO,
                      zk7::OPTREG1, zk7::ADCMP0H, zk7::ADCMP0L, zk7::ADCMP1H, zk7::ADCMP1L,
                      zk7::ADCMP2H, zk7::ADCMP2L, zk7::ADCMP3H, zk7::ADCMP3L};
  for (int i = 0; i < 14; ++i) registers->setValue(i + 1, rs.reg(regs[i]));
}

void frmAtoD::SetVrefSpan(double vrefPlus, double vrefMinus) {
  scale_ = zk7::ScaleFromReferences(vrefPlus, vrefMinus);
  // The shown voltages follow the new scale at once, so no box shows a
  // voltage of the old references.
  for (int n = 0; n < 4; ++n) showThreshold(n);
}

void frmAtoD::referencesEdited() {
  // A reference that is empty or not a number leaves the scale as it was.
  auto plus = zk7::ParseReferenceVoltage(txtVrefP->text().toStdString());
  auto minus = zk7::ParseReferenceVoltage(txtVrefM->text().toStdString());
  if (plus && minus) SetVrefSpan(*plus, *minus);
}

bool frmAtoD::eventFilter(QObject* watched, QEvent* event) {
  auto* box = qobject_cast<QLineEdit*>(watched);
  if (box && (box == txtVrefP || box == txtVrefM)) {
    switch (event->type()) {
      case QEvent::KeyPress: {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Backspace) return true;
        const QString t = k->text();
        // Only digits and the point are typed in; keys without a printable
        // character (arrows, Delete, shortcuts) pass.
        if (!t.isEmpty() && t.at(0).isPrint()) {
          QChar c = t.at(0);
          if (!(c >= '0' && c <= '9') && c != '.') return true;
        }
        break;
      }
      case QEvent::FocusIn:
        // After the click that gave the focus has placed the cursor.
        QTimer::singleShot(0, box, [box] {
          if (box->hasFocus()) box->setSelection(0, 4);
        });
        break;
      case QEvent::FocusOut:
        referencesEdited();
        break;
      default:
        break;
    }
  }
  return EditorWindow::eventFilter(watched, event);
}

void frmAtoD::showEvent(QShowEvent* e) {
  EditorWindow::showEvent(e);
  if (e->spontaneous()) return;
  showDerivedTimes();
  RefreshAll();
  RefreshAtoDDisp();
}
