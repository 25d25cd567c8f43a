// Links the session library alone, so the build can check that it needs no
// window: a session whose driver never opens a port.
#include "session.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    tSession session;
    return session.Connected() ? 1 : 0;
}
