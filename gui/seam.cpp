// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/seam.h"

#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextEdit>
#include <algorithm>

namespace {

class RealSeam : public Seam {
 public:
  void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override {
    detailedMessage(parent, title, text, QString(), icon);
  }

  void detailedMessage(QWidget* parent, const QString& title, const QString& text,
                       const QString& details, Icon icon) override {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    if (!details.isEmpty()) {
      box.setDetailedText(details);
      // Columns aligned and every line whole; the lines beyond the box's height scroll.
      const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      const QFontMetrics metrics(fixed);
      int widest = 0;
      for (const QString& line : details.split('\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
      for (QTextEdit* edit : box.findChildren<QTextEdit*>()) {
        edit->setFont(fixed);
        edit->setLineWrapMode(QTextEdit::NoWrap);
        edit->setMinimumWidth(widest + 2 * metrics.averageCharWidth() +
                              edit->verticalScrollBar()->sizeHint().width());
      }
    }
    switch (icon) {
      case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
      case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
      case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
  }

  QString openFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultSuffix, const QString& initialPath) override {
    QFileDialog dlg(parent, title, initialPath, filter);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setDefaultSuffix(defaultSuffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
  }

  QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                       const QString& defaultSuffix, const QString& initialPath) override {
    QFileDialog dlg(parent, title, initialPath, filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(defaultSuffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
  }

  int execModal(QDialog* dialog) override { return dialog->exec(); }
};

RealSeam realSeam;
Seam* current = &realSeam;

}  // namespace

Seam& Seam::instance() {
  return *current;
}

void Seam::set(Seam* seam) {
  current = seam ? seam : &realSeam;
}
