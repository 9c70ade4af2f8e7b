// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window itself: its load, its frame on the screen, activation and
// closing, and the windows it opens over itself. Its parts live beside it:
// the block diagram and pins (main_diagram.cpp), the device frame on the
// picture (main_device.cpp), the runs (main_run.cpp), the file commands
// (main_files.cpp), the port (main_port.cpp) and the menus (menus.cpp).
#include "shell/frmMain.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <algorithm>

#include "gui/app.h"
#include "gui/focus.h"
#include "gui/guiflow.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "port/lines_off.h"
#include "shell/blockdiagram.h"
#include "shell/frmAbout.h"
#include "shell/frmProduction.h"
#include "shell/version.h"

namespace {

frmMain* g_main = nullptr;

// The window's content (pixels): the picture with the pins around it, and
// under it a row of result, progress and buttons, this far from the edges.
constexpr int kContentWidth = 795;
constexpr int kContentHeight = 613;
constexpr int kRowGap = 7;        // above and below the row
constexpr int kRowRightGap = 11;  // right of its last button

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

  buildDiagram(content);
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

void frmMain::activated() {
  picBlkDgm->redrawMarks();
  RefreshAll();
}

void frmMain::openModal(QDialog* dialog) {
  Seam::instance().execModal(dialog);
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
