// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Finding, clicking and reading a window's controls by their objectName.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <initializer_list>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

template <class T = QWidget>
T* Find(const QObject* parent, const QString& name) {
  T* c = parent->findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name.toStdString();
  return c;
}

inline void Click(const QObject* parent, const QString& name) {
  if (auto* b = Find<QAbstractButton>(parent, name)) QTest::mouseClick(b, Qt::LeftButton);
}

// The texts of the named line edits, buttons or labels, joined by spaces.
inline QString Texts(const QObject* parent, std::initializer_list<QString> names) {
  QStringList out;
  for (const QString& n : names) {
    if (auto* e = parent->findChild<QLineEdit*>(n))
      out << e->text();
    else if (auto* b = parent->findChild<QAbstractButton*>(n))
      out << b->text();
    else if (auto* l = Find<QLabel>(parent, n))
      out << l->text();
  }
  return out.join(" ");
}
inline QString Text(const QObject* parent, const QString& name) {
  return Texts(parent, {name});
}

// Saves a picture of w as NAME.png into ZK7_SCREENSHOT_DIR when it is set:
// the screenshots in docs/ come from these test runs.
// With popup (an open menu), the popup is drawn over w where it stands.
inline void Screenshot(QWidget* w, const QString& name, QWidget* popup = nullptr) {
  const QString dir = qEnvironmentVariable("ZK7_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QPixmap picture = w->grab();
  if (popup) {
    QPainter p(&picture);
    p.drawPixmap(popup->mapToGlobal(QPoint(0, 0)) - w->mapToGlobal(QPoint(0, 0)), popup->grab());
  }
  picture.save(dir + "/" + name + ".png");
}
