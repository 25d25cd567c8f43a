#pragma once

#include "page.h"
#include "screen_host.h"

// pnlPAR: the controller's system parameters.
class TParPage : public TPage {
    Q_OBJECT
  public:
    explicit TParPage(ScreenHost &host, QWidget *parent = nullptr);

    void FollowState(const tOndrel &dev) override;
    void Refill() override { SetParSystem(); }
    void VisitRead() override { btnReadParClick(); }

    void btnReadParClick();
    // Fills the page from Ondrel.System, without traffic.
    void SetParSystem();

    QPushButton *btnReadPar;
    QPushButton *btnStandard;
};
