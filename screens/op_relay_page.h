#pragma once

#include "page.h"
#include "screen_host.h"

#include <array>
#include <cstdint>

class QComboBox;

// pnlOpRelay: reads and assigns each relay's operation within the model's rules.
class TOpRelayPage : public TPage {
    Q_OBJECT
  public:
    explicit TOpRelayPage(ScreenHost &host, QWidget *parent = nullptr);

    void FollowState(const tOndrel &dev) override { SetRelayCount(dev.nRelay); }
    uint32_t Shows() const override { return knownOPS; }
    void Refill() override { SetParOpRelays(); }
    void VisitRead() override { btnOpReadClick(); }

    void btnOpReadClick();
    void btnOpWriteClick();
    // Fills the four combo boxes from the device, without traffic.
    void SetParOpRelays();
    // Enables cbxOpRelay2..4 for the relays the model has.
    void SetRelayCount(int nRelay);

    // The opMat row chosen at the last filling.
    int idxOpMat() const { return opMatRow; }
    // The code selected in each box (-1: none), as of the last change check.
    const std::array<int32_t, 4> &opComp() const { return comp; }

  private:
    // Change of relay k's box (0..3).
    void cbxOpRelayChange(int k);
    void upDateOpComp();
    void CheckOperator(int k);

    std::array<QComboBox *, 4> cbx{};
    int opMatRow = 4;
    std::array<int32_t, 4> comp{-1, -1, -1, -1};
};
