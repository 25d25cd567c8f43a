#include "relay_pages.h"

#include "field_form.h"
#include "number_box.h"
#include "page_action.h"
#include "relay_operations.h"
#include "relay_param_page.h"
#include "relay_params.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
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
     .buttons = {"btnColdRead", "btnColdWrite"},
     .tables = {ColdFields, ColdTimerFields}},
    {.page = "pnlDefrost",
     .caption = "lblCaptionDefrost",
     .tabs = "tabDefrost",
     .subPages = {"tabDefrostMain=Principal", "tabDefrostAdvanced=Avançado"},
     .buttons = {"btnDefrostRead", "btnDefrostWrite"},
     .tables = {DefrostFields}},
    {.page = "pnlFan",
     .caption = "lblCaptionFan",
     .tabs = "tabFan",
     .subPages = {"tabFanMain=Principal", "tabFanAdvanced=Avançado"},
     .buttons = {"btnFanRead", "btnFanWrite"},
     .tables = {FanFields}},
    {.page = "pnlHeat",
     .caption = "lblCaptionHeat",
     .tabs = "tabHeat",
     .subPages = {"tabHeatMain=Principal", "tabHeatTemperatures=Temperaturas"},
     .buttons = {"btnHeaterRead", "btnHeaterWrite"},
     .tables = {HeatFields}},
    {.page = "pnlAux",
     .caption = "lblCaptionAux",
     .buttons = {"btnAuxRead", "btnAuxWrite"},
     .tables = {AuxFields}},
    {.page = "pnlTimer",
     .caption = "lblCaptionTimer",
     .buttons = {"btnTimerRead", "btnTimerWrite"},
     .tables = {TimerFields}},
};

constexpr tCommand Reads[] = {cmdGET_PAR_RELAY1, cmdGET_PAR_RELAY2, cmdGET_PAR_RELAY3,
                              cmdGET_PAR_RELAY4};
constexpr tCommand Writes[] = {cmdSET_PAR_RELAY1, cmdSET_PAR_RELAY2, cmdSET_PAR_RELAY3,
                               cmdSET_PAR_RELAY4};
} // namespace

TRelayPages::TRelayPages(ScreenHost &host_, QWidget *pageParent, QObject *parent)
    : QObject(parent), host(host_) {
    for (const tRelayPageLayout &layout : Layouts) {
        auto *page = new TRelayParamPage(host, layout, pageParent);
        if (page->ReadButton()) {
            connect(page->ReadButton(), &QPushButton::clicked, this,
                    &TRelayPages::btnColdReadClick);
            connect(page->WriteButton(), &QPushButton::clicked, this,
                    &TRelayPages::btnColdWriteClick);
        }
        pages.push_back(page);
    }
    TFieldForm *defrost = PageFor(opDEFROST)->Form(DefrostFields());
    dftcHours = static_cast<TNumberBox *>(defrost->Control(idxDFTC));
    dftcMinutes = defrost->Minutes(idxDFTC);
    for (TNumberBox *box : {dftcHours, dftcMinutes})
        connect(box, &TNumberBox::valueChanged, this, &TRelayPages::edtDefrostMinDFTCChange);
    // The shown relay's block or the operation codes brought by any read (or
    // a file): the page shows them, so "Gravar" sends what the copy holds.
    connect(&host.Session(), &tSession::blockRead, this, [this](uint32_t blocks) {
        if (blocks & (knownRelay(Relay()) | knownOPS))
            SetParRelays();
    });
    SelectFirstTabs();
}

QWidget *TRelayPages::PageToShow(int relay) {
    RelaySet = relay;
    TRelayParamPage *page = Choose();
    SetParRelays();
    return page;
}

std::vector<TPage *> TRelayPages::Pages() {
    return {pages.begin(), pages.end()};
}

int TRelayPages::Relay() const {
    return RelaySet >= 1 && RelaySet <= 3 ? RelaySet : 0;
}

int32_t TRelayPages::Operation() const {
    return host.Ondrel().Relay[size_t(Relay())].par[idxOP];
}

