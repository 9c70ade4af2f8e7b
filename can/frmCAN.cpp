// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/frmCAN.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <vector>

#include "can/frmBitTiming.h"
#include "can/frmFilters.h"
#include "can/hexbyteedit.h"
#include "gui/app.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "model/can_timing.h"
#include "model/format.h"
#include "model/hex.h"
#include "model/identifiers.h"

using namespace zk7;

namespace {

constexpr float kBarTwips = 6780;  // the segment bar, all four segments together
constexpr int kTwipsPerPixel = 15;
constexpr int kBRPSlider = 3;  // slider number of sldrBRP beside sldrSegment(0..2)

// Segment colours, shared by the bar and the slider labels.
const char* const kGrey = "rgb(192, 192, 192)";
const char* const kOrange = "rgb(255, 128, 0)";
const char* const kCyan = "rgb(0, 255, 255)";
const char* const kMagenta = "rgb(255, 0, 255)";

const CanField* const kSegmentField[3] = {&kPropSeg, &kPhaseSeg1, &kPhaseSeg2};

QString Number(double v) {
  return DecimalText(v);
}

template <class T>
T* Named(T* w, const QString& name) {
  w->setObjectName(name);
  return w;
}

QString Indexed(const char* name, int i) {
  return QString("%1_%2").arg(name).arg(i);
}

QLabel* ColourLabel(const QString& text, const char* colour) {
  auto* l = new QLabel(text);
  l->setStyleSheet(
      QString("QLabel { background-color: %1; color: black; padding: 1px 4px; }").arg(colour));
  return l;
}

// What each byte of an identifier's four holds, SIDH to EID0.
const char* const kByteWhat[4] = {"high byte", "low bits and type", "extended middle byte",
                                  "extended low byte"};

QLineEdit* ReadOnlyBox(const QString& name, int width) {
  auto* t = Named(new QLineEdit, name);
  t->setReadOnly(true);
  t->setAlignment(Qt::AlignCenter);
  t->setFixedWidth(width);
  t->setFocusPolicy(Qt::ClickFocus);
  return t;
}

void SetReg(int index, long long value) {
  App().regs.set(index, value);
}
std::uint8_t GetReg(int index) {
  return App().regs.reg(index);
}

}  // namespace

