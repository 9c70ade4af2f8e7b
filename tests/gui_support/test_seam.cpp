// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui_support/test_seam.h"

#include <QApplication>

void TestSeam::message(QWidget* parent, const QString& title, const QString& text, Icon icon) {
  detailedMessage(parent, title, text, QString(), icon);
}

void TestSeam::detailedMessage(QWidget*, const QString& title, const QString& text,
                               const QString& details, Icon icon) {
  messages.push_back({title, text, icon, details});
  if (onMessage) onMessage(messages.back());
}

QString TestSeam::openFileName(QWidget*, const QString& title, const QString& filter,
                               const QString& defaultSuffix, const QString& initialPath) {
  fileDialogTitles.push_back(title);
  fileDialogFilters.push_back(filter);
  fileDialogSuffixes.push_back(defaultSuffix);
  fileDialogInitial.push_back(initialPath);
  if (fileAnswers.empty()) return {};
  QString a = fileAnswers.front();
  fileAnswers.pop_front();
  return a;
}

QString TestSeam::saveFileName(QWidget* parent, const QString& title, const QString& filter,
                               const QString& defaultSuffix, const QString& initialPath) {
  return openFileName(parent, title, filter, defaultSuffix, initialPath);
}

int TestSeam::execModal(QDialog* dialog) {
  modalsShown.push_back(dialog);
  dialog->show();
  QApplication::processEvents();
  int result = 0;
  if (onModal) result = onModal(dialog);
  dialog->hide();
  QApplication::processEvents();
  return result;
}

void TestSeam::clear() {
  messages.clear();
  fileAnswers.clear();
  fileDialogTitles.clear();
  fileDialogFilters.clear();
  fileDialogSuffixes.clear();
  fileDialogInitial.clear();
  onModal = nullptr;
  onMessage = nullptr;
  modalsShown.clear();
}

TestSeam& testSeam() {
  static TestSeam seam;
  return seam;
}
