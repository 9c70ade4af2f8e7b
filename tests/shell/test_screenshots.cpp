// Renders the main window, the splash and the About window into the folder
// named by ZK7_SCREENSHOT_DIR (skipped when it is not set).
#include <QDir>

#include "shell/blockdiagram.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"
#include "tests/shell/shell_fixture.h"

TEST_F(ShellTest, Screenshots) {
  const QString dir = qEnvironmentVariable("ZK7_SCREENSHOT_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "ZK7_SCREENSHOT_DIR not set";
  QDir().mkpath(dir);
  createMain();
  main->resize(797, 660);
  main->lblTestStatus->setText("PASSED");
  QPalette pal = main->lblTestStatus->palette();
  pal.setColor(QPalette::WindowText, QColor(0, 190, 0));
  main->lblTestStatus->setPalette(pal);
  main->picBlkDgm->setVisited(3);
  main->picBlkDgm->redrawMarks();
  QApplication::processEvents();
  EXPECT_TRUE(main->grab().save(dir + "/main.png"));
  frmSplash splash;
  splash.show();
  QApplication::processEvents();
  EXPECT_TRUE(splash.grab().save(dir + "/splash.png"));
  frmAbout about;
  about.show();
  QApplication::processEvents();
  EXPECT_TRUE(about.grab().save(dir + "/about.png"));
}
