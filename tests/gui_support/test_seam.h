// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A seam for GUI tests: records messages, answers file dialogs from a queue
// and lets the test drive modal windows.
#pragma once

#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "gui/seam.h"

struct RecordedMessage {
  QString title;
  QString text;
  Seam::Icon icon;
  QString details;
};

class TestSeam : public Seam {
 public:
  std::vector<RecordedMessage> messages;
  // Answers for the next file dialogs, in order; an empty answer cancels.
  std::deque<QString> fileAnswers;
  // Titles of the file dialogs asked, with their filters and suffixes.
  std::vector<QString> fileDialogTitles, fileDialogFilters, fileDialogSuffixes, fileDialogInitial;
  // Called for each modal window, while it is shown; its return is the result.
  // When empty, the window is shown, events are processed and it is hidden.
  std::function<int(QDialog*)> onModal;
  std::vector<QDialog*> modalsShown;
  // Called for each message (while "shown"), e.g. to check state at that point.
  std::function<void(const RecordedMessage&)> onMessage;

  void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override;
  void detailedMessage(QWidget* parent, const QString& title, const QString& text,
                       const QString& details, Icon icon) override;
  QString openFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultSuffix, const QString& initialPath) override;
  QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultSuffix, const QString& initialPath) override;
  int execModal(QDialog* dialog) override;

  void clear();
};

// The seam installed by the GUI test main.
TestSeam& testSeam();
