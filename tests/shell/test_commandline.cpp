// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's command line: options, the file to start with, and what needs no display.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <tuple>

#include "files/devicefile.h"
#include "files/intelhex.h"
#include "shell/commandline.h"
#include "shell/frmSplash.h"
#include "shell/startup.h"
#include "tests/shell/shell_fixture.h"
#include "zk7_version.h"

TEST(WindowCommandLineTest, TakesOneFileAndRefusesWhatItDoesNotKnow) {
  // Arguments after the program name; the file, or "!" for an error.
  const std::pair<QStringList, QString> cases[] = {
      {{}, ""},
      {{"node.dvs"}, "node.dvs"},
      {{"--", "--help"}, "--help"},
      {{"-x"}, "!"},
      {{"--bogus"}, "!"},
      {{"a.dvs", "b.hex"}, "!"},
      // A station: --port, --serial and --log go with --production, which needs --port.
      {{"--production", "--port", "378"}, ""},
      {{"--production", "--port", "378", "missing.dvs"}, "!"},
      {{"--production"}, "!"},
      {{"--port", "378"}, "!"}};
  for (const auto& [args, file] : cases) {
    WindowCommandLine line;
    QString error;
    const bool ok = line.parse(QStringList{"zk7-programmer"} + args, error);
    EXPECT_EQ(ok ? line.file() : "!", file) << args.join(" ").toStdString();
    EXPECT_EQ(error.isEmpty(), ok);
  }
}

// Run as a user runs it: --help, --version and a mistake need no display; Qt's own options are left
// to Qt, anything else is refused with status 2; the help and the manual list every option.
TEST(WindowCommandLineTest, HelpAndVersionNeedNoDisplayAndUnknownOptionsAreErrors) {
  const auto run = [](const QStringList& args, const char* platform) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    if (platform) env.insert("QT_QPA_PLATFORM", platform);
    p.setProcessEnvironment(env);
    p.start(ZK7_PROGRAMMER_BIN, args);
    EXPECT_TRUE(p.waitForFinished(20000));
    return std::tuple{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                      QString(p.readAllStandardOutput()), QString(p.readAllStandardError())};
  };
  // This file's path as the compiler saw it: absolute, or relative to the build folder.
  QFile manual(QDir(QCoreApplication::applicationDirPath())
                   .filePath(QFileInfo(__FILE__).dir().filePath("../../data/zk7-programmer.1")));
  ASSERT_TRUE(manual.open(QIODevice::ReadOnly));
  const QString man = manual.readAll();
  const auto [helpCode, help, helpErr] = run({"--help"}, nullptr);
  EXPECT_EQ(helpCode, 0) << helpErr.toStdString();
  EXPECT_TRUE(help.startsWith("Usage: zk7-programmer [options] [FILE]"));
  for (const WindowOption& o : WindowOptions())
    for (const QString& name : o.names) {
      QString dashes = name.size() == 1 ? "-" : "--";
      EXPECT_TRUE(help.contains(dashes + name)) << name.toStdString();
      EXPECT_TRUE(man.contains(QString(dashes).replace("-", "\\-") + name)) << name.toStdString();
    }
  EXPECT_EQ(run({"--version"}, nullptr),
            std::tuple(0, QString("zk7-programmer 1.1.0\n" ZK7_VERSION_NOTICE), QString()));
  const auto [code, out, err] = run({"-style", "Fusion", "--bogus", "node.dvs"}, nullptr);
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(out.isEmpty());
  EXPECT_TRUE(err.contains("Unknown option 'bogus'")) << err.toStdString();
  EXPECT_FALSE(err.contains("style")) << err.toStdString();
  // A station's serial rule is read with the options: its mistake is a usage error too.
  EXPECT_EQ(
      run({"--production", "--port", "emulator", "--serial", "TXID0=std:100..ext:1FF", "--log",
           "station.csv"},
          nullptr),
      std::tuple(2, QString(),
                 QString("zk7-programmer: --serial: TXID0: the range's end ext:1FF is of "
                         "another type than its start std:100\nTry 'zk7-programmer --help'.\n")));
}

// A file named on the command line is loaded as Load Default or Import HEX loads it.
TEST_F(ShellTest, AFileGivenAtTheStartIsLoadedAsTheMenusLoadIt) {
  zk7::RegisterSet rs = regs();
  rs.set(zk7::CNF1, 0x23);
  zk7::MemoryImage image;
  zk7::BuildMemoryImage(rs, image);
  std::string error;
  const QString hex = dir.filePath("node.hex"), dvs = dir.filePath("node.dvs");
  ASSERT_TRUE(zk7::WriteIntelHexFile(hex.toStdString(), image.ProgramImage, 1, error));
  ASSERT_TRUE(zk7::WriteDeviceFile(dvs.toStdString(), image, 5, "3686.4", error));
  testSeam().onModal = [](QDialog* d) {
    if (auto* splash = qobject_cast<frmSplash*>(d)) splash->accept();
    return 0;
  };
  // File, CNF1 then, ConfigWord, Fosc, message title (empty: none).
  const std::tuple<QString, int, int, double, QString> cases[] = {
      {dvs, 0x23, 5, 3686400, ""},
      {hex, 0x23, 1, 4000000, ""},
      {dir.filePath("missing.dvs"), 0x00, 7, 4000000, "Error Loading FIle"}};
  for (const auto& [file, cnf1, word, fosc, title] : cases) {
    testSeam().messages.clear();
    main.reset(StartApplication(file));
    main->setAttribute(Qt::WA_DeleteOnClose, false);
    EXPECT_EQ(regs()[zk7::CNF1], cnf1) << file.toStdString();
    EXPECT_EQ(regs().ConfigWord(), word) << file.toStdString();
    EXPECT_EQ(App().Fosc, fosc) << file.toStdString();
    EXPECT_EQ(main->statusPath->text(), title.isEmpty() ? QDir::toNativeSeparators(file) : "");
    EXPECT_EQ(testSeam().messages.empty() ? QString() : testSeam().messages[0].title, title);
  }
}