frmCAN::frmCAN() {
  setObjectName("frmCAN");
  // A blank caption: the window system shows the application name for an empty one.
  setWindowTitle(" ");

  auto* top = new QHBoxLayout;
  top->addWidget(buildBitTiming());
  auto* right = new QVBoxLayout;
  right->addWidget(buildIdentifiers());
  right->addWidget(buildOptReg2());
  right->addStretch(1);
  top->addLayout(right);

  cmdOK = Named(new QPushButton("Close"), "cmdOK");
  cmdCancel = Named(new QPushButton("Cancel"), "cmdCancel");
  for (QPushButton* b : {cmdOK, cmdCancel}) b->setMinimumWidth(90);
  connect(cmdOK, &QPushButton::clicked, this, [this] { done(0); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { done(0); });
  QHBoxLayout* buttons = ButtonRow({cmdOK, cmdCancel});

  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(buildRegisterTable());
  all->addLayout(buttons);
  all->setSizeConstraint(QLayout::SetFixedSize);

  // Tab follows reading order, group by group: the bit timing, then the
  // identifiers row by row (the byte boxes in index order, transmit before
  // receive, each row's type box and entry after its bytes), the OPTREG2 bits
  // from bit 7 at the left, Close and Cancel. The window opens on the first byte box.
  std::vector<QWidget*> order = {cmbSJW,         sldrBRP,        sldrSegment[0],
                                 sldrSegment[1], sldrSegment[2], chkSamPoint,
                                 chkBTLMODE,     chkWAKFIL,      cmdBitTimingAssistant};
  for (int id = 0; id < kCanIdCount; ++id) {
    for (int b = 0; b < 4; ++b) order.push_back(byteBox(id, b));
    order.push_back(chkIDType[id]);
    order.push_back(txtIDValue[id]);
  }
  order.push_back(cmdAcceptanceFilters);
  for (int bit = 7; bit >= 0; --bit) order.push_back(chkOPTREG2[bit]);
  order.push_back(cmdOK);
  order.push_back(cmdCancel);
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
  txtTXIDn[1]->setFocus();

  // The identifier boxes show the register set from the start, so leaving a
  // box before the first summary refresh stores what it shows, not 0.
  for (int id = 0; id < kCanIdCount; ++id) {
    QSignalBlocker block(chkIDType[id]);
    chkIDType[id]->setChecked(GetReg(CanIdReg(id, SIDL)) & kSIDLExtended);
  }
  showIdentifierBytes(0);
  showIdentifierBytes(3);
  for (int id = 0; id < kCanIdCount; ++id) CalcRawID(id);
  setCaptions();
  layoutBar();
  RefreshCANDisp();
}

frmCAN::~frmCAN() {
  // A box losing the focus while the window goes away must not reach a
  // half-destroyed window.
  for (auto* arr : {&txtTXIDn, &txtRXFilter})
    for (int k = 1; k <= 12; ++k) disconnect((*arr)[k], nullptr, this, nullptr);
}

// ---------------------------------------------------------------- layout

QWidget* frmCAN::buildBitTiming() {
  auto* box = Named(new QGroupBox("Bit Timing"), "fraBitTiming");
  auto* g = new QGridLayout(box);
  int row = 0;

  cmbSJW = Named(new QComboBox, "cmbSJW");
  for (int i = 0; i < 4; ++i) cmbSJW->addItem(QString("%1 TQ").arg(i + 1), i * 64);
  cmbSJW->setToolTip("Synchronisation jump width");
  cmbSJW->setAccessibleName("Synchronisation jump width (SJW)");
  g->addWidget(new QLabel("SJW"), row, 0);
  g->addWidget(cmbSJW, row, 1, Qt::AlignLeft);
  ++row;

  sldrBRP = Named(new QSlider(Qt::Horizontal), "sldrBRP");
  sldrBRP->setRange(0, 63);
  sldrBRP->setSingleStep(1);
  sldrBRP->setPageStep(5);
  sldrBRP->setToolTip("Baud rate prescaler: TQ = 2 x prescaler / Fosc");
  sldrBRP->setAccessibleName("Baud rate prescaler");
  lblNumBRP = Named(new QLabel("1"), "lblNumBRP");
  lblNumBRP->setMinimumWidth(36);
  g->addWidget(ColourLabel("Baud Rate Prescaler", kGrey), row, 0);
  g->addWidget(sldrBRP, row, 1);
  g->addWidget(lblNumBRP, row, 2);
  ++row;

  const char* segName[3] = {"Propagation Segment", "Phase Segment 1", "Phase Segment 2"};
  const char* segColour[3] = {kOrange, kCyan, kMagenta};
  for (int i = 0; i < 3; ++i) {
    sldrSegment[i] = Named(new QSlider(Qt::Horizontal), Indexed("sldrSegment", i));
    sldrSegment[i]->setRange(i == 2 ? 2 : 1, 8);
    sldrSegment[i]->setSingleStep(1);
    sldrSegment[i]->setPageStep(1);
    sldrSegment[i]->setValue(SegTQ[i + 1]);
    sldrSegment[i]->setToolTip(QString("%1 length in TQ").arg(segName[i]));
    sldrSegment[i]->setAccessibleName(segName[i]);
    lblNumTQ[i] = Named(new QLabel(QString("%1TQ").arg(SegTQ[i + 1])), Indexed("lblNumTQ", i));
    g->addWidget(ColourLabel(segName[i], segColour[i]), row, 0);
    g->addWidget(sldrSegment[i], row, 1);
    g->addWidget(lblNumTQ[i], row, 2);
    ++row;
  }
  for (int s = 0; s < 4; ++s) {
    QSlider* sl = s == kBRPSlider ? sldrBRP : sldrSegment[s];
    connect(sl, &QSlider::actionTriggered, this, [this, s] { sliderAction(s); });
    connect(sl, &QSlider::valueChanged, this, [this, s](int v) { sliderValueChanged(s, v); });
  }
  connect(cmbSJW, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this](int line) { sjwChosen(line); });

  // Mode bits: name above, the box shows the setting.
  chkSamPoint = Named(new QCheckBox, "chkSamPoint");
  chkBTLMODE = Named(new QCheckBox, "chkBTLMODE");
  chkWAKFIL = Named(new QCheckBox, "chkWAKFIL");
  auto* modes = new QHBoxLayout;
  const std::pair<const char*, QCheckBox*> mode[3] = {
      {"SAM", chkSamPoint}, {"BTLMODE", chkBTLMODE}, {"WAKFIL", chkWAKFIL}};
  const char* modeWhat[3] = {"SAM, samples per bit", "BTLMODE, phase segment 2 set by CNF3",
                             "WAKFIL, wake-up filter"};
  for (int c = 0; c < 3; ++c) {
    mode[c].second->setAccessibleName(modeWhat[c]);
    modes->addWidget(new QLabel(mode[c].first));
    modes->addWidget(mode[c].second);
    mode[c].second->setMinimumWidth(fontMetrics().horizontalAdvance("PS1 or IPT") + 28);
  }
  modes->addStretch(1);
  g->addLayout(modes, row++, 0, 1, 3);
  struct Mode {
    QCheckBox* box;
    const CanField* field;
  };
  for (Mode m :
       {Mode{chkSamPoint, &kSAM}, Mode{chkBTLMODE, &kBTLMODE}, Mode{chkWAKFIL, &kWAKFIL}}) {
    connect(m.box, &QCheckBox::toggled, this, [this, m](bool on) {
      SetReg(m.field->reg, WithField(GetReg(m.field->reg), *m.field, on ? 1 : 0));
      setCaptions();
      RefreshCANDisp();
    });
  }

  // The bar: one bit divided into its four segments in proportion.
  bar_ = Named(new QWidget, "picBitTime");
  bar_->setFixedSize(static_cast<int>(kBarTwips) / kTwipsPerPixel, 22);
  const char* barText[4] = {"SS", "Prop", "PS1", "PS2"};
  const char* barColour[4] = {kGrey, kOrange, kCyan, kMagenta};
  for (int k = 0; k < 4; ++k) {
    lblBitTime[k] = Named(ColourLabel(barText[k], barColour[k]), Indexed("lblBitTime", k));
    lblBitTime[k]->setParent(bar_);
    lblBitTime[k]->setAlignment(Qt::AlignCenter);
  }
  g->addWidget(bar_, row++, 0, 1, 3, Qt::AlignLeft);

  // Derived values, each with its unit beside it.
  txtNumTQ = ReadOnlyBox("txtNumTQ", 40);
  txtNumTQ->setText(QString::number(NumTQ));
  // Wide enough for 15 significant digits and the point.
  const int numberWidth = fontMetrics().horizontalAdvance("0.00000000000000") + 16;
  txtBitTime = ReadOnlyBox("txtBitTime", numberWidth);
  txtSamplePoint = ReadOnlyBox("txtSamplePoint", numberWidth);
  txtBitRate = ReadOnlyBox("txtBitRate", numberWidth);
  txtNumTQ->setAccessibleName("TQ per bit");
  txtBitTime->setAccessibleName("Bit time (us)");
  txtSamplePoint->setAccessibleName("Sample point (%)");
  txtBitRate->setAccessibleName("Bit rate (kbit/s)");
  auto* derived = new QGridLayout;
  derived->addWidget(new QLabel("#TQ"), 0, 0);
  derived->addWidget(txtNumTQ, 0, 1);
  derived->addWidget(new QLabel("Bit Time (us)"), 0, 2, Qt::AlignRight);
  derived->addWidget(txtBitTime, 0, 3);
  derived->addWidget(new QLabel("Sample Point (%)"), 1, 0, 1, 3, Qt::AlignRight);
  derived->addWidget(txtSamplePoint, 1, 3);
  derived->addWidget(new QLabel("Bit Rate (kbit/s)"), 2, 0, 1, 3, Qt::AlignRight);
  derived->addWidget(txtBitRate, 2, 3);
  derived->setColumnStretch(4, 1);
  g->addLayout(derived, row++, 0, 1, 3);

  lblTimingWarning = Named(new QLabel, "lblTimingWarning");
  {
    QPalette pal = lblTimingWarning->palette();
    pal.setColor(QPalette::WindowText, WarningColour(pal));
    lblTimingWarning->setPalette(pal);
  }
  lblTimingWarning->setMinimumHeight(lblTimingWarning->fontMetrics().height());
  g->addWidget(lblTimingWarning, row++, 0, 1, 3);
  cmdBitTimingAssistant =
      Named(new QPushButton("Bit Timing Assistant..."), "cmdBitTimingAssistant");
  cmdBitTimingAssistant->setAutoDefault(false);
  cmdBitTimingAssistant->setToolTip("Find the settings for a target bit rate");
  connect(cmdBitTimingAssistant, &QPushButton::clicked, this, [this] { openBitTimingAssistant(); });
  g->addWidget(cmdBitTimingAssistant, row++, 0, 1, 3, Qt::AlignLeft);
  g->setColumnMinimumWidth(1, 200);
  return box;
}

