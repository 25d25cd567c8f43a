// Links the session library alone, so the build can check that it needs no
// window: a session on a driver that never opens a port.
#include "session.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    tOndrel dev;
    tSession session(dev);
    return session.Connected() ? 1 : 0;
}
