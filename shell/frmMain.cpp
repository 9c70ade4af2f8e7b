#include "shell/frmMain.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "files/devicefile.h"
#include "gui/app.h"
#include "gui/focus.h"
#include "gui/guiflow.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "model/format.h"
#include "model/registers.h"
#include "port/lines_off.h"
#include "shell/blockdiagram.h"
#include "shell/frmAbout.h"
#include "shell/frmProduction.h"
#include "shell/version.h"

namespace {

frmMain* g_main = nullptr;

// Design units: twips, 15 to a logical pixel.
constexpr double kTwipsPerPixel = 15.0;
constexpr int kPinW = 735;  // marker template, twips
constexpr int kPinH = BlockDiagram::kPinHeightTwips;
constexpr int kPinLabelWidth = 56;  // label template, pixels

// Placement of the picture in the window (pixels).
constexpr int kPicLeft = 150;
constexpr int kPicTop = 4;
constexpr int kContentWidth = 795;
constexpr int kContentHeight = 613;
constexpr int kRowGap = 7;        // above and below the row of result, progress and buttons
constexpr int kRowRightGap = 11;  // right of its last button

// Oscillator option index -> mode bits: LP = 0, XT = 1, HS = 3.
constexpr int kOscModes[3] = {zk7::OscLP, zk7::OscXT, zk7::OscHS};

int Px(double twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

bool IsFocusChangeWithinWindow(Qt::FocusReason reason) {
  return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}

}  // namespace

frmMain* MainWindow() {
  return g_main;
}

QRect FitIntoWorkArea(QRect win, QRect workArea, QMargins frame) {
  QRect outer = win.marginsAdded(frame);
  if (workArea.width() < outer.width()) {
    outer.moveLeft(workArea.left());
    outer.setWidth(workArea.width());
  }
  if (workArea.height() < outer.height()) {
    outer.moveTop(workArea.top());
    outer.setHeight(workArea.height());
  }
  return outer.marginsRemoved(frame);
}

const std::array<const char*, frmMain::kPinCount>& frmMain::PinNames() {
  static const std::array<const char*, kPinCount> names = {"GP0",  "GP1",   "GP2",   "GP3", "OSC2",
                                                           "OSC1", "Vss",   "GP4",   "GP5", "GP6",
                                                           "GP7",  "RXCAN", "TXCAN", "Vdd"};
  return names;
}

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
  g_main = this;
  setObjectName("frmMain");
  setWindowTitle(VersionRecord::Title);
  InstallFocusRules();
  buildMenus();
  buildControls();
  SetMainRefreshSection([this] { showRegisterSection(); });
  App().chipAnswered = [this](std::optional<std::uint16_t> word) { showChipAnswer(word); };

  // 1. Fit into the desktop work area.
  fitIntoWorkArea();
  // 2-3. Port 0x378 and its check. Its lines are switched off first: until
  // now they hold what the firmware's port check (0xAA) or the kernel's probe
  // (0x04) left, which means VDD (and VPP) on.
  App().programmer.InitLPTPort(0x378);
  std::string busy;  // a port another program holds is said by the check
  zk7::WriteLinesOff(App().port, busy);
  checkPortItem();
  portCheck();
  // 4. Oscillator frequency.
  App().Fosc = 4000000.0;
  // 5. Block diagram and pins.
  lblTestStatus->setText(QString());
  layOutPins();
  // 6. What the chip in the programmer holds goes into MemMap.
  App().programmer.ReadImageWords(App().image, GuiFlowCallbacks());
  showChipAnswer(std::nullopt);
  // 7. Every window shows the register set (creating the editors, hidden,
  // once the window is on the screen).
  RefreshAllAtLoad(this);
}

frmMain::~frmMain() {
  SetMainRefreshSection(nullptr);
  if (g_main == this) {
    g_main = nullptr;
    App().chipAnswered = nullptr;
  }
}

