// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmGPIO.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/app.h"
#include "gui/refresh.h"
#include "gui/uitext.h"
#include "model/format.h"

using zk7::PinFunc;

namespace editor_ui {

void SetBackColour(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, c);
  p.setColor(QPalette::Button, c);
  // Captions stay black on every colour used here.
  p.setColor(QPalette::WindowText, Qt::black);
  p.setColor(QPalette::ButtonText, Qt::black);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

QColor BackColour(const QWidget* w) {
  return w->palette().color(QPalette::Window);
}

QIcon PolarityIcon(bool checked, const QWidget* on) {
  // In the text colour of the box it stands on (no background colour is fixed
  // there), at the screen's pixel density.
  const qreal dpr = on->devicePixelRatioF();
  QPixmap pm(QSize(28, 18) * dpr);
  pm.setDevicePixelRatio(dpr);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(on->palette().color(QPalette::Active, on->foregroundRole()), 2));
  const int lo = 15, hi = 3;
  int y0 = checked ? lo : hi, y1 = checked ? hi : lo;
  QPainterPath path;
  path.moveTo(2, y0);
  path.lineTo(13, y0);
  path.lineTo(13, y1);
  path.lineTo(26, y1);
  p.drawPath(path);
  // Arrow head on the edge, pointing the way it goes.
  int dir = checked ? -1 : 1;
  int ym = 9;
  p.drawLine(13, ym + dir * 3, 10, ym - dir * 1);
  p.drawLine(13, ym + dir * 3, 16, ym - dir * 1);
  return QIcon(pm);
}

void MakeCloseButtons(QDialog* w, QPushButton*& ok, QPushButton*& cancel) {
  ok = new QPushButton("Close", w);
  ok->setObjectName("cmdOK");
  cancel = new QPushButton("Cancel", w);
  cancel->setObjectName("cmdCancel");
  for (QPushButton* b : {ok, cancel}) {
    b->setAutoDefault(false);
    QObject::connect(b, &QPushButton::clicked, w, [w] { w->done(0); });
  }
}

void ShowOnOff(QCheckBox* box, const QString& on, const QString& off) {
  bool c = box->isChecked();
  box->setText(c ? on : off);
  SetBackColour(box, c ? kGreen : kRed);
}

RegisterDisplay::RegisterDisplay(const QString& title, const QString& boxName,
                                 const QStringList& names, const QVector<int>& rowSizes,
                                 QWidget* parent)
    : QGroupBox(title, parent) {
  // The rows sit so that the first copy starts at the frame's margin; the
  // template (hidden, left edge 0) lies just outside it.
  auto* rows = new QWidget(this);
  auto* tmplBox = new QLineEdit(rows);
  tmplBox->setObjectName(boxName + "_0");
  tmplBox->setReadOnly(true);
  tmplBox->setAlignment(Qt::AlignCenter);
  tmplBox->setFixedSize(52, 24);
  tmplBox->setFocusPolicy(Qt::TabFocus);
  auto* tmplLabel = new QLabel(rows);
  tmplLabel->setObjectName("lblAddr_0");
  tmplLabel->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  tmplLabel->setFixedSize(tmplBox->width() + 12, 18);
  tmplBox->hide();
  tmplLabel->hide();
  boxes_.push_back(tmplBox);
  labels_.push_back(tmplLabel);

  const int w = tmplBox->width();
  const int step = w * 12 / 10;
  const int rowHeight = tmplLabel->height() + tmplBox->height() + 6;
  int widest = 0, i = 1;
  QWidget* prev = nullptr;
  for (int r = 0; r < rowSizes.size(); ++r) {
    widest = std::max(widest, rowSizes[r]);
    for (int k = 1; k <= rowSizes[r] && i <= names.size(); ++k, ++i) {
      auto* label = new QLabel(names[i - 1], rows);
      label->setObjectName(QString("lblAddr_%1").arg(i));
      label->setAlignment(tmplLabel->alignment());
      label->setFixedSize(tmplLabel->size());
      label->move(k * step - 6, r * rowHeight);
      auto* box = new QLineEdit(rows);
      box->setObjectName(QString("%1_%2").arg(boxName).arg(i));
      box->setReadOnly(tmplBox->isReadOnly());
      box->setAlignment(tmplBox->alignment());
      box->setFixedSize(tmplBox->size());
      box->setFocusPolicy(tmplBox->focusPolicy());
      box->setAccessibleName(RegisterBoxName(names[i - 1]));
      box->move(k * step, r * rowHeight + label->height());
      if (prev) QWidget::setTabOrder(prev, box);
      prev = box;
      boxes_.push_back(box);
      labels_.push_back(label);
    }
  }
  const int margin = 10, top = 22;
  const int height = static_cast<int>(rowSizes.size()) * rowHeight;
  rows->setGeometry(margin - step + 6, top, (widest + 1) * step + 12, height);
  setMinimumSize(margin * 2 + (widest - 1) * step + w + 12, top + height + 4);
}

