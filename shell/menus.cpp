// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menu bar and its Port submenu.
#include "shell/menus.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

#include "gui/app.h"
#include "gui/uitext.h"
#include "port/discovery.h"
#include "port/port.h"
#include "shell/blockdiagram.h"
#include "shell/frmMain.h"

std::vector<MenuSpec> frmMain::menuTable() {
  using F = MenuItem;
  const auto opens = [](int block) { return [block](frmMain& w) { w.openBlock(block); }; };
  const auto key = [](int n) { return QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + n)); };
  return {
      {"mnuFile",
       "&File",
       {
           {"mnuPort", "&Port", {}, nullptr, &frmMain::mnuPort, F::PortSubmenu},
           {"mnuLoad", "&Load Default...", QKeySequence::Open, &frmMain::loadDeviceFile,
            &frmMain::mnuLoad, F::SeparatorBefore | F::OpensWindow},
           {"mnuSave", "&Save Defaults...", QKeySequence::Save, &frmMain::saveDeviceFile,
            &frmMain::mnuSave, F::OpensWindow},
           {"mnuCreateHEX",
            "Export &HEX...",
            {},
            &frmMain::exportHex,
            &frmMain::mnuCreateHEX,
            F::OpensWindow},
           {"mnuImportHEX",
            "&Import HEX...",
            {},
            &frmMain::importHex,
            &frmMain::mnuImportHEX,
            F::OpensWindow},
           {"mnuCheckChip",
            "Check Chip Before Programming",
            {},
            nullptr,
            &frmMain::mnuCheckChip,
            F::SeparatorBefore | F::Checkable | F::Checked},
           {"mnuProduction",
            "P&roduction...",
            {},
            &frmMain::openProduction,
            &frmMain::mnuProduction,
            F::OpensWindow},
           {"mnuExit", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_Q), [](frmMain& w) { w.close(); },
            &frmMain::mnuExit, F::SeparatorBefore},
       }},
      {"mnuPeripherals",
       "&Peripherals",
       {
           {"mnuGPIO", "&GPIO...", key(1), opens(BlockDiagram::GPIO), &frmMain::mnuGPIO,
            F::OpensWindow, BlockDiagram::GPIO},
           {"mnuAtoD", "&A/D Converter...", key(2), opens(BlockDiagram::AtoD), &frmMain::mnuAtoD,
            F::OpensWindow, BlockDiagram::AtoD},
           {"mnuPWM1", "PWM&1...", key(3), opens(BlockDiagram::PWM1), &frmMain::mnuPWM1,
            F::OpensWindow, BlockDiagram::PWM1},
           {"mnuPWM2", "PWM&2...", key(4), opens(BlockDiagram::PWM2), &frmMain::mnuPWM2,
            F::OpensWindow, BlockDiagram::PWM2},
           {"mnuCAN", "&CAN...", key(5), opens(BlockDiagram::CAN), &frmMain::mnuCAN, F::OpensWindow,
            BlockDiagram::CAN},
           {"mnuSTCON", "&Scheduled TX...", key(6), &frmMain::stconClicked, &frmMain::mnuSTCON,
            F::OpensWindow},
           {"mnuUserReg", "&User Memory...", key(7), opens(BlockDiagram::UserMemory),
            &frmMain::mnuUserReg, F::OpensWindow, BlockDiagram::UserMemory},
       }},
      {"mnuDevice",
       "&Device",
       {
           {"mnuProgram", "&Program Device", QKeySequence(Qt::CTRL | Qt::Key_P),
            &frmMain::programDevice, &frmMain::mnuProgram, F::OpensWindow},
           {"mnuReadDevice", "&Read Device...", QKeySequence(Qt::CTRL | Qt::Key_R),
            &frmMain::readDevice, &frmMain::mnuReadDevice, F::OpensWindow},
       }},
      {"mnuHelp",
       "&Help",
       {
           {"mnuAbout", "&About", QKeySequence::HelpContents, &frmMain::showAbout,
            &frmMain::mnuAbout, F::OpensWindow},
       }},
  };
}

