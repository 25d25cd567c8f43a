// The yardstick for the window's start: a bare Qt main window of the same
// size, shown, and the same figures `tarvik --measure` prints at its first
// paint (time since the process started, processor time, resident memory).
#include "process_figures.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>

namespace {
class tFirstPaint : public QObject {
  public:
    explicit tFirstPaint(QMainWindow &w) : QObject(&w), window(w) { w.installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            window.removeEventFilter(this);
            QTimer::singleShot(0, &window, [this] {
                std::printf("startup to window shown: %.0f ms\n", MsSinceProcessStart());
                std::printf("processor time to window shown: %.0f ms\n", ProcessCpuMs());
                std::printf("resident memory before connecting: %.1f MB\n", ResidentKb() / 1024.0);
                std::fflush(stdout);
                window.close();
            });
        }
        return false;
    }

  private:
    QMainWindow &window;
};
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare"));
    window.setFixedSize(915, 451);
    new tFirstPaint(window);
    window.show();
    return app.exec();
}
