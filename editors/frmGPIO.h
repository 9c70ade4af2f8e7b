// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The GPIO editor: function, direction, latch, change detection and pull-ups
// of the pins GP0..GP7, and the clock output prescaler.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QGroupBox>
#include <QIcon>
#include <QRadioButton>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <array>

#include "gui/windows.h"
#include "model/gpio.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Pieces the GPIO and A/D windows share.
namespace editor_ui {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kMagenta(255, 0, 255);

// A check box or option button that answers a click anywhere on its
// coloured area, not only on its mark and caption.
class ColourBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};
class ColourOption : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// Paints a control's background (check boxes, option buttons).
void SetBackColour(QWidget* w, const QColor& c);
QColor BackColour(const QWidget* w);
// The picture of a graphical polarity box: a rising edge when checked, a
// falling edge when not, drawn in the text colour of the box `on`.
QIcon PolarityIcon(bool checked, const QWidget* on);
// The "Close" (cmdOK) and "Cancel" (cmdCancel) buttons of an editor: both
// only hide the window, every change having been stored already.
void MakeCloseButtons(QDialog* w, QPushButton*& ok, QPushButton*& cancel);
// Green "ON" / red "OFF" box.
void ShowOnOff(QCheckBox* box, const QString& on, const QString& off);

// A register display: read-only boxes copied from a hidden template box and
// label (index 0), the register's name above each box. The k-th copy of a
// row sits at a left edge of k x 1.2 x the template width; rowSizes gives how
// many boxes each row holds, the rows one below the other.
class RegisterDisplay : public QGroupBox {
 public:
  RegisterDisplay(const QString& title, const QString& boxName, const QStringList& names,
                  const QVector<int>& rowSizes, QWidget* parent = nullptr);
  QLineEdit* box(int i) const { return boxes_.at(i); }  // 0 = template
  QLabel* label(int i) const { return labels_.at(i); }  // 0 = template
  void setValue(int i, unsigned byte);

 private:
  QVector<QLineEdit*> boxes_;
  QVector<QLabel*> labels_;
};

}  // namespace editor_ui

// A straight line of a drawing, its ends in twips (1/1440 inch, 15 to a pixel).
class LineShape : public QObject {
  Q_OBJECT
 public:
  LineShape(int x1, int y1, int x2, int y2, QObject* parent);
  int x1() const { return x1_; }
  int y1() const { return y1_; }
  int x2() const { return x2_; }
  int y2() const { return y2_; }
  void setEnd(int x2, int y2);

 signals:
  void moved();

 private:
  int x1_, y1_, x2_, y2_;
};

class frmGPIO : public EditorWindow {
  Q_OBJECT
 public:
  explicit frmGPIO(QWidget* parent = nullptr);

  void showRegisterSet() override;
  void deviceVariantChanged(bool zk7b) override;
  // Rewrites the register boxes and the configuration word label.
  void RefreshGPIODisp();

  // Controls (public so the shell and tests reach them as the user does).
  std::array<QCheckBox*, 8> chkPinDir{};
  std::array<QRadioButton*, 8> optPinFunc0{}, optPinFunc1{}, optPinFunc2{};  // nullptr: not offered
  std::array<QCheckBox*, 7> chkGPLAT{};
  std::array<QCheckBox*, 8> chkTXonCng{};
  std::array<QCheckBox*, 8> chkPolarity{};
  QCheckBox* chkPullup = nullptr;
  LineShape* Connector = nullptr;
  QComboBox* cmbCLKPre = nullptr;
  editor_ui::RegisterDisplay* registers = nullptr;
  QLineEdit* txtGPIO(int i) const { return registers->box(i); }
  QLabel* lblAddr(int i) const { return registers->label(i); }
  QLabel* lblConfigWord = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdCancel = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QRadioButton* option(int pin, zk7::PinFunc f) const;
  QWidget* buildPins();
  QWidget* buildPullup();
  // Sets every control from the register set with its visible consequences
  // (colours, captions, enabled states); writes nothing.
  void showControls();
  // After a user change: show the result and rewrite the register display.
  void changed();
  void showConfigWord();

  std::array<QButtonGroup*, 8> funcGroup_{};
};
