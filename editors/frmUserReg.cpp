// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "editors/frmUserReg.h"

#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "gui/app.h"
#include "model/format.h"
#include "model/hex.h"
#include "model/registers.h"

namespace {
constexpr int kColumns = 8;
}

frmUserReg::frmUserReg(QWidget* parent) : EditorWindow(parent) {
  setObjectName("frmUserReg");
  setWindowTitle("User Memory Registers");

  auto* heading = new QLabel("User Memory Registers");
  heading->setObjectName("lblHeading");
  QFont f = heading->font();
  f.setBold(true);
  heading->setFont(f);

  auto* frame = new QGroupBox;
  frame->setObjectName("fraUserReg");
  auto* outer = new QVBoxLayout(frame);
  auto* addrHeading = new QLabel("Address (hex)");
  addrHeading->setObjectName("lblAddrHeading");
  outer->addWidget(addrHeading);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(2);
  const QFontMetrics fm(font());
  const int boxWidth = fm.horizontalAdvance("WW") + 16;
  for (int k = 1; k <= zk7::kUserMemorySize; ++k) {
    const int row = (k - 1) / kColumns;
    const int col = (k - 1) % kColumns;
    auto* label = new QLabel(QString::fromStdString(zk7::HexNoPad(k + 52)));
    label->setObjectName(QString("lblAddr_%1").arg(k));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    auto* box = new QLineEdit;
    box->setObjectName(QString("txtUserReg_%1").arg(k));
    box->setAccessibleName(QString("User memory byte %1").arg(k - 1));
    box->setAlignment(Qt::AlignCenter);
    box->setFixedWidth(boxWidth);
    // No maximum length on the box: it would cut a pasted "123" to "12", a
    // byte nobody entered. Typing is held to two digits by the key filter and
    // pasted text is checked when the box is left.
    box->installEventFilter(this);
    lblAddr[k] = label;
    txtUserReg[k] = box;
    // Each row of boxes has its address labels on the grid row above it, and
    // an empty row keeps the two rows of boxes apart.
    grid->addWidget(label, row * 3, col, Qt::AlignHCenter);
    grid->addWidget(box, row * 3 + 1, col, Qt::AlignHCenter);
  }
  grid->setRowMinimumHeight(2, fm.height());
  outer->addLayout(grid);

  cmdOK = new QPushButton("Close");
  cmdOK->setObjectName("cmdOK");
  cmdCancel = new QPushButton("Cancel");
  cmdCancel->setObjectName("cmdCancel");
  cmdOK->setAutoDefault(false);
  cmdCancel->setAutoDefault(false);
  connect(cmdOK, &QPushButton::clicked, this, [this] { hide(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { hide(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);

  auto* top = new QVBoxLayout(this);
  top->addWidget(heading);
  top->addWidget(frame);
  top->addLayout(buttons);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  showBytes();
}

int frmUserReg::boxIndex(QObject* o) const {
  for (int k = 1; k <= zk7::kUserMemorySize; ++k)
    if (txtUserReg[k] == o) return k;
  return 0;
}

bool frmUserReg::eventFilter(QObject* watched, QEvent* event) {
  const int k = boxIndex(watched);
  if (k == 0) return EditorWindow::eventFilter(watched, event);
  QLineEdit* box = txtUserReg[k];
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      const QString text = key->text();
      // Editing shortcuts (copy, paste, undo) and keys without a character
      // (arrows, Delete, Tab) keep their usual meaning; typed characters go
      // through the hex key filter.
      if (text.isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
      if (text.size() != 1) return true;
      const int code = text.at(0).unicode();
      if (code < 32 && code != 8) return false;  // Enter, Escape: dialog keys
      const int accepted = zk7::HexKeyFilter(code);
      if (accepted == 0) return true;
      if (accepted == 8) return false;  // backspace edits as usual
      // One byte: two digits at most, counting the selection as replaced.
      if (box->text().size() - box->selectedText().size() >= 2) return true;
      box->insert(QString(QChar(accepted)));
      return true;
    }
    case QEvent::FocusIn:
      box->setSelection(0, 2);
      // A mouse press that gave the focus would place the cursor after this;
      // select again once it is handled so typing replaces both digits.
      QMetaObject::invokeMethod(
          box,
          [box] {
            if (box->hasFocus()) box->setSelection(0, 2);
          },
          Qt::QueuedConnection);
      break;
    case QEvent::FocusOut:
      // A context menu opening over the box is not leaving it.
      if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) commit(k);
      break;
    default:
      break;
  }
  return EditorWindow::eventFilter(watched, event);
}

void frmUserReg::commit(int k) {
  QLineEdit* box = txtUserReg[k];
  const std::string text = box->text().toStdString();
  // An empty box stores 0. Pasted or dropped text that is not one byte in
  // hex is refused: the byte keeps its value. A box the user did not touch
  // stores nothing.
  if (box->isModified() && (text.empty() || (text.size() <= 2 && zk7::IsHexText(text))))
    App().regs.setUser(k - 1, static_cast<long long>(zk7::HexToValue(text)));
  box->setText(QString::fromStdString(zk7::Hex2(App().regs.user(k - 1))));
}

void frmUserReg::showBytes() {
  for (int k = 1; k <= zk7::kUserMemorySize; ++k)
    txtUserReg[k]->setText(QString::fromStdString(zk7::Hex2(App().regs.user(k - 1))));
}

void frmUserReg::showEvent(QShowEvent* event) {
  // Shown by its opener: the boxes take up what a file load or a read-back
  // may have put into user memory meanwhile.
  if (!event->spontaneous()) showBytes();
  EditorWindow::showEvent(event);
}

void frmUserReg::hideEvent(QHideEvent* event) {
  // Closing by Escape or the title bar leaves a box without a focus change;
  // what it holds is kept as if the focus had left it.
  if (!event->spontaneous())
    if (const int k = boxIndex(QApplication::focusWidget())) commit(k);
  EditorWindow::hideEvent(event);
}