void frmMain::buildControls() {
  // The layout is fixed; a scroll area keeps every control reachable when the
  // work area is smaller than the window.
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName("scrollArea");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setFocusPolicy(Qt::NoFocus);  // it follows the focus among the controls
  auto* content = new QWidget;
  content->setObjectName("content");
  content->setFixedSize(kContentWidth, kContentHeight);
  scroll->setWidget(content);
  setCentralWidget(scroll);

  picBlkDgm = new BlockDiagram(content);
  picBlkDgm->move(kPicLeft, kPicTop);
  connect(picBlkDgm, &BlockDiagram::blockPressed, this, &frmMain::openBlock);

  Frame1 = new QFrame(picBlkDgm);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::StyledPanel);
  Frame1->setFrameShadow(QFrame::Raised);
  Frame1->setAutoFillBackground(true);
  Frame1->setCursor(Qt::ArrowCursor);
  Frame1->setGeometry(105, 40, 175, 112);

  Label1 = new QLabel("Device", Frame1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(10, 8, 48, 24);
  cmdDevice = new QPushButton("ZK7A", Frame1);
  cmdDevice->setObjectName("cmdDevice");
  cmdDevice->setGeometry(62, 7, 72, 26);
  cmdDevice->setToolTip("ZK7A has an A/D converter, ZK7B has none");
  cmdDevice->setAccessibleName("Device type ZK7A");
  connect(cmdDevice, &QPushButton::clicked, this, &frmMain::toggleDevice);

  Line1 = new QFrame(Frame1);
  Line1->setObjectName("Line1");
  Line1->setFrameShape(QFrame::HLine);
  Line1->setFrameShadow(QFrame::Sunken);
  Line1->setGeometry(6, 38, 163, 3);

  const char* oscCaptions[3] = {"LP", "XT", "HS"};
  for (int i = 0; i < 3; ++i) {
    auto* o = new QRadioButton(oscCaptions[i], Frame1);
    o->setObjectName(QString("optXTAL_%1").arg(i));
    o->setGeometry(10 + i * 54, 46, 50, 24);
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
  lblFosc->setGeometry(10, 78, 48, 24);
  txtFosc = new QLineEdit("4000", Frame1);
  txtFosc->setObjectName("txtFosc");
  txtFosc->setGeometry(62, 78, 72, 24);
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
  lblkHz->setGeometry(138, 78, 34, 24);

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

  // The row starts at the picture's left edge, under it.
  const QRect picture = picBlkDgm->geometry();
  auto* row = new QHBoxLayout(content);
  row->setContentsMargins(picture.left(), picture.bottom() + 1 + kRowGap, kRowRightGap, kRowGap);
  buildRunControls(row);
  row->activate();  // placed now, before the window is shown

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  statusPath = new QLabel(StatusBar1);
  statusPath->setObjectName("statusPath");
  statusPort = new QLabel(StatusBar1);
  statusPort->setObjectName("statusPort");
  StatusBar1->addWidget(statusPath, 1);
  StatusBar1->addPermanentWidget(statusPort);
  setStatusBar(StatusBar1);

  // The design size: the content plus menu bar and status bar.
  resize(kContentWidth + 2,
         kContentHeight + 2 + menuBar()->sizeHint().height() + StatusBar1->sizeHint().height());
}

void frmMain::fitIntoWorkArea() {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen) fitIntoWorkArea(WorkArea(screen));
}

void frmMain::fitIntoWorkArea(const QRect& workArea) {
  const QMargins frame = WindowFrame(this);
  QRect fitted = FitIntoWorkArea(geometry(), workArea, frame);
  // Made lower than its content, the window gets a vertical scroll bar; it is
  // made that much wider where the work area has room, so that the bar does
  // not take width the content needs and bring a horizontal one too.
  auto* scroll = qobject_cast<QScrollArea*>(centralWidget());
  const int bar = scroll->verticalScrollBar()->sizeHint().width();
  const int chrome = menuBar()->sizeHint().height() + StatusBar1->sizeHint().height();
  const int needed = kContentWidth + bar;  // the content beside a vertical bar
  if (fitted.height() < kContentHeight + chrome && fitted.width() < needed) {
    fitted.setWidth(std::max(fitted.width(),
                             std::min(needed, workArea.width() - frame.left() - frame.right())));
    if (fitted.right() + frame.right() > workArea.right())
      fitted.moveRight(workArea.right() - frame.right());
  }
  if (fitted != geometry()) setGeometry(fitted);
}

void frmMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Once framed and active, the frame the window system really drew must fit
  // (at load only a title bar's height could be kept free for it).
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !frameFitted_) {
    frameFitted_ = true;
    fitIntoWorkArea();
  }
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
      auto* label = new QLabel(PinNames()[static_cast<std::size_t>(pin - 1)], content);
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

void frmMain::activated() {
  picBlkDgm->redrawMarks();
  RefreshAll();
}

void frmMain::openModal(QDialog* dialog) {
  Seam::instance().execModal(dialog);
  activated();
}

void frmMain::openBlock(int block) {
  if (flowRunning_ || block < 0 || block >= BlockDiagram::kBlockCount) return;
  const DiagramBlock& b = BlockDiagram::Blocks()[static_cast<std::size_t>(block)];
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

void frmMain::closeEvent(QCloseEvent* event) {
  if (flowRunning_) {
    // Leave programming mode first: the flow stops at its next wait and
    // turns the programming voltage off; the window closes when it returns.
    closePending_ = true;
    App().programmer.requestAbort();
    event->ignore();
    return;
  }
  event->accept();
}

void frmMain::openProduction() {
  if (flowRunning_ || App().programmer.busy()) return;
  auto* w = new frmProduction(frmProduction::Mode::FromMenu, StationSettings{}, this);
  w->setAttribute(Qt::WA_DeleteOnClose);
  // The main window waits meanwhile: its port and configuration stay as production found them.
  w->setWindowModality(Qt::ApplicationModal);
  connect(w, &frmProduction::portChanged, this, [this] {
    checkPortItem();
    updatePortStatus();
  });
  w->show();
}

void frmMain::showAbout() {
  // Loaded afresh each time, so its texts are rebuilt.
  frmAbout about(this);
  about.Display();
  activated();  // as after every other window of ours
}
