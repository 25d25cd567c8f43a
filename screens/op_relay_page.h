#pragma once

#include "screen_host.h"

#include <QWidget>

// pnlOpRelay: reads and assigns each relay's operation within the model's rules.
class TOpRelayPage : public QWidget {
    Q_OBJECT
public:
    explicit TOpRelayPage(ScreenHost &host, QWidget *parent = nullptr);
    ~TOpRelayPage() override;

    void btnOpReadClick();
    void btnOpWriteClick();
    // Fills the four combo boxes from the device, without traffic.
    void SetParOpRelays();
    // Enables cbxOpRelay2..4 for the relays the model has.
    void SetRelayCount(int nRelay);

private:
    struct Impl;
    Impl *d;
};