TRelayParamPage *TRelayPages::PageFor(int32_t op) const {
    const tOpPage *p = OpPage(op);
    return p ? pages[size_t(p->page)] : nullptr;
}

TRelayParamPage *TRelayPages::Choose() {
    const int32_t op = Operation();
    const tOpPage *p = OpPage(op);
    if (!p)
        return nullptr;
    TRelayParamPage *page = pages[size_t(p->page)];
    page->Caption()->setText(QString::fromUtf16(p->title).arg(RelaySet + 1));
    if (page == pages[1]) {
        // Hiding the selected tab would select its neighbour; the page
        // falls back to "Principal" instead.
        QTabWidget *tabCold = page->Tabs();
        if (op != opTIMERIF && tabCold->currentIndex() == TimerSubPage)
            tabCold->setCurrentIndex(0);
        tabCold->setTabVisible(TimerSubPage, op == opTIMERIF);
    }
    page->SetRelay(Relay());
    page->FollowState(host.Ondrel());
    return page;
}

void TRelayPages::btnColdReadClick() {
    const int relay = Relay();
    // Bounds in Fahrenheit need the controller's unit before the first fill;
    // a status read brings it with its flags.
    std::vector<tCommand> commands;
    if (host.Ondrel().ControllerUnit < 0)
        commands.push_back(cmdGET_STATUS);
    commands.push_back(Reads[relay]);
    TRelayParamPage *shown = PageFor(Operation());
    const int32_t set = RelaySet;
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros dos reles"),
                     .popup = true,
                     .commands = commands,
                     .done =
                         [this, shown, set] {
                             // Another relay's page opened during the wait
                             // has been filled by its own opening.
                             if (RelaySet != set)
                                 return;
                             // What is on screen is what "Gravar" collects:
                             // a read that brings another operation shows
                             // that operation's page before it is filled.
                             TRelayParamPage *now = Choose();
                             if (now != shown)
                                 Q_EMIT pageChanged(shown, now);
                             SetParRelays();
                         },
                     .success = QStringLiteral("Leitura dos parâmetros feita com sucesso")});
}

void TRelayPages::btnColdWriteClick() {
    tOndrel &dev = host.Ondrel();
    const int relay = Relay();
    const int32_t op = Operation();
    TRelayParamPage *page = PageFor(op);
    if (!page)
        return;
    // The button waits for the block (FollowState); a call in code must too.
    RunAction(host, {.needs = knownRelay(relay),
                     .question = QStringLiteral(
                         "Deseja mesmo gravar os novos valores dos parâmetros no Ondrel?"),
                     .progress = QStringLiteral("Gravando parâmetros dos reles"),
                     .popup = true,
                     .collect =
                         [this, &dev, page, relay, op] {
                             if (op == opDEFROST) {
                                 // The rule's own change is no edit of the user's:
                                 // an untouched DFTC goes back as it was read.
                                 const QSignalBlocker quiet(dftcMinutes);
                                 edtDefrostMinDFTCChange();
                             }
                             page->Collect(op, dev.Relay[size_t(relay)].par.data());
                         },
                     .commands = {Writes[relay]},
                     .success = QStringLiteral("Gravação dos parâmetros feita com sucesso")});
}

void TRelayPages::SetParRelays() {
    const tOndrel &dev = host.Ondrel();
    const int relay = Relay();
    const int32_t op = Operation();
    TRelayParamPage *page = PageFor(op);
    if (!page)
        return;
    page->SetRelay(relay);
    page->Fill(op, dev.Relay[size_t(relay)].par.data(), dev);
    page->FollowState(dev);
}

void TRelayPages::edtDefrostMinDFTCChange() {
    if (dftcHours->value() > 23)
        dftcMinutes->setValue(0);
}

void TRelayPages::SelectFirstTabs() {
    for (TRelayParamPage *page : pages)
        if (page->Tabs())
            page->Tabs()->setCurrentIndex(0);
}
