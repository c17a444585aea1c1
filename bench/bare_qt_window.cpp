// The peer of the start-up benchmark: a bare Qt program that shows an empty QMainWindow as the
// velmora program shows its main window (maximised) and prints the monotonic time of the window's
// first paint ("first-paint-ns N"), then ends.
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

namespace {

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !reported_) {
      reported_ = true;
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("first-paint-ns %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
      std::fflush(stdout);
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return false;
  }

 private:
  bool reported_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  FirstPaint report;
  window.installEventFilter(&report);
  window.setWindowTitle(QStringLiteral("Velmora"));
  window.resize(1024, 720);
  window.showMaximized();
  return app.exec();
}
