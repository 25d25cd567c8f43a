// The yardstick for the window's start: a bare Qt main window of the same
// size, shown, and the same figures `tarvik --measure` prints at its first
// paint (time since the process started, processor time, resident memory).
#include "process_figures.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {
// As the window's own measurement takes it: from the kernel's record of the
// process's start.
double MsSinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6 -
           startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

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
