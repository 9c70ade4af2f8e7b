// The application's start-up as the benchmark times it: the same entry as
// zk7-programmer, with the splash closed at once, ending as soon as the main
// window is on the screen.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QWindow>

#include "shell/frmMain.h"
#include "shell/seam.h"
#include "shell/startup.h"
#include "shell/version.h"

namespace {

class AutoSeam : public Seam {
 public:
  void message(QWidget*, const QString&, const QString&, Icon) override {}
  QString openFileName(QWidget*, const QString&, const QString&, const QString&,
                       const QString&) override {
    return {};
  }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString&,
                       const QString&) override {
    return {};
  }
  int execModal(QDialog* d) override {
    d->show();
    QApplication::processEvents();
    d->hide();
    return QDialog::Accepted;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(VersionRecord::Title);
  AutoSeam seam;
  Seam::set(&seam);
  frmMain* w = StartApplication();
  QElapsedTimer t;
  t.start();
  while (!(w->windowHandle() && w->windowHandle()->isExposed()) && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  return 0;
}
