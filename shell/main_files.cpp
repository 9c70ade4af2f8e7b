// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's file commands: Load Default, Save Defaults, Export HEX,
// Import HEX, a file named on the command line, and the note on a copy an
// interrupted write left beside a file.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

#include "files/atomicfile.h"
#include "files/configfile.h"
#include "files/devicefile.h"
#include "files/intelhex.h"
#include "gui/app.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "gui/uitext.h"
#include "shell/frmMain.h"
#include "shell/version.h"

void frmMain::loadDeviceFile() {
  const QString path = Seam::instance().openFileName(this, "Load Default...", "Device File (*.dvs)",
                                                     "dvs", dialogPath_);
  if (path.isEmpty()) return;
  loadDeviceFileFrom(path);
}

void frmMain::loadDeviceFileFrom(const QString& path) {
  dialogPath_ = path;
  // The whole file is read and checked before anything is taken over, so a
  // bad file leaves the configuration as it was.
  zk7::DeviceFileContents contents;
  std::string error;
  if (!zk7::ReadDeviceFile(QFile::encodeName(path).toStdString(), contents, error,
                           LocaleDecimalPoint())) {
    Seam::instance().message(this, "Error Loading FIle", "Error! \r\n" + Q(error),
                             Seam::Icon::Critical);
    return;
  }
  if (contents.oldVersion)
    Seam::instance().message(this, "FILE OLD VERSION",
                             "File is old version...\r\nFosc frequency was not loaded\r\n"
                             "Re-saving will update file with Fosc frequency",
                             Seam::Icon::None);
  takeOverFile(contents.registers, contents.oldVersion ? nullptr : &contents.foscHz, path);
  sayInterruptedWrite(path);
}

void frmMain::takeOverFile(const zk7::RegisterSet& registers, const double* foscHz,
                           const QString& path) {
  FinishLoadRefresh();  // the editors are made from the register set as the load left it
  App().regs = registers;
  if (foscHz) App().Fosc = *foscHz;
  zk7::BuildMemoryImage(App().regs, App().image);
  RefreshAll();
  showFilePath(path);
}

void frmMain::showFilePath(const QString& path) {
  statusPath->setText(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

void frmMain::saveDeviceFile() {
  // A frequency typed but not yet taken (the menu took no focus from the box)
  // is taken now: the file holds the box's text, which must load as Fosc.
  if (txtFosc->isModified()) commitFosc();
  zk7::BuildMemoryImage(App().regs, App().image);
  const QString path = Seam::instance().saveFileName(this, "Save File as...", "Device File (*.dvs)",
                                                     "dvs", dialogPath_);
  if (path.isEmpty()) return;
  dialogPath_ = path;
  std::string error;
  if (!zk7::WriteDeviceFile(QFile::encodeName(path).toStdString(), App().image,
                            App().regs.ConfigWord(), txtFosc->text().toStdString(), error)) {
    Seam::instance().message(this, "Error Saving File", "Error! \r\n" + Q(error),
                             Seam::Icon::Critical);
    return;
  }
  showFilePath(path);  // the file the configuration now lives in
  sayInterruptedWrite(path);
}

void frmMain::sayInterruptedWrite(const QString& path) {
  // A copy an earlier write in place left beside the file when it was
  // interrupted holds what the file had before: say where it is.
  QString note = Q(zk7::InterruptedWriteNote(QFile::encodeName(path).toStdString()));
  if (note.isEmpty()) return;
  note[0] = note[0].toUpper();
  Seam::instance().message(this, VersionRecord::Title, note + ".", Seam::Icon::Warning);
}

void frmMain::exportHex() {
  zk7::BuildMemoryImage(App().regs, App().image);
  const QString path = Seam::instance().saveFileName(this, "Export HEX File as...",
                                                     "HEX File (*.hex)", "hex", dialogPath_);
  if (path.isEmpty()) return;
  dialogPath_ = path;
  std::string error;
  if (!zk7::WriteIntelHexFile(QFile::encodeName(path).toStdString(), App().image.ProgramImage,
                              App().regs.ConfigWord(), error))
    Seam::instance().message(this, VersionRecord::Title, "File Error: " + Q(error),
                             Seam::Icon::None);
  else
    sayInterruptedWrite(path);
}

void frmMain::importHex() {
  const QString path = Seam::instance().openFileName(this, "Import HEX File...", "HEX File (*.hex)",
                                                     "hex", dialogPath_);
  if (path.isEmpty()) return;
  importHexFrom(path);
}

void frmMain::importHexFrom(const QString& path) {
  dialogPath_ = path;
  zk7::ConfigurationFile file;
  std::string error;
  if (!zk7::ReadIntelHexConfiguration(QFile::encodeName(path).toStdString(), file, error)) {
    Seam::instance().message(this, "Error Importing HEX File", Q(error), Seam::Icon::Critical);
    return;
  }
  if (file.configWordDefaulted)
    Seam::instance().message(this, VersionRecord::Title, zk7::ConfigWordDefaultedNote(),
                             Seam::Icon::None);
  takeOverFile(file.registers, nullptr, path);  // HEX carries no frequency
  // The image build recomputed the checksum word: say so, naming both words.
  if (QString note = Q(zk7::ChecksumNote(file)); !note.isEmpty()) {
    note[0] = note[0].toUpper();
    Seam::instance().message(this, VersionRecord::Title, note + ".", Seam::Icon::None);
  }
  sayInterruptedWrite(path);
}

void frmMain::openFile(const QString& path) {
  // Told apart by content, as the command line does: a first character ':'
  // (after blanks) is HEX; anything else, a missing file or a pipe too, is
  // read as a device file and says what is wrong with it.
  QFile file(path);
  const QByteArray start =
      QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
  if (zk7::LooksLikeIntelHex(std::string_view(start.constData(), start.size())))
    importHexFrom(path);
  else
    loadDeviceFileFrom(path);
}