void RegisterDisplay::setValue(int i, unsigned byte) {
  boxes_.at(i)->setText(QString::fromStdString(zk7::Hex2(byte)));
}

}  // namespace editor_ui

using namespace editor_ui;

LineShape::LineShape(int x1, int y1, int x2, int y2, QObject* parent)
    : QObject(parent), x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}

void LineShape::setEnd(int x2, int y2) {
  if (x2 == x2_ && y2 == y2_) return;
  x2_ = x2;
  y2_ = y2;
  emit moved();
}

namespace {

// Ends of the pull-up switch line, in twips.
constexpr int kConnectorX1 = 5760, kConnectorY1 = 3120;
constexpr int kClosedX2 = 6360, kClosedY2 = 2520;
constexpr int kOpenX2 = 5760, kOpenY2 = 2280;

constexpr int kRowHeight = 26;

// The pull-up drawing: supply rail, resistor and the switch line that
// chkPullup moves. Twips are mapped to pixels from an origin so the line
// keeps its coordinates.
class PullupPicture : public QWidget {
 public:
  static constexpr int kOriginX = 5280, kOriginY = 1740;
  PullupPicture(LineShape* line, QWidget* parent) : QWidget(parent), line_(line) {
    setObjectName("picPullup");
    setFixedSize(px(7320 - kOriginX), px(3720 - kOriginY));
    connect(line, &LineShape::moved, this, qOverload<>(&QWidget::update));
  }
  static int px(int twips) { return twips / 15; }
  static QPointF at(int x, int y) { return QPointF(px(x - kOriginX), px(y - kOriginY)); }

 protected:
  void paintEvent(QPaintEvent*) override {
    // No background colour is fixed here: the drawing takes the palette's.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = palette().color(QPalette::WindowText);
    p.setPen(QPen(ink, 2));
    // Supply rail and resistor above the closed contact.
    p.drawLine(at(6060, 1890), at(6660, 1890));
    p.drawText(QRectF(at(6720, 1790), QSizeF(40, 16)), "VDD");
    p.drawLine(at(6360, 1890), at(6360, 2010));
    QPainterPath zig;
    zig.moveTo(at(6360, 2010));
    for (int k = 0; k < 6; ++k) zig.lineTo(at(k % 2 ? 6240 : 6480, 2040 + k * 60));
    zig.lineTo(at(6360, 2400));
    p.drawPath(zig);
    p.drawLine(at(6360, 2400), at(6360, 2520));
    // Pivot down to the pins.
    p.drawLine(at(kConnectorX1, kConnectorY1), at(kConnectorX1, 3480));
    p.drawLine(at(kConnectorX1, 3480), at(7200, 3480));
    p.drawText(QRectF(at(6060, 3240), QSizeF(70, 16)), "GP0..GP7");
    // Contacts and the switch.
    p.setBrush(ink);
    p.drawEllipse(at(6360, 2520), 3, 3);
    p.drawEllipse(at(kConnectorX1, kConnectorY1), 3, 3);
    p.setPen(QPen(palette().color(QPalette::Highlight), 3));
    p.drawLine(at(line_->x1(), line_->y1()), at(line_->x2(), line_->y2()));
  }

 private:
  LineShape* line_;
};

}  // namespace

