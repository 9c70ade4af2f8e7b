// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/frmAbout.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "gui/seam.h"
#include "shell/frmSplash.h"
#include "shell/version.h"

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("frmAbout");
  setWindowTitle("About");
  setFixedSize(420, 220);

  imgLogo = new QLabel(this);
  imgLogo->setObjectName("imgLogo");
  imgLogo->setPixmap(ProjectLogo(64, imgLogo->devicePixelRatioF()));
  imgLogo->setGeometry(16, 16, 64, 64);

  auto label = [this](const char* name, const QString& text, QRect r) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    l->setGeometry(r);
    return l;
  };
  lblAppTitle = label("lblAppTitle", "Application Title", QRect(96, 16, 310, 28));
  QFont big = lblAppTitle->font();
  big.setPointSize(15);
  big.setBold(true);
  lblAppTitle->setFont(big);
  lblAppVersion = label("lblAppVersion", "Application Version", QRect(96, 46, 310, 20));
  lblCopyright = label("lblCopyright", "Copyright Information", QRect(96, 70, 310, 20));
  lblWarning = label("lblWarning", QString(), QRect(96, 94, 310, 40));
  lblWarning->setWordWrap(true);

  Frame1 = new QFrame(this);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::HLine);
  Frame1->setFrameShadow(QFrame::Sunken);
  Frame1->setGeometry(16, 150, 388, 4);

  cmdTechSupport = new QPushButton("Tech Support... (WEB Site)", this);
  cmdTechSupport->setObjectName("cmdTechSupport");
  cmdTechSupport->setGeometry(16, 170, 200, 32);
  cmdTechSupport->setToolTip(QString());  // no action; the address is only stored
  cmdOK = new QPushButton("OK", this);
  cmdOK->setObjectName("cmdOK");
  cmdOK->setGeometry(314, 170, 90, 32);
  cmdOK->setDefault(true);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

  setAppTitle(VersionRecord::Title);
  setAppVersion(QString("%1.%2").arg(VersionRecord::Major).arg(VersionRecord::Minor));
  setCopyright(QString("%1 %2").arg(VersionRecord::Copyright, VersionRecord::CompanyName));
}

void frmAbout::setAppTitle(const QString& title) {
  setWindowTitle("About" + title);
  lblAppTitle->setText(title);
}

void frmAbout::setAppVersion(const QString& version) {
  lblAppVersion->setText("Version " + version);
}

void frmAbout::setCopyright(const QString& text) {
  lblCopyright->setText(text);
}

void frmAbout::Display() {
  setWebSite(VersionRecord::SupportWebSite);
  Seam::instance().execModal(this);
}