void frmMain::buildMenus() {
  for (const MenuSpec& row : menuTable()) {
    QMenu* menu = menuBar()->addMenu(row.caption);
    menu->setObjectName(row.name);
    for (const MenuItem& item : row.items) {
      if (item.flags & MenuItem::SeparatorBefore) menu->addSeparator();
      QAction* a = nullptr;
      if (item.flags & MenuItem::PortSubmenu) {
        a = buildPortMenu(menu, item.caption)->menuAction();
      } else {
        a = menu->addAction(item.caption);
        if (item.run) connect(a, &QAction::triggered, this, [this, run = item.run] { run(*this); });
      }
      a->setObjectName(item.name);
      a->setShortcut(item.shortcut);
      a->setCheckable(item.flags & MenuItem::Checkable);
      a->setChecked(item.flags & MenuItem::Checked);
      if (item.block >= 0) a->setProperty("block", item.block);
      if (item.flags & MenuItem::OpensWindow) windowOpeners_.push_back(a);
      if (item.action) this->*item.action = a;
    }
  }
}

void frmMain::updateWindowOpeners() {
  for (QAction* a : windowOpeners_) {
    const QVariant block = a->property("block");
    a->setEnabled(!flowRunning_ && (!block.isValid() || picBlkDgm->blockEnabled(block.toInt())));
  }
}

QMenu* frmMain::buildPortMenu(QMenu* file, const char* caption) {
  QMenu* port = file->addMenu(caption);
  port->setObjectName("mnuPortMenu");
  portMenu_ = port;
  portGroup_ = new QActionGroup(this);
  portGroup_->setExclusive(true);
  auto addPort = [&](const char* name, const char* text, std::uint16_t base) {
    QAction* a = port->addAction(text);
    a->setObjectName(name);
    a->setCheckable(true);
    a->setData(base);
    portGroup_->addAction(a);
    connect(a, &QAction::triggered, this, [this, base] { choosePort(base); });
    return a;
  };
  p278 = addPort("p278", "278", 0x278);
  p378 = addPort("p378", "378", 0x378);
  p3BC = addPort("p3BC", "3BC", 0x3BC);
  p378->setChecked(true);
  portSeparator_ = port->addSeparator();
  portSeparator_->setVisible(false);
  // Ports can come and go (USB adapters): the list is made when the menu
  // opens, each time, and not before (looking costs start-up time).
  connect(port, &QMenu::aboutToShow, this, [this] {
    refreshPortItems();
    checkPortItem();
  });
  return port;
}

void frmMain::refreshPortItems() {
  for (QAction* a : pDiscovered) delete a;
  pDiscovered.clear();
  for (const zk7::PortCandidate& c : zk7::DiscoverPorts(App().port.system())) {
    std::uint16_t base = 0;
    zk7::PortChoice parsed;
    std::string error;
    if (!zk7::ParsePortChoice(c.portText, parsed, base, error)) continue;
    if (base == 0x278 || base == 0x378 || base == 0x3BC) continue;  // the three items above
    QAction* a = portMenu_->addAction(Q(c.caption));
    QString name = "p";
    for (QChar ch : Q(c.portText.rfind("0x", 0) == 0 ? c.portText.substr(2) : c.portText))
      if (ch.isLetterOrNumber()) name += ch;
    a->setObjectName(name);
    a->setCheckable(true);
    a->setData(base);  // 0 for a device whose base the kernel does not list
    a->setEnabled(!flowRunning_);
    portGroup_->addAction(a);
    const std::string text = c.portText;
    a->setProperty("portText", Q(text));
    connect(a, &QAction::triggered, this, [this, text] { choosePortText(text); });
    pDiscovered.push_back(a);
  }
  portSeparator_->setVisible(!pDiscovered.empty());
}

void frmMain::checkPortItem() {
  // The one item of the port really driven: its base, else its device.
  const zk7::Port& port = App().port;
  QAction* match = nullptr;
  for (QAction* a : portGroup_->actions())
    if (a->data().toUInt() == port.base()) match = a;
  if (port.choice().kind == zk7::PortChoice::Device)
    for (QAction* a : pDiscovered)
      if (a->data().toUInt() == 0 && a->text() == Q(port.choice().device)) match = a;
  if (port.choice().kind == zk7::PortChoice::Ftdi) {
    // A USB adapter has no address: only its own item may carry the mark.
    match = nullptr;
    for (QAction* a : pDiscovered)
      if (a->property("portText").toString() == Q("ftdi:" + port.choice().usb)) match = a;
  }
  if (match) match->setChecked(true);
}