frmGPIO::frmGPIO(QWidget* parent) : EditorWindow(parent) {
  setObjectName("frmGPIO");
  setWindowTitle("GPIO Configuration");

  auto* top = new QHBoxLayout;
  top->addWidget(buildPins(), 0, Qt::AlignTop);
  top->addWidget(buildPullup(), 0, Qt::AlignTop);
  top->addStretch();

  registers =
      new RegisterDisplay("GPIO Registers", "txtGPIO",
                          {"GPDDR", "GPLAT", "IOINTEN", "IOINTPO", "OPTREG1", "ADCON1"}, {6}, this);
  registers->setObjectName("fraGPIORegisters");

  lblConfigWord = new QLabel(this);
  lblConfigWord->setObjectName("lblConfigWord");
  QFont cf = lblConfigWord->font();
  cf.setBold(true);
  lblConfigWord->setFont(cf);

  MakeCloseButtons(this, cmdOK, cmdCancel);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(registers, 0, Qt::AlignBottom);
  auto* side = new QVBoxLayout;
  side->addStretch();
  side->addWidget(lblConfigWord);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  side->addLayout(buttons);
  bottom->addSpacing(16);
  bottom->addLayout(side);
  bottom->addStretch();

  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addLayout(bottom);
  main->setSizeConstraint(QLayout::SetFixedSize);

  showControls();
  RefreshGPIODisp();
}