QWidget* frmCAN::buildIdentifiers() {
  auto* box = Named(new QGroupBox("Identifiers, Mask and Filters"), "fraIdentifiers");
  auto* g = new QGridLayout(box);
  g->setHorizontalSpacing(6);
  const int boxWidth = fontMetrics().horizontalAdvance("WW") + 16;
  rawLabels_ = {lblTXID0 = new QLabel, lblTXID1 = new QLabel, lblTXID2 = new QLabel,
                lblRXM = new QLabel,   lblRXF0 = new QLabel,  lblRXF1 = new QLabel};
  const char* bytes[4] = {"SIDH", "SIDL", "EID8", "EID0"};
  int row = 0;
  for (int group = 0; group < 2; ++group) {
    auto& boxes = group == 0 ? txtTXIDn : txtRXFilter;
    auto& heads = group == 0 ? lblTXIDn : lblRXFilter;
    const char* boxName = group == 0 ? "txtTXIDn" : "txtRXFilter";
    const char* headName = group == 0 ? "lblTXIDn" : "lblRXFilter";
    const char* headPrefix = group == 0 ? "TXIDn" : "RXn";
    for (int c = 1; c <= 4; ++c) {
      heads[c] = Named(new QLabel(QString(headPrefix) + bytes[c - 1]), Indexed(headName, c));
      g->addWidget(heads[c], row, c, Qt::AlignHCenter | Qt::AlignBottom);
    }
    if (group == 0) {
      g->addWidget(new QLabel("RAW ID"), row, 6, Qt::AlignHCenter | Qt::AlignBottom);
      g->addWidget(new QLabel("Set ID (hex)"), row, 7, Qt::AlignHCenter | Qt::AlignBottom);
    }
    ++row;
    for (int r = 0; r < 3; ++r, ++row) {
      const int id = group * 3 + r;
      g->addWidget(new QLabel(kCanIdName[id]), row, 0);
      for (int b = 0; b < 4; ++b) {
        const int k = r * 4 + b + 1;
        boxes[k] = Named(new HexByteEdit, Indexed(boxName, k));
        boxes[k]->setAccessibleName(
            QString("%1 identifier, %2 (%3)")
                .arg(kCanIdName[id], kByteWhat[b], RegisterName(CanIdReg(id, b))));
        boxes[k]->setFixedWidth(boxWidth);
        connect(boxes[k], &HexByteEdit::left, this, [this, id, b] { byteBoxLeft(id, b); });
        g->addWidget(boxes[k], row, b + 1, Qt::AlignHCenter);
      }
      chkIDType[id] = Named(new QCheckBox("Ext ID"), Indexed("chkIDType", id));
      chkIDType[id]->setChecked(true);
      chkIDType[id]->setAccessibleName(QString("%1 extended identifier").arg(kCanIdName[id]));
      connect(chkIDType[id], &QCheckBox::toggled, this, [this, id] { idTypeChanged(id); });
      g->addWidget(chkIDType[id], row, 5);
      QLabel* raw = rawLabels_[id];
      raw->setObjectName(QString("lbl") + kCanIdName[id]);
      raw->setText("1FFFFFFF");
      raw->setFrameShape(QFrame::Panel);
      raw->setFrameShadow(QFrame::Sunken);
      raw->setAlignment(Qt::AlignCenter);
      raw->setMinimumWidth(fontMetrics().horizontalAdvance("1FFFFFFF") + 16);
      g->addWidget(raw, row, 6);
      txtIDValue[id] = Named(new QLineEdit, Indexed("txtIDValue", id));
      txtIDValue[id]->setAccessibleName(QString("%1 identifier (hex)").arg(kCanIdName[id]));
      txtIDValue[id]->setMaxLength(10);
      txtIDValue[id]->setFixedWidth(raw->minimumWidth());
      txtIDValue[id]->setToolTip(
          "Type the identifier in hexadecimal (up to 7FF standard, 1FFFFFFF extended) and press "
          "Enter");
      txtIDValue[id]->installEventFilter(this);
      g->addWidget(txtIDValue[id], row, 7);
    }
    if (group == 0) g->setRowMinimumHeight(row++, 8);
  }
  g->setColumnMinimumWidth(0, fontMetrics().horizontalAdvance("TXID0") + 8);
  cmdAcceptanceFilters = Named(new QPushButton("Acceptance Filters..."), "cmdAcceptanceFilters");
  cmdAcceptanceFilters->setAutoDefault(false);
  cmdAcceptanceFilters->setToolTip("Test the mask and filters, or design them for a list of IDs");
  connect(cmdAcceptanceFilters, &QPushButton::clicked, this, [this] { openAcceptanceFilters(); });
  g->addWidget(cmdAcceptanceFilters, row, 0, 1, 8, Qt::AlignLeft);
  return box;
}

