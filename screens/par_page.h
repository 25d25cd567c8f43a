#pragma once

#include "page.h"
#include "screen_host.h"

class QPushButton;
class TFieldForm;

// pnlPAR: the controller's system parameters, their write and the factory
// defaults.
class TParPage : public TPage {
    Q_OBJECT
  public:
    explicit TParPage(ScreenHost &host, QWidget *parent = nullptr);

    void FollowState(const tOndrel &dev) override;
    uint32_t Shows() const override { return knownSYSTEM; }
    void Refill() override { SetParSystem(); }
    void VisitRead() override { btnReadParClick(); }

    void btnReadParClick();
    void btnWritePARClick();
    void btnStandardClick();
    // Fills the page from Ondrel.System, without traffic.
    void SetParSystem();

    // The controls of System[0..12] but 7 and 8 (those are the clock page's).
    TFieldForm *Form() const { return form; }

    QPushButton *btnReadPar;
    QPushButton *btnStandard;
    QPushButton *btnWritePAR;

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    // "Gravar" sends all thirteen registers: only once the page shows what
    // the controller holds (read, written or loaded from a file in this
    // connection), never zeros from memory.
    bool Writable() const;
    void FollowKnown();

    TFieldForm *form;
};
