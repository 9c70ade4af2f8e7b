// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Everything that waits on a person goes through this seam, so tests can
// replace it with a recorder and run headless.
#pragma once

#include <QString>

class QDialog;
class QWidget;

class Seam {
 public:
  enum class Icon { None, Critical, Information, Warning };
  virtual ~Seam() = default;

  // A modal message box with one OK button.
  virtual void message(QWidget* parent, const QString& title, const QString& text, Icon icon) = 0;
  // A message whose main text says what happened in a line or two, with a list
  // in the box's details (shown on request, in a fixed-width font so columns
  // align). Without an override the details follow the text.
  virtual void detailedMessage(QWidget* parent, const QString& title, const QString& text,
                               const QString& details, Icon icon) {
    message(parent, title, details.isEmpty() ? text : text + "\n\n" + details, icon);
  }
  // Open dialog; returns the chosen path or an empty string when cancelled.
  virtual QString openFileName(QWidget* parent, const QString& title, const QString& filter,
                               const QString& defaultSuffix, const QString& initialPath) = 0;
  // Save dialog that asks before an existing file is replaced; empty when cancelled.
  virtual QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                               const QString& defaultSuffix, const QString& initialPath) = 0;
  // Shows a window modally and returns its result when it closes.
  virtual int execModal(QDialog* dialog) = 0;

  static Seam& instance();
  // Replaces the seam (tests). Passing nullptr restores the real dialogs.
  static void set(Seam* seam);
};
