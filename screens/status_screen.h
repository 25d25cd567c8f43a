#pragma once

#include "page.h"
#include "screen_host.h"

#include <QObject>

#include <array>

class QCheckBox;
class QLabel;
class QTimer;
class TColorButton;
class TStatusScreen;

// One live status page, pnlStatus1..pnlStatus4, for a relay count.
class TStatusPage : public TPage {
    Q_OBJECT
  public:
    TStatusPage(ScreenHost &host, TStatusScreen &screen, int number, QWidget *parent);

    // Every visit reads the status.
    void VisitRead() override;

    const int number;
    std::array<QLabel *, 4> ts{}, minTs{}, maxTs{}, rl{}, opRl{};
    std::array<TColorButton *, 4> cbt{};
    QPushButton *btnRead = nullptr;
    QPushButton *btnInitStat = nullptr;
    QCheckBox *cbxUpdate = nullptr;

  private:
    TStatusScreen &screen;
};

// The four status pages' shared behaviour: the one automatic-update setting,
// the refresh timer timerProcess, the reads and the relay switching.
class TStatusScreen : public QObject, public tMenuTarget {
    Q_OBJECT
  public:
    // The pages are made children of `pageParent`, which owns them.
    TStatusScreen(ScreenHost &host, QWidget *pageParent, QObject *parent = nullptr);

    // The page for a relay count: >3 gives pnlStatus4, >2 pnlStatus3,
    // >1 pnlStatus2, anything else pnlStatus1.
    TStatusPage *page(int nRelay) const;
    // The session's refresh timer, whose ticks this screen serves.
    QTimer *timerProcess() const;

    // tMenuTarget: the page of the model's relay count; every visit reads.
    QWidget *PageToShow(int) override;
    void VisitRead() override { btnStatusRead4Click(); }
    std::vector<TPage *> Pages() override { return {pages.begin(), pages.end()}; }

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
    bool AutoUpdate() const { return autoUpdate; }
    // A click on colour button cbtRL<page>_<relay>: switches that relay.
    void cbtRLClick(int page, int relay);
    // Sends the four relay states; false after a failure.
    tTask<int32_t> UpdateRelay();

  private:
    void displayPass();

    ScreenHost &host;
    std::array<TStatusPage *, 4> pages{};
    bool autoUpdate = false;
    bool ticking = false;
};