QWidget* frmCAN::buildOptReg2() {
  auto* box = Named(new QGroupBox("OPTREG2"), "fraOPTREG2");
  auto* g = new QGridLayout(box);
  const char* caption[8] = {"PUNRM", "PUSLP",  "PDEFEN", "MTYPE",
                            "SLPEN", "TXONEN", "ERREN",  "CAEN"};
  for (int bit = 0; bit < 8; ++bit) {
    const int col = 7 - bit;  // bit 7 at the left
    lblOPTREG2bit[bit] = Named(new QLabel("0"), Indexed("lblOPTREG2bit", bit));
    chkOPTREG2[bit] = Named(new QCheckBox(caption[bit]), Indexed("chkOPTREG2", bit));
    chkOPTREG2[bit]->setAccessibleName(BitControlName(caption[bit], OPTREG2, bit));
    lblOPTREG2bit[bit]->setIndent(3);  // over the box's indicator
    g->addWidget(lblOPTREG2bit[bit], 0, col, Qt::AlignLeft);
    g->addWidget(chkOPTREG2[bit], 1, col);
    connect(chkOPTREG2[bit], &QCheckBox::toggled, this, [this, bit] { optRegChanged(bit); });
  }
  return box;
}

QWidget* frmCAN::buildRegisterTable() {
  auto* box = Named(new QGroupBox("CAN Registers"), "fraCANRegisters");
  auto* g = new QGridLayout(box);
  g->setVerticalSpacing(2);
  const int boxWidth = fontMetrics().horizontalAdvance("WW") + 16;
  for (int k = 1; k <= kCanTableSize; ++k) {
    const int r = (k - 1) / 7, c = (k - 1) % 7;
    lblAddr[k] = Named(new QLabel(RegisterName(kCanTable[k - 1])), Indexed("lblAddr", k));
    txtCANReg[k] = ReadOnlyBox(Indexed("txtCANReg", k), boxWidth);
    txtCANReg[k]->setAccessibleName(RegisterBoxName(RegisterName(kCanTable[k - 1])));
    txtCANReg[k]->setMaxLength(2);
    g->addWidget(lblAddr[k], 2 * r, c, Qt::AlignHCenter | Qt::AlignBottom);
    g->addWidget(txtCANReg[k], 2 * r + 1, c, Qt::AlignHCenter);
    if (r > 0) g->setRowMinimumHeight(2 * r, lblAddr[k]->sizeHint().height() + 6);
  }
  return box;
}

