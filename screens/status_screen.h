#pragma once

#include "screen_host.h"

#include <QObject>

class QTimer;
class QWidget;

// The live status pages pnlStatus1..pnlStatus4 (one per relay count), their
// shared automatic-update setting and the refresh timer timerProcess.
class TStatusScreen : public QObject {
    Q_OBJECT
public:
    TStatusScreen(ScreenHost &host, QObject *parent = nullptr);
    ~TStatusScreen() override;

    // The page for a relay count: >3 gives pnlStatus4, >2 pnlStatus3,
    // >1 pnlStatus2, anything else pnlStatus1.
    QWidget *page(int nRelay) const;
    QTimer *timerProcess() const;

    void btnStatusRead4Click();
    // Names each relay's operation on the page of the model's relay count.
    void PrintOpRelays();

private:
    struct Impl;
    Impl *d;
};
