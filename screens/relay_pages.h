#pragma once

#include "page.h"
#include "screen_host.h"

#include <QObject>

#include <vector>

class QWidget;
class TNumberBox;
class TRelayParamPage;

// The relay parameter pages, and RelaySet, the relay whose page is open.
// Which page shows a relay follows its operation code (par[0]).
class TRelayPages : public QObject, public tMenuTarget {
    Q_OBJECT
  public:
    // The pages are made children of `pageParent`, which owns them.
    TRelayPages(ScreenHost &host, QWidget *pageParent, QObject *parent = nullptr);

    const std::vector<TRelayParamPage *> &RelayPages() const { return pages; }

    // tMenuTarget: relay `relay`'s page, chosen by its operation and filled
    // from the copy; a visit reads the relay's block.
    QWidget *PageToShow(int relay) override;
    void VisitRead() override { btnColdReadClick(); }
    std::vector<TPage *> Pages() override;
    // The page of an operation code; nullptr for codes without one.
    TRelayParamPage *PageFor(int32_t op) const;

    // Prepares the page of relay RelaySet's operation (its title, the
    // "Timer" sub-page only for the conditional timer, its buttons) and
    // returns it.
    TRelayParamPage *Choose();

    // The one read and the one write action of every relay page.
    void btnColdReadClick();
    void btnColdWriteClick();
    // Fills the page of relay RelaySet's operation from its block, without
    // traffic.
    void SetParRelays();
    // The DFTC rule: at more than 23 hours the minutes become 0.
    void edtDefrostMinDFTCChange();
    // The first sub-page of each page with sub-pages.
    void SelectFirstTabs();

    int32_t RelaySet = 0;

  Q_SIGNALS:
    // A read brought another operation than the one whose page was shown:
    // `to` (nullptr: none) now shows the relay instead of `from`.
    void pageChanged(QWidget *from, QWidget *to);

  private:
    // The relay RelaySet stands for: 1..3 as they are, any other value 0.
    int Relay() const;
    int32_t Operation() const;

    ScreenHost &host;
    std::vector<TRelayParamPage *> pages;
    TNumberBox *dftcHours = nullptr;
    TNumberBox *dftcMinutes = nullptr;
};