// ---------------------------------------------------------------- display

void frmCAN::showEvent(QShowEvent* e) {
  EditorWindow::showEvent(e);
  if (!e->spontaneous()) RefreshCANDisp();
}

void frmCAN::RefreshCANDisp() {
  for (int k = 1; k <= kCanTableSize; ++k) txtCANReg[k]->setText(Q(Hex2(GetReg(kCanTable[k - 1]))));
  const double bitTime = BitTimeUs(sldrBRP->value(), NumTQ, App().Fosc);
  txtBitTime->setText(Number(bitTime));
  txtBitRate->setText(Number(BitRateKbps(bitTime)));
  txtSamplePoint->setText(Number(SamplePointPercent(SegTQ[1], SegTQ[2], NumTQ)));
  const std::string warn = TimingWarnings(cmbSJW->currentIndex() + 1, SegTQ[1], SegTQ[2], SegTQ[3],
                                          chkBTLMODE->isChecked());
  lblTimingWarning->setText(warn.empty() ? QString() : Q("Warning: " + warn));
}

void frmCAN::setCaptions() {
  chkSamPoint->setText(chkSamPoint->isChecked() ? "3X" : "1X");
  chkBTLMODE->setText(chkBTLMODE->isChecked() ? "CNF3" : "PS1 or IPT");
  chkWAKFIL->setText(chkWAKFIL->isChecked() ? "ON" : "OFF");
  for (int id = 0; id < kCanIdCount; ++id)
    chkIDType[id]->setText(chkIDType[id]->isChecked() ? "Ext ID" : "Std ID");
}

