#pragma once

#include "screen_host.h"

#include <QWidget>

#include <array>
#include <cstdint>

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

    // The opMat row chosen at the last filling.
    int idxOpMat() const;
    // The code selected in each box (-1: none), as of the last change check.
    const std::array<int32_t, 4> &opComp() const;

  private:
    // Change of relay k's box (0..3).
    void cbxOpRelayChange(int k);
    void upDateOpComp();
    void CheckOperator(int k);

    struct Impl;
    Impl *d;
};
