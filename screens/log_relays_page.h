#pragma once

#include "page.h"
#include "screen_host.h"

#include <array>

class QSpinBox;
class QTableWidget;
class QTabWidget;

// pnlLogRelays: the relay event log, one table per relay.
class TLogRelaysPage : public TPage {
    Q_OBJECT
  public:
    explicit TLogRelaysPage(ScreenHost &host, QWidget *parent = nullptr);

    void LoadSettings(const tSettings &s) override;
    void StoreSettings(tSettings &s) const override;
    void FollowState(const tOndrel &dev) override { SetRelayCount(dev.nRelay); }

    // Empties the four tables; each table's "tag" counts its rows.
    void InitGridLogs();
    // Enables the tabs of relays 2..4 for the relays the model has.
    void SetRelayCount(int nRelay);

    QTabWidget *tabLogRelay;
    std::array<QTableWidget *, 4> stgRL{};
    QPushButton *btnLogGet;
    QPushButton *btnLogCancel;
    QPushButton *btnLogClear;
    QSpinBox *edtLogMax;
};