void frmCAN::layoutBar() {
  // Widths in twips as single-precision values; each bar starts where the one
  // before it ends. Pixel edges are rounded so the bars tile without gaps.
  barWidth_[0] = 1.0f / NumTQ * kBarTwips;
  for (int k = 1; k < 4; ++k) barWidth_[k] = static_cast<float>(SegTQ[k]) / NumTQ * kBarTwips;
  barLeft_[0] = 0;
  for (int k = 1; k < 4; ++k) barLeft_[k] = barLeft_[k - 1] + barWidth_[k - 1];
  for (int k = 0; k < 4; ++k) {
    const int x0 = qRound(barLeft_[k] / kTwipsPerPixel);
    const int x1 = qRound((barLeft_[k] + barWidth_[k]) / kTwipsPerPixel);
    lblBitTime[k]->setGeometry(x0, 0, x1 - x0, bar_->height());
  }
}

void frmCAN::showRegisterSet() {
  const RegisterSet& rs = App().regs;
  for (int bit = 0; bit < 8; ++bit) {
    const bool on = (rs[OPTREG2] >> bit) & 1;
    QSignalBlocker block(chkOPTREG2[bit]);
    chkOPTREG2[bit]->setChecked(on);
    lblOPTREG2bit[bit]->setText(on ? "1" : "0");
  }

  showIdentifierBytes(0);
  showIdentifierTypes(0);
  showIdentifierBytes(3);
  showIdentifierTypes(3);

  const CanBitTiming t = DecodeBitTiming(rs);
  {
    QSignalBlocker block(cmbSJW);
    cmbSJW->setCurrentIndex(t.sjw - 1);
  }
  {
    QSignalBlocker block(sldrBRP);
    sldrBRP->setValue(t.brp);
  }
  showBRP(t.brp);
  for (auto [box, on] : {std::pair{chkBTLMODE, t.btlmode}, std::pair{chkSamPoint, t.sam},
                         std::pair{chkWAKFIL, t.wakfil}}) {
    QSignalBlocker block(box);
    box->setChecked(on);
  }
  setCaptions();
  const int tq[3] = {t.prop, t.ps1, t.ps2};
  for (int i = 0; i < 3; ++i) {
    {
      // A phase segment 2 field of 0 (1 TQ) stands below the slider's range:
      // the thumb rests at its minimum while the label, the count and the bar
      // show the 1 TQ the register holds.
      QSignalBlocker block(sldrSegment[i]);
      sldrSegment[i]->setValue(tq[i]);
    }
    showSegment(i, tq[i]);
  }
  RefreshCANDisp();
}

