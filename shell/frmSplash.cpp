// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/frmSplash.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "gui/uitext.h"
#include "shell/version.h"

QPixmap ProjectLogo(int size, qreal devicePixelRatio) {
  QPixmap pm(QSize(size, size) * devicePixelRatio);
  pm.setDevicePixelRatio(devicePixelRatio);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 64.0;
  p.scale(s, s);
  // Pins, seven a side.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(170, 170, 170));
  for (int i = 0; i < 7; ++i) {
    p.drawRect(QRectF(6, 8 + i * 7, 8, 3.5));
    p.drawRect(QRectF(50, 8 + i * 7, 8, 3.5));
  }
  // Body.
  p.setBrush(QColor(31, 78, 140));
  p.drawRoundedRect(QRectF(13, 4, 38, 56), 4, 4);
  p.setBrush(QColor(255, 255, 255, 90));
  p.drawEllipse(QPointF(32, 10), 3, 3);
  // The green mark of a configured block.
  p.setPen(QPen(QColor(0, 220, 0), 3));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(20, 22, 24, 18));
  p.setPen(Qt::white);
  QFont f;
  f.setPixelSize(10);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRectF(13, 44, 38, 14), Qt::AlignCenter, "ZK7");
  return pm;
}

frmSplash::frmSplash(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName("frmSplash");
  setWindowTitle(QString());
  setFixedSize(500, 290);

  Frame1 = new QFrame(this);
  Frame1->setObjectName("Frame1");
  Frame1->setFrameShape(QFrame::Box);
  Frame1->setGeometry(8, 8, 484, 232);
  Frame1->installEventFilter(this);

  imgLogo = new QLabel(Frame1);
  imgLogo->setObjectName("imgLogo");
  imgLogo->setPixmap(ProjectLogo(96, imgLogo->devicePixelRatioF()));
  imgLogo->setGeometry(18, 22, 96, 96);
  imgLogo->installEventFilter(this);

  auto label = [this](const char* name, const QString& text, QRect r) {
    auto* l = new QLabel(text, Frame1);
    l->setObjectName(name);
    l->setGeometry(r);
    return l;
  };
  lblProductName = label("lblProductName", "Product", QRect(134, 20, 340, 40));
  QFont big = lblProductName->font();
  big.setPointSize(20);
  big.setBold(true);
  lblProductName->setFont(big);
  lblVersion = label("lblVersion", "Version", QRect(134, 62, 340, 22));
  QFont mid = lblVersion->font();
  mid.setPointSize(11);
  lblVersion->setFont(mid);
  lblPlatform = label("lblPlatform", "Platform", QRect(134, 86, 340, 20));
  lblCompany = label("lblCompany", "Company", QRect(134, 90, 340, 20));
  lblWarning = label("lblWarning", "Warning", QRect(18, 132, 450, 40));
  lblWarning->setWordWrap(true);
  QFont warn = lblWarning->font();
  warn.setBold(true);
  lblWarning->setFont(warn);
  // The window's colours are the palette's, so the warning's red and the dim
  // grey of the lesser lines are chosen to read on it, light or dark.
  QPalette warnPal = lblWarning->palette();
  warnPal.setColor(QPalette::WindowText, WarningColour(warnPal));
  lblWarning->setPalette(warnPal);
  lblCopyright = label("lblCopyright", "Copyright", QRect(18, 180, 220, 20));
  lblLicenseTo = label("lblLicenseTo", "LicenseTo", QRect(18, 202, 220, 20));
  lblCompanyProduct = label("lblCompanyProduct", "CompanyProduct", QRect(250, 202, 220, 20));
  lblCompanyProduct->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette greyPal = lblCopyright->palette();
  const QColor text = greyPal.color(QPalette::WindowText), back = greyPal.color(QPalette::Window);
  greyPal.setColor(QPalette::WindowText, QColor((3 * text.red() + 2 * back.red()) / 5,
                                                (3 * text.green() + 2 * back.green()) / 5,
                                                (3 * text.blue() + 2 * back.blue()) / 5));
  for (QLabel* l : {lblCopyright, lblLicenseTo, lblCompanyProduct}) l->setPalette(greyPal);
  // Clicks on the labels over the frame count as clicks on the frame.
  for (QLabel* l : Frame1->findChildren<QLabel*>())
    if (l != imgLogo) l->setAttribute(Qt::WA_TransparentForMouseEvents);

  cmdContinue = new QPushButton("Continue", this);
  cmdContinue->setObjectName("cmdContinue");
  cmdContinue->setGeometry(392, 250, 100, 30);
  cmdContinue->setDefault(true);
  connect(cmdContinue, &QPushButton::clicked, this, &QDialog::accept);

  // Load: texts from the version record.
  lblProductName->setText(VersionRecord::Title);
  lblVersion->setText(QString("Version %1.%2.%3")
                          .arg(VersionRecord::Major)
                          .arg(VersionRecord::Minor)
                          .arg(VersionRecord::Revision));
  lblCompany->setText(VersionRecord::CompanyName);
  lblWarning->setText(VersionRecord::FileDescription);
  lblPlatform->hide();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == Frame1 || watched == imgLogo) && event->type() == QEvent::MouseButtonPress) {
    accept();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void frmSplash::keyPressEvent(QKeyEvent*) {
  accept();
}
