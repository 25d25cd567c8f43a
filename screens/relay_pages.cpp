#include "relay_pages.h"

#include "page_action.h"
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

// The pages, in the order of OpPages' page indices.
constexpr tRelayPageLayout Layouts[] = {
    {.page = "pnlNop",
     .caption = "lblCaptionNOP",
     .text = "Este rele não terá nenhum modo de trabalho, ele está inoperante."},
    {.page = "pnlCold",
     .caption = "lblCaptionCold",
     .tabs = "tabCold",
     .subPages = {"tabItemMain=Principal", "tabItemLimits=Limites", "tabItemTimes=Tempos",
                  "tabItemTimer=Timer"},
     .buttons = {"btnColdRead", "btnColdWrite", "Button1"}},
    {.page = "pnlDefrost",
     .caption = "lblCaptionDefrost",
     .tabs = "tabDefrost",
     .subPages = {"tabDefrostMain=Principal", "tabDefrostAdvanced=Avançado"},
     .buttons = {"btnDefrostRead", "btnDefrostWrite", "Button3"}},
    {.page = "pnlFan",
     .caption = "lblCaptionFan",
     .tabs = "tabFan",
     .subPages = {"tabFanMain=Principal", "tabFanAdvanced=Avançado"},
     .buttons = {"btnFanRead", "btnFanWrite", "Button4"}},
    {.page = "pnlHeat",
     .caption = "lblCaptionHeat",
     .tabs = "tabHeat",
     .subPages = {"tabHeatMain=Principal", "tabHeatTemperatures=Temperaturas"},
     .buttons = {"btnHeaterRead", "btnHeaterWrite", "Button2"}},
    {.page = "pnlAux",
     .caption = "lblCaptionAux",
     .buttons = {"btnAuxRead", "btnAuxWrite", "Button6"}},
    {.page = "pnlTimer",
     .caption = "lblCaptionTimer",
     .buttons = {"btnTimerRead", "btnTimerWrite", "Button8"}},
};
} // namespace

TRelayPages::TRelayPages(ScreenHost &host_, QWidget *pageParent, QObject *parent)
    : QObject(parent), host(host_) {
    for (const tRelayPageLayout &layout : Layouts) {
        auto *page = new TRelayParamPage(host, layout, pageParent);
        if (page->ReadButton())
            connect(page->ReadButton(), &QPushButton::clicked, this,
                    &TRelayPages::btnColdReadClick);
        pages.push_back(page);
    }
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
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros dos reles"),
                     .popup = true,
                     .commands = {read},
                     .done = [this] { SetParRelays(); },
                     .success = QStringLiteral("Leitura dos parâmetros feita com sucesso")});
}

// The parameter controls arrive with the relay parameter screens.
void TRelayPages::SetParRelays() {}

void TRelayPages::SelectFirstTabs() {
    for (TRelayParamPage *page : pages)
        if (page->Tabs())
            page->Tabs()->setCurrentIndex(0);
}
