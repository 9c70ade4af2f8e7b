// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// What stands on the block diagram's picture: the device frame (variant,
// oscillator mode, frequency), the configuration word and the mask over the
// A/D block of a ZK7B; and how each of them takes the user's choice.
#include <QBoxLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <initializer_list>

#include "files/devicefile.h"
#include "gui/app.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "model/registers.h"
#include "shell/blockdiagram.h"
#include "shell/frmMain.h"

namespace {

// Oscillator option index -> mode bits: LP = 0, XT = 1, HS = 3.
constexpr int kOscModes[3] = {zk7::OscLP, zk7::OscXT, zk7::OscHS};

bool IsFocusChangeWithinWindow(Qt::FocusReason reason) {
  return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}

}  // namespace

void frmMain::buildDeviceControls() {
  Frame1 = new QFrame(picBlkDgm);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::StyledPanel);
  Frame1->setFrameShadow(QFrame::Raised);
  Frame1->setAutoFillBackground(true);
  Frame1->setCursor(Qt::ArrowCursor);
  Frame1->setGeometry(105, 40, 175, 112);  // on a bare stretch of the picture

  Label1 = new QLabel("Device", Frame1);
  Label1->setObjectName("Label1");
  Label1->setFixedSize(48, 24);
  cmdDevice = new QPushButton("ZK7A", Frame1);
  cmdDevice->setObjectName("cmdDevice");
  cmdDevice->setFixedSize(72, 26);
  cmdDevice->setToolTip("ZK7A has an A/D converter, ZK7B has none");
  cmdDevice->setAccessibleName("Device type ZK7A");
  connect(cmdDevice, &QPushButton::clicked, this, &frmMain::toggleDevice);

  Line1 = new QFrame(Frame1);
  Line1->setObjectName("Line1");
  Line1->setFrameShape(QFrame::HLine);
  Line1->setFrameShadow(QFrame::Sunken);
  Line1->setFixedSize(163, 3);

  const char* oscCaptions[3] = {"LP", "XT", "HS"};
  for (int i = 0; i < 3; ++i) {
    auto* o = new QRadioButton(oscCaptions[i], Frame1);
    o->setObjectName(QString("optXTAL_%1").arg(i));
    o->setFixedSize(50, 24);
    o->setToolTip("Oscillator mode");
    o->setAccessibleName(QString("%1 oscillator").arg(oscCaptions[i]));
    optXTAL[static_cast<std::size_t>(i)] = o;
    connect(o, &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) oscillatorChosen(i);
    });
  }
  {
    QSignalBlocker b(optXTAL[2]);
    optXTAL[2]->setChecked(true);
  }

  lblFosc = new QLabel("Fosc =", Frame1);
  lblFosc->setObjectName("lblFosc");
  lblFosc->setFixedSize(48, 24);
  txtFosc = new QLineEdit("4000", Frame1);
  txtFosc->setObjectName("txtFosc");
  txtFosc->setFixedSize(72, 24);
  txtFosc->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  txtFosc->setAccessibleName("Oscillator frequency (kHz)");
  txtFosc->installEventFilter(this);
  // Text that arrives other than by typing (paste, drop) gets the same
  // treatment as keys: characters above "9" never appear.
  connect(txtFosc, &QLineEdit::textEdited, this, [this](const QString& text) {
    QString kept;
    for (QChar ch : text)
      if (ch.unicode() <= '9') kept.append(ch);
    if (kept != text) {
      const int pos = txtFosc->cursorPosition() - (text.size() - kept.size());
      txtFosc->setText(kept);
      txtFosc->setCursorPosition(std::max(0, pos));
    }
  });
  lblkHz = new QLabel("kHz", Frame1);
  lblkHz->setObjectName("lblkHz");
  lblkHz->setFixedSize(34, 24);

  // Three rows under one another, a line between the first two.
  auto* rows = new QVBoxLayout(Frame1);
  const int frame = Frame1->frameWidth();  // the layout starts inside the frame
  rows->setContentsMargins(6 - frame, 7 - frame, 3 - frame, 10 - frame);
  rows->setSpacing(5);
  const auto addRow = [rows](std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(4, 0, 0, 0);
    row->setSpacing(4);
    for (QWidget* w : widgets) row->addWidget(w);
    row->addStretch();
    rows->addLayout(row);
  };
  addRow({Label1, cmdDevice});
  rows->addWidget(Line1, 0, Qt::AlignLeft);
  addRow({optXTAL[0], optXTAL[1], optXTAL[2]});
  rows->addSpacing(3);
  addRow({lblFosc, txtFosc, lblkHz});
  rows->activate();  // placed now, before the window is shown

  lblConfigWord = new QLabel("Config Word =", picBlkDgm);
  lblConfigWord->setObjectName("lblConfigWord");
  lblConfigWord->setGeometry(100, 522, 190, 22);
  lblConfigWord->setAlignment(Qt::AlignCenter);
  lblConfigWord->setCursor(Qt::ArrowCursor);
  QFont cwFont = lblConfigWord->font();
  cwFont.setBold(true);
  lblConfigWord->setFont(cwFont);
  {
    // It stands on the picture's fixed light colours, whatever the theme.
    QPalette pal = lblConfigWord->palette();
    pal.setColor(QPalette::WindowText, QColor(40, 40, 40));
    lblConfigWord->setPalette(pal);
  }

  lblAtoDMask = new QLabel("N/A", picBlkDgm);
  lblAtoDMask->setObjectName("lblAtoDMask");
  lblAtoDMask->setGeometry(271, 471, 93, 43);
  lblAtoDMask->setAlignment(Qt::AlignCenter);
  lblAtoDMask->setAutoFillBackground(true);
  lblAtoDMask->setFrameShape(QFrame::Box);
  {
    QPalette pal = lblAtoDMask->palette();
    pal.setColor(QPalette::Window, QColor(150, 150, 150));
    pal.setColor(QPalette::WindowText, Qt::white);
    lblAtoDMask->setPalette(pal);
    QFont f = lblAtoDMask->font();
    f.setPointSize(15);
    f.setBold(true);
    lblAtoDMask->setFont(f);
  }
  lblAtoDMask->setToolTip("ZK7B has no A/D converter");
  lblAtoDMask->setCursor(Qt::ArrowCursor);
  lblAtoDMask->installEventFilter(this);  // the mask swallows clicks on the block it covers
  lblAtoDMask->hide();
}

