#include "session.h"

#include <QTimer>

#include <utility>

tSession::tSession(tOndrel &dev_, QObject *parent)
    : QObject(parent), dev(dev_), timer(new QTimer(this)) {
    timer->setObjectName(QStringLiteral("timerProcess"));
    timer->setInterval(1000);
    dev.AddObserver(this);
}

tSession::~tSession() {
    dev.RemoveObserver(this);
}

int32_t tSession::Open(const QString &port, int32_t id) {
    // The link figures are the session's, its identification included.
    dev.ResetLinkStats();
    const int32_t result = dev.OpenConnection(port, id);
    // Whatever came before belongs to another session.
    for (int m = 0; m < tMenuCount; ++m)
        SetVisited(tMenu(m), false);
    FollowConnection();
    Q_EMIT connectionChanged(dev.Connected());
    // The identification brought the operation codes: a page still showing
    // another session's shows this one's.
    if (dev.Connected())
        Q_EMIT blockRead(dev.Known);
    return result;
}

void tSession::End() {
    if (!dev.Connected())
        return;
    Q_EMIT report(clOK, QStringLiteral("Saúde da comunicação: ") + dev.LinkStats().Summary());
    dev.CloseConnection();
    Q_EMIT logLine(QStringLiteral("FECHANDO CONEXÃO"));
    Q_EMIT report(clOK, QStringLiteral("Desconectado do dispositivo"));
    FollowConnection();
    Q_EMIT connectionChanged(false);
}

int32_t tSession::SendCommand(tCommand cmd) {
    lostPortSaid = false;
    const int32_t result = dev.SendCommand(cmd);
    if (result < 0) {
        if (result != errMODBUS_BUSY && dev.PortLost())
            PortLost();
        return result;
    }
    const tCommandShape shape = CommandShape(cmd);
    if (shape.kind == readREGS && shape.known)
        Q_EMIT blockRead(shape.known);
    return result;
}

void tSession::PortLost() {
    const QString port = dev.PortName();
    const QString lost = dev.PortLostText();
    Q_EMIT report(clERROR, lost);
    Q_EMIT logLine(lost);
    End();
    Q_EMIT portLost(port);
    lostPortSaid = true;
}

bool tSession::TakePortLostSaid() {
    return std::exchange(lostPortSaid, false);
}

void tSession::SetVisited(tMenu menu, bool on) {
    bool &flag = visited[size_t(menu)];
    if (flag == on)
        return;
    flag = on;
    Q_EMIT visitedChanged(menu, on);
}

void tSession::SetRefresh(bool run) {
    if (!run)
        timer->stop();
    else if (dev.Connected() && !timer->isActive())
        timer->start();
}

void tSession::FollowConnection() {
    if (dev.Connected()) {
        SetRefresh(true);
        return;
    }
    timer->stop();
    for (int m = 0; m < tMenuCount; ++m)
        SetVisited(tMenu(m), false);
    loaded.reset();
}

bool tSession::LoadConfig(const QString &name, QString *error) {
    if (!dev.LoadConfig(name, error))
        return false;
    loaded = ConfigOf(dev);
    Q_EMIT blockRead(knownSYSTEM | knownUNIT | knownOPS | knownRelay(0) | knownRelay(1) |
                     knownRelay(2) | knownRelay(3));
    return true;
}

void tSession::AboutToWrite(const tWrite &w) {
    Q_EMIT aboutToWrite(w);
}

void tSession::Exchanged(const tExchange &e) {
    Q_EMIT exchanged(e);
}
