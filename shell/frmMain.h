// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: block diagram, device / oscillator / frequency frame,
// file and programming commands, port menu and status bar. Its definitions
// are spread over shell/frmMain.cpp and the shell/main_*.cpp files, one job each.
#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gui/windows.h"
#include "model/registers.h"

class BlockDiagram;
class QAction;
class QActionGroup;
class QBoxLayout;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
struct MenuSpec;

// Where a window of rectangle win goes inside the work area: a window wider
// than the work area takes its left edge and width, then one taller takes
// its top edge and height; a window that fits stays where it is. With the
// window frame's margins around win, the frame is what must fit, so the
// title bar stays on screen; the result is still the inner rectangle.
QRect FitIntoWorkArea(QRect win, QRect workArea, QMargins frame = QMargins());

class frmMain : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kPinCount = 14;
  // Pin names in package order, pin 1 first.
  static const std::array<const char*, kPinCount>& pinNames();

  // Constructing the window is its load: fit, port, check, Fosc, layout,
  // start-up read, summary refresh.
  explicit frmMain(QWidget* parent = nullptr);
  ~frmMain() override;

  bool isZK7B() const;
  // The work done each time the window becomes active again after one of
  // its modal windows closed: marks, then the summary refresh.
  void activated();
  // Shows one of our windows modally, then runs the activation work.
  void openModal(QDialog* dialog);
  // Opens the editor of a diagram block; nothing when that editor does not exist.
  void openBlock(int block);
  // True from the start of a Program Device run to the end of its result display.
  bool flowRunning() const { return flowRunning_; }
  // The path last chosen in the file dialog (its initial path next time).
  const QString& dialogPath() const { return dialogPath_; }

  // Commands (also reached through the controls). choosePort selects the port
  // at base through its own device (the emulated chip stays where chosen);
  // choosePortText selects a discovered port by its --port text.
  void choosePort(std::uint16_t base);
  void choosePortText(const std::string& portText);
  void loadDeviceFile();
  void saveDeviceFile();
  void exportHex();
  // Reads an Intel HEX file, all or nothing, and takes it over as a device-file load does.
  void importHex();
  // A file named on the command line: a device file loads as Load Default
  // loads it, a HEX file imports as Import HEX does (told apart by content).
  void openFile(const QString& path);
  void programDevice();
  void readDevice();
  // Opens the production window over this one (application modal), set up
  // from the configuration in memory and the port in use.
  void openProduction();
  void showAbout();
  // After a read of the chip: when every image word (and configWord, when
  // given) read 0000 or 3FFF, the status bar says that no chip answered;
  // otherwise it says nothing.
  void showChipAnswer(std::optional<std::uint16_t> configWord);
  // Fits the window into this work area (the screen's at load and when first
  // active), its frame included (before it is framed, a title bar's height).
  void fitIntoWorkArea(const QRect& workArea);

  // Controls, named as the window's design names them.
  BlockDiagram* picBlkDgm = nullptr;
  QFrame* Frame1 = nullptr;
  QPushButton* cmdDevice = nullptr;
  QLabel* Label1 = nullptr;
  std::array<QRadioButton*, 3> optXTAL{};
  QLabel* lblFosc = nullptr;
  QLineEdit* txtFosc = nullptr;
  QLabel* lblkHz = nullptr;
  QFrame* Line1 = nullptr;
  QLabel* lblConfigWord = nullptr;
  QLabel* lblAtoDMask = nullptr;
  QPushButton* cmdProgram = nullptr;
  QPushButton* cmdReadDevice = nullptr;
  QPushButton* cmdSTCON = nullptr;
  QLabel* lblTestStatus = nullptr;
  std::array<QLabel*, kPinCount + 1> lblPinName{};  // 0 is the hidden template
  std::array<QFrame*, kPinCount + 1> shpPin{};      // 0 is the hidden template
  QProgressBar* Progress = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* statusPath = nullptr;  // first panel: path of the last loaded device file
  QLabel* statusPort = nullptr;  // second panel: the port and its driver
  QAction* mnuPort = nullptr;
  QAction* p278 = nullptr;
  QAction* p378 = nullptr;
  QAction* p3BC = nullptr;
  // Below a separator, one item per discovered port not at 278, 378 or 3BC,
  // "D010 (/dev/parport1)", objectName "pD010"; rebuilt when the menu opens.
  std::vector<QAction*> pDiscovered;
  QAction* mnuLoad = nullptr;
  QAction* mnuSave = nullptr;
  QAction* mnuCreateHEX = nullptr;
  QAction* mnuImportHEX = nullptr;
  // Checked (at every start): Program Device reads the chip first and refuses
  // one that cannot take the image.
  QAction* mnuCheckChip = nullptr;
  QAction* mnuProduction = nullptr;
  QAction* mnuExit = nullptr;
  // Peripherals: each opens what its diagram block or button opens (Ctrl+1..7).
  QAction* mnuGPIO = nullptr;
  QAction* mnuAtoD = nullptr;
  QAction* mnuPWM1 = nullptr;
  QAction* mnuPWM2 = nullptr;
  QAction* mnuCAN = nullptr;
  QAction* mnuSTCON = nullptr;
  QAction* mnuUserReg = nullptr;
  // Device: what the buttons below the diagram do (Ctrl+P, Ctrl+R).
  QAction* mnuProgram = nullptr;
  QAction* mnuReadDevice = nullptr;
  QAction* mnuAbout = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The menus, one table row per item, and the Port submenu (shell/menus.cpp).
  static std::vector<MenuSpec> menuTable();
  void buildMenus();
  QMenu* buildPortMenu(QMenu* file, const char* caption);
  // Items that open a window are refused while a flow runs; a Peripherals
  // item also while its diagram block is masked.
  void updateWindowOpeners();
  void refreshPortItems();
  void checkPortItem();

  void buildControls();
  void fitIntoWorkArea();

  // The picture with what stands on it, the pin templates and Scheduled TX,
  // all on content; the 14 pins once, during the load (shell/main_diagram.cpp).
  void buildDiagram(QWidget* content);
  void layOutPins();
  void stconClicked();

  // The device frame, the configuration word and the A/D mask on the picture
  // (shell/main_device.cpp).
  void buildDeviceControls();
  void showRegisterSection();
  void oscillatorChosen(int index);
  void toggleDevice();
  void commitFosc();

  // The result label, the progress bar and the run buttons, into row (shell/main_run.cpp).
  void buildRunControls(QBoxLayout* row);
  void setFlowRunning(bool running);
  void showResult(int status);

  // The port (shell/main_port.cpp).
  // A port no driver reaches (tried once more first) is said, with the fix,
  // and the caller runs nothing: no chip result without a port.
  bool portReachable();
  void portCheck();
  void selectPort(std::uint16_t base);
  void updatePortStatus();
  // Says once per port what puts a chip at risk on it (the printer driver lp
  // sharing it), as zk7prog warns at each run.
  void warnOfPortRisk();

  // The file commands (shell/main_files.cpp).
  void loadDeviceFileFrom(const QString& path);
  void sayInterruptedWrite(const QString& path);
  void importHexFrom(const QString& path);
  // Takes a loaded file's configuration over (and its frequency, when it has
  // one), rebuilds the image, refreshes every window and shows the file's path.
  void takeOverFile(const zk7::RegisterSet& registers, const double* foscHz, const QString& path);
  // The status bar's first panel: the device file the configuration came from or went to.
  void showFilePath(const QString& path);

  QMenu* portMenu_ = nullptr;
  QActionGroup* portGroup_ = nullptr;
  QAction* portSeparator_ = nullptr;
  QString dialogPath_;
  bool flowRunning_ = false;
  bool closePending_ = false;
  bool committingFosc_ = false;
  std::set<std::string> accessProblemsSaid_;
  std::set<std::string> portRisksSaid_;
  std::vector<QAction*> windowOpeners_;
  bool frameFitted_ = false;
  QWidget* focusBeforeRun_ = nullptr;  // a control of this window, disabled during a run
};

// The main window while it exists, otherwise nullptr.
frmMain* MainWindow();