QWidget* frmGPIO::buildPins() {
  auto* frame = new QWidget(this);
  auto* row = new QHBoxLayout(frame);
  row->setContentsMargins(0, 0, 0, 0);

  auto grid = [&](const QString& title, const QString& name) {
    auto* g = new QGroupBox(title, frame);
    g->setObjectName(name);
    auto* l = new QGridLayout(g);
    l->setVerticalSpacing(4);
    for (int r = 0; r < zk7::kPinCount; ++r) l->setRowMinimumHeight(r, kRowHeight);
    row->addWidget(g, 0, Qt::AlignTop);
    return l;
  };

  QGridLayout* func = grid("Pin Function", "fraPinFunc");
  QGridLayout* dir = grid("Direction", "fraPinDir");
  QGridLayout* lat = grid("GPLAT Bits", "fraGPLAT");
  QGridLayout* cng = grid("Change Detection", "fraTXonCng");

  const QColor funcColour[3] = {kMagenta, kGreen, kYellow};
  for (int n = 0; n < zk7::kPinCount; ++n) {
    funcGroup_[n] = new QButtonGroup(this);
    for (int f = 0; f < 3; ++f) {
      const char* caption = zk7::PinFuncCaption(n, static_cast<PinFunc>(f));
      if (!caption) continue;
      auto* o = new ColourOption(caption, frame);
      o->setObjectName(QString("optPinFunc%1_%2").arg(f).arg(n));
      o->setAccessibleName(QString("GP%1 %2").arg(n).arg(f == 0 ? QString("digital I/O")
                                                         : f == 1
                                                             ? QString("analog input ") + caption
                                                             : QString(caption)));
      o->setFixedSize(68, kRowHeight - 2);
      SetBackColour(o, funcColour[f]);
      funcGroup_[n]->addButton(o, f);
      func->addWidget(o, n, f);
      (f == 0 ? optPinFunc0 : f == 1 ? optPinFunc1 : optPinFunc2)[n] = o;
    }
    connect(funcGroup_[n], &QButtonGroup::idClicked, this, [this, n](int f) {
      zk7::SelectPinFunction(App().regs, n, static_cast<PinFunc>(f));
      changed();
    });

    auto* d = new ColourBox(frame);
    d->setObjectName(QString("chkPinDir_%1").arg(n));
    d->setFixedSize(64, kRowHeight - 2);
    d->setChecked(true);
    d->setToolTip(QString("GP%1 direction (GPDDR bit %1): checked = input").arg(n));
    d->setAccessibleName(BitControlName(QString("GP%1 input").arg(n), zk7::GPDDR, n));
    dir->addWidget(d, n, 0);
    chkPinDir[n] = d;
    connect(d, &QCheckBox::clicked, this, [this, n](bool input) {
      zk7::SetPinDirection(App().regs, n, input);
      changed();
    });

    if (n < 7) {
      auto* b = new ColourBox("0", frame);
      b->setObjectName(QString("chkGPLAT_%1").arg(n));
      b->setToolTip(QString("GP%1 output latch (GPLAT bit %1)").arg(n));
      b->setAccessibleName(BitControlName(QString("GP%1 output high").arg(n), zk7::GPLAT, n));
      lat->addWidget(b, n, 0);
      chkGPLAT[n] = b;
      connect(b, &QCheckBox::clicked, this, [this, n](bool on) {
        zk7::SetRegisterBit(App().regs, zk7::GPLAT, n, on);
        changed();
      });
    }

    auto* e = new ColourBox("Edge Detect", frame);
    e->setObjectName(QString("chkTXonCng_%1").arg(n));
    e->setFixedSize(104, kRowHeight - 2);
    e->setToolTip(QString("Detect a change on GP%1 (IOINTEN bit %1)").arg(n));
    e->setAccessibleName(BitControlName(QString("GP%1 change detection").arg(n), zk7::IOINTEN, n));
    cng->addWidget(e, n, 0);
    chkTXonCng[n] = e;
    connect(e, &QCheckBox::clicked, this, [this, n](bool on) {
      zk7::SetRegisterBit(App().regs, zk7::IOINTEN, n, on);
      changed();
    });

    auto* p = new ColourBox(frame);
    p->setObjectName(QString("chkPolarity_%1").arg(n));
    p->setIconSize(QSize(28, 18));
    p->setToolTip(QString("Polarity of the change detection of GP%1 (IOINTPO bit %1)").arg(n));
    p->setAccessibleName(BitControlName(QString("GP%1 change polarity").arg(n), zk7::IOINTPO, n));
    cng->addWidget(p, n, 1);
    chkPolarity[n] = p;
    connect(p, &QCheckBox::clicked, this, [this, n](bool on) {
      zk7::SetRegisterBit(App().regs, zk7::IOINTPO, n, on);
      changed();
    });
  }

  cmbCLKPre = new QComboBox(frame);
  cmbCLKPre->setObjectName("cmbCLKPre");
  const char* pre[] = {"Fosc / 1", "Fosc / 2", "Fosc / 4", "Fosc / 8"};
  for (int i = 0; i < 4; ++i) cmbCLKPre->addItem(pre[i], i * 16);
  cmbCLKPre->setToolTip("Clock output prescaler (OPTREG1 bits 5:4)");
  cmbCLKPre->setAccessibleName("Clock output prescaler (OPTREG1 bits 5:4)");
  QSizePolicy sp = cmbCLKPre->sizePolicy();
  sp.setRetainSizeWhenHidden(true);
  cmbCLKPre->setSizePolicy(sp);
  func->addWidget(cmbCLKPre, 6, 3);
  connect(cmbCLKPre, qOverload<int>(&QComboBox::activated), this, [this](int line) {
    int data = cmbCLKPre->itemData(line).toInt();
    App().regs.set(zk7::OPTREG1, (App().regs[zk7::OPTREG1] & 0xCF) | data);
    changed();
  });
  return frame;
}

QWidget* frmGPIO::buildPullup() {
  auto* g = new QGroupBox("Weak Pull-ups", this);
  g->setObjectName("fraPullup");
  Connector = new LineShape(kConnectorX1, kConnectorY1, kOpenX2, kOpenY2, this);
  Connector->setObjectName("Connector");
  auto* pic = new PullupPicture(Connector, g);
  chkPullup = new ColourBox("R", pic);
  chkPullup->setObjectName("chkPullup");
  chkPullup->setToolTip("Pull-up bit (OPTREG1 bit 7)");
  chkPullup->setAccessibleName(BitControlName("Weak pull-ups on", zk7::OPTREG1, 7));
  chkPullup->move(PullupPicture::at(6540, 2100).toPoint());
  connect(chkPullup, &QCheckBox::clicked, this, [this](bool on) {
    zk7::SetRegisterBit(App().regs, zk7::OPTREG1, 7, on);
    changed();
  });
  auto* l = new QVBoxLayout(g);
  l->addWidget(pic);
  return g;
}

