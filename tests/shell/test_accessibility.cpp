// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds in every window: each control a person can
// reach has a name, and no two controls of one window share a name.
#include <QAccessible>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QStringList>
#include <algorithm>
#include <utility>
#include <vector>

#include "can/frmBitTiming.h"
#include "can/frmFilters.h"
#include "shell/accessible.h"
#include "shell/blockdiagram.h"
#include "shell/frmAbout.h"
#include "shell/frmProduction.h"
#include "shell/frmSplash.h"
#include "tests/shell/shell_fixture.h"

namespace {

bool Interactive(QAccessible::Role role) {
  switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
    case QAccessible::Table:
    case QAccessible::List:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
      return true;
    default:
      return false;
  }
}

// "window: problem" lines for the interactive controls under iface.
void Walk(QAccessibleInterface* iface, const QString& window, QMap<QString, int>& names,
          QStringList& problems) {
  if (!iface || iface->state().invisible) return;
  if (Interactive(iface->role())) {
    const QString name = iface->text(QAccessible::Name).trimmed();
    const QObject* o = iface->object();
    const QString id = o ? o->objectName() : QString();
    if (name.isEmpty())
      problems << window + ": " + (id.isEmpty() ? o->metaObject()->className() : id) +
                      " has no name";
    else if (names[name]++ == 1)
      problems << window + ": \"" + name + "\" names two controls (" + id + ")";
  }
  for (int i = 0; i < iface->childCount(); ++i) Walk(iface->child(i), window, names, problems);
}

// Focus and alert events a screen reader got: the event and the name of what it was about.
std::vector<std::pair<QAccessible::Event, QString>>& Said() {
  static std::vector<std::pair<QAccessible::Event, QString>> said;
  return said;
}

QStringList Problems(QWidget* w) {
  const bool wasVisible = w->isVisible();
  w->show();
  QApplication::processEvents();
  QMap<QString, int> names;
  QStringList problems;
  Walk(QAccessible::queryAccessibleInterface(w), w->objectName(), names, problems);
  if (!wasVisible) w->hide();
  return problems;
}

}  // namespace

TEST_F(ShellTest, EveryControlOfEveryWindowHasItsOwnName) {
  createMain();
  QStringList problems = Problems(main.get());
  for (WindowId id : {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1, WindowId::PWM2,
                      WindowId::PWMSlider, WindowId::DCSlider, WindowId::STCON, WindowId::UserReg,
                      WindowId::MemoryMap})
    problems << Problems(Windows::instance().get(id));
  frmBitTiming bitTiming;
  frmFilters filters;
  frmSplash splash;
  frmAbout about;
  frmProduction production(frmProduction::Mode::FromMenu, StationSettings{});
  for (QWidget* w :
       std::initializer_list<QWidget*>{&bitTiming, &filters, &splash, &about, &production})
    problems << Problems(w);
  EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems:\n"
                                  << problems.join("\n").toStdString();
}

// What changes reaches a screen reader: the diagram's blocks are buttons, and moving the frame
// says which editor Enter opens; the station is a window whose result is announced, and the
// focus waits on the result during a chip rather than falling into the details.
TEST_F(ShellTest, TheDiagramsBlocksAndTheStationsResultReachAScreenReader) {
  RecordAnnouncements(
      [](QAccessible::Event e, const QString& name) { Said().emplace_back(e, name); });
  createMain();
  QAccessibleInterface* diagram = QAccessible::queryAccessibleInterface(main->picBlkDgm);
  QStringList blocks;
  for (int i = 0; i < diagram->childCount(); ++i)
    if (diagram->child(i)->role() == QAccessible::Button)
      blocks << diagram->child(i)->text(QAccessible::Name);
  EXPECT_EQ(blocks.join(", "),
            "PWM1 editor, PWM2 editor, A/D converter editor, CAN editor, "
            "GPIO editor, User memory editor");
  main->cmdReadDevice->setFocus(Qt::TabFocusReason);
  Said().clear();
  QTest::keyClick(main->cmdReadDevice, Qt::Key_Tab);
  QTest::keyClick(main->picBlkDgm, Qt::Key_Down);
  ASSERT_FALSE(Said().empty());
  EXPECT_EQ(Said().back(), std::make_pair(QAccessible::Focus, QString("CAN editor")));
  EXPECT_TRUE(diagram->child(BlockDiagram::CAN)->state().focused);

  frmProduction station(frmProduction::Mode::Station, StationSettings{});
  station.show();
  station.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&station));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&station)->role(), QAccessible::Window);
  QString focusDuringChip;
  onWait = [&](int) {
    if (QWidget* f = station.focusWidget()) focusDuringChip = f->accessibleName();
  };
  Said().clear();
  QTest::keyClick(station.cmdProgramNext, Qt::Key_Return);
  EXPECT_EQ(focusDuringChip, "Result");
  EXPECT_EQ(station.lblResult->text(), "PASSED");
  EXPECT_NE(std::find(Said().begin(), Said().end(),
                      std::make_pair(QAccessible::Alert, QString("PASSED"))),
            Said().end());
  EXPECT_TRUE(station.cmdProgramNext->hasFocus()) << "back on the button";
  RecordAnnouncements(nullptr);
}
