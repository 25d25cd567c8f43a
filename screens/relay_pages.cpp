#include "relay_pages.h"

#include "relay_operations.h"
#include "relay_param_page.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

namespace {
struct tOpPage {
    int32_t op;
    int page; // index into TRelayPages::pages
    const char16_t *title;
};
// Page order: nop, cold, defrost, fan, heat, aux, timer.
constexpr tOpPage OpPages[] = {
    {opNOP, 0, u"Rele%1 - Nenhuma Operação"},
    {opCOLD, 1, u"Rele%1 - Refrigeração"},
    {opHOT, 1, u"Rele%1 - Aquecimento"},
    {opTIMERIF, 1, u"Rele%1 - Timer Condicional"},
    {opDEFROST, 2, u"Rele%1 - Degelo"},
    {opFAN, 3, u"Rele%1 - Ventilador"},
    {opHEATER, 4, u"Rele%1 - Trocador de Calor"},
    {opAUX, 5, u"Rele%1 - Auxiliar"},
    {opTIMER, 6, u"Rele%1 - Timer"},
};

const tOpPage *OpPage(int32_t op) {
    for (const tOpPage &p : OpPages)
        if (p.op == op)
            return &p;
    return nullptr;
}

constexpr int TimerSubPage = 3;
} // namespace

TRelayPages::TRelayPages(ScreenHost &host_, QObject *parent)
    : QObject(parent),
      host(host_), pages{new TNopPage,  new TColdPage, new TDefrostPage, new TFanPage,
                         new THeatPage, new TAuxPage,  new TTimerPage} {
    for (TRelayParamPage *page : pages)
        if (page->ReadButton())
            connect(page->ReadButton(), &QPushButton::clicked, this,
                    &TRelayPages::btnColdReadClick);
}

TRelayParamPage *TRelayPages::PageFor(int32_t op) const {
    const tOpPage *p = OpPage(op);
    return p ? pages[p->page] : nullptr;
}

TRelayParamPage *TRelayPages::Choose() {
    const int32_t op = host.Ondrel().Relay[RelaySet & 3].par[0];
    const tOpPage *p = OpPage(op);
    if (!p)
        return nullptr;
    TRelayParamPage *page = pages[p->page];
    page->Caption()->setText(QString::fromUtf16(p->title).arg(RelaySet + 1));
    if (page == pages[1]) {
        QTabWidget *tabCold = page->Tabs();
        tabCold->setTabVisible(TimerSubPage, op == opTIMERIF);
        if (op != opTIMERIF && tabCold->currentIndex() == TimerSubPage)
            tabCold->setCurrentIndex(0);
    }
    return page;
}

void TRelayPages::btnColdReadClick() {
    static constexpr tCommand reads[] = {cmdGET_PAR_RELAY1, cmdGET_PAR_RELAY2, cmdGET_PAR_RELAY3,
                                         cmdGET_PAR_RELAY4};
    const tCommand read = RelaySet >= 1 && RelaySet <= 3 ? reads[RelaySet] : reads[0];
    if (RunCommand(host, QStringLiteral("Lendo parâmetros dos reles"),
                   QStringLiteral("Lendo parâmetros dos reles no Ondrel..."), read) < 0)
        return;
    SetParRelays();
    host.Report(0, QStringLiteral("Leitura dos parâmetros feita com sucesso"));
}

// The parameter controls arrive with the relay parameter screens.
void TRelayPages::SetParRelays() {}

void TRelayPages::SelectFirstTabs() {
    for (TRelayParamPage *page : pages)
        if (page->Tabs())
            page->Tabs()->setCurrentIndex(0);
}