QRadioButton* frmGPIO::option(int pin, PinFunc f) const {
  switch (f) {
    case PinFunc::Digital:
      return optPinFunc0[pin];
    case PinFunc::Analog:
      return optPinFunc1[pin];
    default:
      return optPinFunc2[pin];
  }
}

void frmGPIO::showControls() {
  const zk7::RegisterSet& rs = App().regs;
  const QColor funcColour[3] = {kMagenta, kGreen, kYellow};
  for (int n = 0; n < zk7::kPinCount; ++n) {
    PinFunc f = zk7::ReadPinFunction(rs, n);
    bool input = zk7::PinIsInput(rs, n);
    bool edge = (rs[zk7::IOINTEN] >> n) & 1;
    if (QRadioButton* o = option(n, f)) {
      QSignalBlocker b(o);
      o->setChecked(true);
    }
    {
      QSignalBlocker b(chkPinDir[n]);
      chkPinDir[n]->setChecked(input);
    }
    chkPinDir[n]->setText(input ? "IN" : "OUT");
    SetBackColour(chkPinDir[n], funcColour[static_cast<int>(f)]);

    QCheckBox* e = chkTXonCng[n];
    {
      QSignalBlocker b(e);
      e->setChecked(edge);
    }
    bool available = zk7::EdgeDetectAvailable(rs, n);
    e->setText(available ? "Edge Detect" : "");
    e->setEnabled(available);
    SetBackColour(e, edge ? kGreen : kRed);

    QCheckBox* p = chkPolarity[n];
    {
      QSignalBlocker b(p);
      p->setChecked((rs[zk7::IOINTPO] >> n) & 1);
    }
    p->setIcon(PolarityIcon(p->isChecked(), p));
    p->setEnabled(edge);

    if (n < 7) {
      QSignalBlocker b(chkGPLAT[n]);
      chkGPLAT[n]->setChecked((rs[zk7::GPLAT] >> n) & 1);
      chkGPLAT[n]->setText(chkGPLAT[n]->isChecked() ? "1" : "0");
    }
  }

  bool pullup = rs[zk7::OPTREG1] & 0x80;
  {
    QSignalBlocker b(chkPullup);
    chkPullup->setChecked(pullup);
  }
  if (pullup)
    Connector->setEnd(kClosedX2, kClosedY2);
  else
    Connector->setEnd(kOpenX2, kOpenY2);

  {
    QSignalBlocker b(cmbCLKPre);
    cmbCLKPre->setCurrentIndex(zk7::ClockPrescalerLine(rs));
  }
  cmbCLKPre->setVisible(zk7::ReadPinFunction(rs, 6) == PinFunc::Special);
}

void frmGPIO::changed() {
  showControls();
  RefreshGPIODisp();
}

void frmGPIO::showRegisterSet() {
  showControls();
  RefreshGPIODisp();
}

void frmGPIO::showConfigWord() {
  lblConfigWord->setText(QString("Config Word = 0x0%1").arg(App().regs.ConfigWord() & 7));
}

void frmGPIO::RefreshGPIODisp() {
  const zk7::RegisterSet& rs = App().regs;
  const int regs[] = {zk7::GPDDR,   zk7::GPLAT,   zk7::IOINTEN,
                      zk7::IOINTPO, zk7::OPTREG1, zk7::ADCON1};
  for (int i = 0; i < 6; ++i) registers->setValue(i + 1, rs.reg(regs[i]));
  showConfigWord();
}

void frmGPIO::deviceVariantChanged(bool zk7b) {
  for (int n = 0; n < 4; ++n) optPinFunc1[n]->setVisible(!zk7b);
  optPinFunc2[4]->setVisible(!zk7b);
  optPinFunc2[5]->setVisible(!zk7b);
  txtGPIO(6)->setVisible(!zk7b);
  lblAddr(6)->setVisible(!zk7b);
}

void frmGPIO::showEvent(QShowEvent* e) {
  EditorWindow::showEvent(e);
  if (e->spontaneous()) return;
  RefreshAll();
  RefreshGPIODisp();
}