bool frmMain::isZK7B() const {
  return cmdDevice->text() == "ZK7B";
}

void frmMain::showRegisterSection() {
  zk7::RegisterSet& rs = App().regs;
  const int mode = rs.ConfigWord() & 3;
  int index = -1;
  for (int i = 0; i < 3; ++i)
    if (kOscModes[i] == mode) index = i;
  if (index >= 0 && !optXTAL[static_cast<std::size_t>(index)]->isChecked()) {
    // A newly selected option counts as the user's choice: the word is
    // rewritten with the same mode and its high byte cleared. The rest of this
    // refresh then shows the normalised word everywhere.
    QSignalBlocker block(optXTAL[static_cast<std::size_t>(index)]);
    optXTAL[static_cast<std::size_t>(index)]->setChecked(true);
    rs.setConfigWord(zk7::WithOscMode(rs.ConfigWord(), kOscModes[index]));
  }
  lblConfigWord->setText(QString("Config Word = 0x0%1").arg(rs.ConfigWord() & 7));
  txtFosc->setText(DecimalText(App().Fosc / 1000.0));
}

void frmMain::oscillatorChosen(int index) {
  FinishLoadRefresh();  // the editors are made from the register set as the load left it
  App().regs.setConfigWord(zk7::WithOscMode(App().regs.ConfigWord(), kOscModes[index]));
  RefreshAll();
}

void frmMain::toggleDevice() {
  const QString caption = cmdDevice->text();
  if (caption != "ZK7A" && caption != "ZK7B") return;
  const bool toB = caption == "ZK7A";
  cmdDevice->setText(toB ? "ZK7B" : "ZK7A");
  cmdDevice->setAccessibleName("Device type " + cmdDevice->text());
  lblAtoDMask->setVisible(toB);
  picBlkDgm->setBlockEnabled(BlockDiagram::AtoD, !toB);
  updateWindowOpeners();
  if (EditorWindow* gpio = Windows::instance().get(WindowId::GPIO)) gpio->deviceVariantChanged(toB);
  if (toB) {
    zk7::RegisterSet& rs = App().regs;
    rs.set(zk7::ADCON0, 0x00);
    rs.set(zk7::ADCON1, 0x0F);  // GP0 to GP3 digital, no reference inputs
    for (int r : {zk7::ADCMP3H, zk7::ADCMP3L, zk7::ADCMP2H, zk7::ADCMP2L, zk7::ADCMP1H,
                  zk7::ADCMP1L, zk7::ADCMP0H, zk7::ADCMP0L})
      rs.set(r, 0x00);
  }
}

void frmMain::commitFosc() {
  if (committingFosc_) return;
  committingFosc_ = true;
  // The box is read as the device-file reader reads its frequency line, so
  // whatever the box holds after this saves and loads back as this Fosc. A
  // group separator is never part of a number ("4,000", or "4.000" where the
  // point groups digits).
  const QString text = txtFosc->text();
  const QString group = QLocale().groupSeparator();
  const auto hz = text.contains(group)
                      ? std::nullopt
                      : zk7::FoscHzFromText(text.toStdString(), LocaleDecimalPoint());
  // Empty, non-numeric and negative entries count as zero, and show as "0".
  App().Fosc = hz.value_or(0.0);
  txtFosc->setModified(false);
  if (App().Fosc == 0.0) {
    if (!hz) txtFosc->setText("0");
    Seam::instance().message(this, "Wrong Fosc Value",
                             "Fosc Cannot Be Zero!!\r\nSet Fosc in Main Screen Before Continuing.",
                             Seam::Icon::Critical);
  }
  committingFosc_ = false;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtFosc) {
    switch (event->type()) {
      case QEvent::KeyPress: {
        auto* k = static_cast<QKeyEvent*>(event);
        if (!k->text().isEmpty() && k->text().at(0).unicode() > '9') return true;
        break;
      }
      case QEvent::FocusIn:
        if (IsFocusChangeWithinWindow(static_cast<QFocusEvent*>(event)->reason()))
          // After the line edit has placed its cursor for the click.
          QTimer::singleShot(0, txtFosc, [this] {
            if (txtFosc->hasFocus()) txtFosc->setSelection(0, 5);
          });
        break;
      case QEvent::FocusOut:
        if (IsFocusChangeWithinWindow(static_cast<QFocusEvent*>(event)->reason())) commitFosc();
        break;
      default:
        break;
    }
  } else if (watched == lblAtoDMask) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
      return true;
  }
  return QMainWindow::eventFilter(watched, event);
}
