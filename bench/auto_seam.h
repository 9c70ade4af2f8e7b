// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A seam for the start-up benchmarks: closes the splash at once and answers
// every other question with nothing.
#pragma once

#include <QApplication>
#include <QDialog>

#include "gui/seam.h"

class AutoSeam : public Seam {
 public:
  void message(QWidget*, const QString&, const QString&, Icon) override {}
  QString openFileName(QWidget*, const QString&, const QString&, const QString&,
                       const QString&) override {
    return {};
  }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString&,
                       const QString&) override {
    return {};
  }
  int execModal(QDialog* d) override {
    d->show();
    QApplication::processEvents();
    d->hide();
    return QDialog::Accepted;
  }
};
