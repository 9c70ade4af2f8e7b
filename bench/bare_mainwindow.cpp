// The comparison for the start-up benchmark: a bare QMainWindow, shown, and
// the process ends as soon as the window is on the screen.
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow w;
  w.resize(795, 624);
  w.show();
  QElapsedTimer t;
  t.start();
  while (!(w.windowHandle() && w.windowHandle()->isExposed()) && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  return 0;
}