// ---------------------------------------------------------------- bit timing

void frmCAN::sjwChosen(int line) {
  if (line < 0) return;
  SetReg(CNF1, (GetReg(CNF1) & 0x3F) | cmbSJW->itemData(line).toInt());
  RefreshCANDisp();
}

void frmCAN::sliderAction(int s) {
  // A user's move (key, track click, wheel, each step of a drag). The new
  // position reaches value() right after this; when it equals the value no
  // change follows, so the move is applied here (e.g. pressing towards the
  // minimum while the register holds a phase segment 2 below it).
  QSlider* sl = s == kBRPSlider ? sldrBRP : sldrSegment[s];
  if (sl->sliderPosition() == sl->value()) {
    userMovedSlider(s, sl->value());
    return;
  }
  userSlider_ = s;
}

void frmCAN::sliderValueChanged(int s, int value) {
  if (userSlider_ == s) {
    userSlider_ = -1;
    userMovedSlider(s, value);
    return;
  }
  if (s == kBRPSlider)
    showBRP(value);
  else
    showSegment(s, value);
}

void frmCAN::userMovedSlider(int s, int value) {
  if (s == kBRPSlider) {
    SetReg(CNF1, WithField(GetReg(CNF1), kBRP, value));
    showBRP(value);
  } else {
    const CanField& f = *kSegmentField[s];
    SetReg(f.reg, WithField(GetReg(f.reg), f, value - 1));
    showSegment(s, value);
  }
  RefreshCANDisp();
}

void frmCAN::showBRP(int value) {
  lblNumBRP->setText(QString::number(value + 1));
}

void frmCAN::showSegment(int i, int tq) {
  SegTQ[i + 1] = tq;
  NumTQ = zk7::NumTQ(SegTQ[1], SegTQ[2], SegTQ[3]);
  lblNumTQ[i]->setText(QString("%1TQ").arg(tq));
  txtNumTQ->setText(QString::number(NumTQ));
  layoutBar();
}

// ---------------------------------------------------------------- identifiers

HexByteEdit* frmCAN::byteBox(int id, int byte) const {
  const int k = (id % 3) * 4 + byte + 1;
  return id < 3 ? txtTXIDn[k] : txtRXFilter[k];
}

void frmCAN::byteBoxLeft(int id, int byte) {
  HexByteEdit* box = byteBox(id, byte);
  const int reg = CanIdReg(id, byte);
  // The box admits two hex digits at most, so the value is a byte; anything
  // else is refused and the box shows the register again.
  const QString text = box->text();
  if (!text.isEmpty() && !IsHexText(text.toStdString())) {
    box->setText(Q(Hex2(GetReg(reg))));
    return;
  }
  const double b = HexToValue(text.toStdString());
  try {
    if (byte == SIDL)
      SetReg(reg, NormalisedSIDL(static_cast<int>(b), chkIDType[id]->isChecked()));
    else
      SetReg(reg, static_cast<long long>(b));
  } catch (const RangeError&) {
    box->setText(Q(Hex2(GetReg(reg))));
    return;
  }
  box->setText(Q(Hex2(GetReg(reg))));
  RefreshCANDisp();
  CalcRawID(id);
}

