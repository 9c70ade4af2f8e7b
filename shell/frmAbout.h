// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The About window: title, version and copyright from the version record.
#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

class frmAbout : public QDialog {
  Q_OBJECT
 public:
  // Construction is the window's load: it fills the texts.
  explicit frmAbout(QWidget* parent = nullptr);

  void setAppTitle(const QString& title);
  void setAppVersion(const QString& version);
  void setCopyright(const QString& text);
  void setWebSite(const QString& address) { webSite_ = address; }
  const QString& webSite() const { return webSite_; }
  // Stores the support address and shows the window modally.
  void Display();

  QLabel* imgLogo = nullptr;
  QLabel* lblAppTitle = nullptr;
  QLabel* lblAppVersion = nullptr;
  QLabel* lblCopyright = nullptr;
  QLabel* lblWarning = nullptr;
  QFrame* Frame1 = nullptr;
  QPushButton* cmdTechSupport = nullptr;
  QPushButton* cmdOK = nullptr;

 private:
  QString webSite_;
};
