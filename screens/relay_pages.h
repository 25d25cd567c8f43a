#pragma once

#include "screen_host.h"

#include <QObject>

#include <vector>

class QWidget;
class TRelayParamPage;

// The relay parameter pages, and RelaySet, the relay whose page is open.
// Which page shows a relay follows its operation code (par[0]).
class TRelayPages : public QObject {
    Q_OBJECT
  public:
    // The pages are made children of `pageParent`, which owns them.
    TRelayPages(ScreenHost &host, QWidget *pageParent, QObject *parent = nullptr);

    const std::vector<TRelayParamPage *> &Pages() const { return pages; }
    // The page of an operation code; nullptr for codes without one.
    TRelayParamPage *PageFor(int32_t op) const;

    // Prepares the page of relay RelaySet's operation (its title, and the
    // "Timer" sub-page only for the conditional timer) and returns it.
    TRelayParamPage *Choose();

    void btnColdReadClick();
    // Fills the open page from relay RelaySet's block, without traffic.
    void SetParRelays();
    // The first sub-page of each page with sub-pages.
    void SelectFirstTabs();

    int32_t RelaySet = 0;

  private:
    ScreenHost &host;
    std::vector<TRelayParamPage *> pages;
};