void frmCAN::idTypeChanged(int id) {
  HexByteEdit* box = byteBox(id, SIDL);
  const int b = static_cast<int>(HexToValue(box->text().toStdString())) & 0xFF;
  SetReg(CanIdReg(id, SIDL), NormalisedSIDL(b, chkIDType[id]->isChecked()));
  setCaptions();
  box->setText(Q(Hex2(GetReg(CanIdReg(id, SIDL)))));
  RefreshCANDisp();
  CalcRawID(id);
}

void frmCAN::showIdentifierBytes(int firstId) {
  for (int id = firstId; id < firstId + 3; ++id)
    for (int b = 0; b < 4; ++b) byteBox(id, b)->setText(Q(HexNoPad(GetReg(CanIdReg(id, b)))));
}

void frmCAN::showIdentifierTypes(int firstId) {
  for (int id = firstId; id < firstId + 3; ++id) {
    const bool ext = GetReg(CanIdReg(id, SIDL)) & kSIDLExtended;
    if (chkIDType[id]->isChecked() != ext)
      chkIDType[id]->setChecked(ext);  // runs the type rule: SIDL stored normalised
    CalcRawID(id);
  }
}

bool frmCAN::eventFilter(QObject* watched, QEvent* e) {
  for (int id = 0; id < kCanIdCount; ++id) {
    if (watched != txtIDValue[id]) continue;
    if (e->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(e)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        idValueEntered(id);
        return true;  // the window's buttons do not see it
      }
    } else if (e->type() == QEvent::FocusOut &&
               static_cast<QFocusEvent*>(e)->reason() != Qt::PopupFocusReason &&
               txtIDValue[id]->isModified()) {
      idValueEntered(id);
    }
  }
  return EditorWindow::eventFilter(watched, e);
}

void frmCAN::idValueEntered(int id) {
  QLineEdit* entry = txtIDValue[id];
  entry->setModified(false);  // a message box taking the focus does not enter it again
  if (entry->text().trimmed().isEmpty()) return;
  const bool extended = chkIDType[id]->isChecked();
  std::string error;
  const auto value = ParseCanId(entry->text().toStdString(), extended, error);
  if (!value) {
    Seam::instance().message(this, "Identifier Not Written",
                             QString("%1: %2\nNothing was written.").arg(kCanIdName[id], Q(error)),
                             Seam::Icon::Critical);
    entry->selectAll();
    return;
  }
  SetCanId(App().regs, id, *value, extended);
  for (int b = 0; b < 4; ++b) byteBox(id, b)->setText(Q(Hex2(GetReg(CanIdReg(id, b)))));
  entry->clear();
  RefreshCANDisp();
  CalcRawID(id);
}

void frmCAN::openBitTimingAssistant() {
  if (!bitTimingDialog_) bitTimingDialog_ = new frmBitTiming(this);
  bitTimingDialog_->prepare();
  if (Seam::instance().execModal(bitTimingDialog_) == QDialog::Accepted) showRegisterSet();
}

void frmCAN::openAcceptanceFilters() {
  if (!filtersDialog_) filtersDialog_ = new frmFilters(this);
  filtersDialog_->prepare();
  if (Seam::instance().execModal(filtersDialog_) == QDialog::Accepted) showRegisterSet();
}

void frmCAN::CalcRawID(int Index) {
  if (Index < 0 || Index >= kCanIdCount) {
    Seam::instance().message(this, "ERROR", "Not Valid", Seam::Icon::Critical);
    return;
  }
  rawLabels_[Index]->setText(Q(HexNoPad(RawID(App().regs, Index, chkIDType[Index]->isChecked()))));
}

// ---------------------------------------------------------------- OPTREG2

void frmCAN::optRegChanged(int bit) {
  const int s = chkOPTREG2[bit]->isChecked() ? 1 : 0;
  lblOPTREG2bit[bit]->setText(QString::number(s));
  SetReg(OPTREG2, (s << bit) | (GetReg(OPTREG2) & ~(1 << bit) & 0xFF));
  RefreshCANDisp();
}
