#pragma once

#include "page.h"
#include "screen_host.h"

// pnlRTC: the controller's clock.
class TRtcPage : public TPage {
    Q_OBJECT
  public:
    explicit TRtcPage(ScreenHost &host, QWidget *parent = nullptr);

    void Refill() override { SetParRTC(); }
    void VisitRead() override { btnRTCLerClick(); }

    void btnRTCLerClick();
    // Fills the date group from Ondrel, without traffic.
    void SetParRTC();

    QPushButton *btnRTCLer;
};
