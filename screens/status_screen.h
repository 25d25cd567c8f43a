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

    // One automatic refresh; silent on failure. A tick that finds an
    // exchange in progress (its own or another) is dropped.
    void timerProcessTimer();
    // Restarts the controller's statistics, then reads.
    void btnInitStat4Click();
    // A click on cbxUpdate<page>: toggles the one automatic-update setting.
    void cbxUpdateClick(int page);
    bool AutoUpdate() const;
    // A click on colour button cbtRL<page>_<relay>: switches that relay.
    void cbtRLClick(int page, int relay);
    // Sends the four relay states; false after a failure.
    bool UpdateRelay();

  private:
    struct Impl;
    Impl *d;
};
