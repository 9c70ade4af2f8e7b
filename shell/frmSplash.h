// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up window with the product identification and the warning.
#pragma once

#include <QDialog>
#include <QPixmap>

class QFrame;
class QLabel;
class QPushButton;

// Our project's logo: a drawn 14-pin chip, size logical pixels square, drawn
// for a screen of this pixel density so that it stays sharp on it.
QPixmap ProjectLogo(int size, qreal devicePixelRatio);

class frmSplash : public QDialog {
  Q_OBJECT
 public:
  explicit frmSplash(QWidget* parent = nullptr);

  QFrame* Frame1 = nullptr;
  QLabel* imgLogo = nullptr;
  QLabel* lblProductName = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblCompany = nullptr;
  QLabel* lblWarning = nullptr;
  QLabel* lblPlatform = nullptr;
  QLabel* lblCopyright = nullptr;
  QLabel* lblLicenseTo = nullptr;
  QLabel* lblCompanyProduct = nullptr;
  QPushButton* cmdContinue = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};
