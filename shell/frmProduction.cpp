// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The production window comes together here; its controls, what it shows
// and production itself live in production_controls.cpp,
// production_display.cpp and production_run.cpp.
#include "shell/frmProduction.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>

#include "gui/app.h"
#include "gui/focus.h"
#include "shell/accessible.h"
#include "shell/version.h"

frmProduction::frmProduction(Mode mode, const StationSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), mode_(mode) {
  setObjectName("frmProduction");
  InstallFocusRules();
  InstallAccessibleFactories();
  setWindowTitle(QString(VersionRecord::Title) + " \u2014 Production");
  buildControls();
  txtConfiguration->setText(settings.configuration);
  txtPort->setText(settings.port.isEmpty() ? PortText(App().port) : settings.port);
  txtSerial->setText(settings.serial);
  txtLog->setText(settings.log);
  // Enter anywhere in the window: a foot switch is a keyboard that types it.
  qApp->installEventFilter(this);
  auto* quit = new QAction(this);
  quit->setObjectName("mnuQuit");
  // The platform's Quit keys; Ctrl+Q where the platform names none.
  QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
  if (quitKeys.isEmpty()) quitKeys << QKeySequence(Qt::CTRL | Qt::Key_Q);
  quit->setShortcuts(quitKeys);
  quit->setShortcutContext(Qt::WindowShortcut);
  connect(quit, &QAction::triggered, this, &QWidget::close);
  addAction(quit);
  showResult("");
  if (mode_ == Mode::Station) start();
  refresh();
}

frmProduction::~frmProduction() {
  endSession();
}
