// Which page each menu button shows, the reads a visit runs, and the
// enabling of controls by connection state and model.
#include "main_window.h"

#include "page.h"
#include "relay_pages.h"
#include "relay_param_page.h"
#include "status_screen.h"

#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

namespace {
enum class tVisit { None, First, Every };

// What a visit of each menu's page reads, and when the menu button may be
// pressed (the buttons not listed are always available).
struct tMenuRule {
    tMenu menu;
    tVisit visit;
    bool (*enabled)(const tOndrel &);
};
constexpr tMenuRule menuRules[] = {
    {tMenu::Status, tVisit::Every, [](const tOndrel &d) { return d.Connected(); }},
    {tMenu::Log, tVisit::None, [](const tOndrel &d) { return d.Connected(); }},
    {tMenu::PAR, tVisit::First, [](const tOndrel &d) { return d.Connected(); }},
    {tMenu::RTC, tVisit::First, [](const tOndrel &d) { return d.Connected() && d.HaveRTC; }},
    {tMenu::SetOP, tVisit::First, [](const tOndrel &d) { return d.Connected(); }},
    {tMenu::Relay1, tVisit::None, [](const tOndrel &d) { return d.Connected(); }},
    {tMenu::Relay2, tVisit::None, [](const tOndrel &d) { return d.Connected() && d.nRelay > 1; }},
    {tMenu::Relay3, tVisit::None, [](const tOndrel &d) { return d.Connected() && d.nRelay > 2; }},
    {tMenu::Relay4, tVisit::None, [](const tOndrel &d) { return d.Connected() && d.nRelay > 3; }},
};

tVisit VisitOf(tMenu menu) {
    for (const tMenuRule &rule : menuRules)
        if (rule.menu == menu)
            return rule.visit;
    return tVisit::None;
}
} // namespace

void TfrmMain::ShowPage(QWidget *page) {
    pnlMain->setCurrentWidget(page ? page : noPage);
}

QWidget *TfrmMain::CurrentPage() const {
    QWidget *page = pnlMain->currentWidget();
    return page == noPage ? nullptr : page;
}

void TfrmMain::ShowMenu(tMenu menu, QWidget *page) {
    ShowPage(page);
    auto *visited = qobject_cast<TPage *>(page);
    switch (VisitOf(menu)) {
    case tVisit::First:
        // Marked before the read, so a second press during the read's wait
        // does not start it again; a failed read counts as the visit.
        if (Visited(menu) || !visited)
            return;
        SetVisited(menu, true);
        visited->VisitRead();
        break;
    case tVisit::Every:
        if (visited)
            visited->VisitRead();
        break;
    case tVisit::None:
        break;
    }
}

void TfrmMain::btnMenuMainClick() {
    ShowMenu(tMenu::Main, menuPages[size_t(tMenu::Main)]);
}

void TfrmMain::btnMenuStatusClick() {
    ShowMenu(tMenu::Status, status->page(ondrel->nRelay));
}

void TfrmMain::btnMenuLogClick() {
    ShowMenu(tMenu::Log, menuPages[size_t(tMenu::Log)]);
}

void TfrmMain::btnMenuPARClick() {
    ShowMenu(tMenu::PAR, menuPages[size_t(tMenu::PAR)]);
}

void TfrmMain::btnMenuRTCClick() {
    ShowMenu(tMenu::RTC, menuPages[size_t(tMenu::RTC)]);
}

void TfrmMain::btnMenuSetOPClick() {
    ShowMenu(tMenu::SetOP, menuPages[size_t(tMenu::SetOP)]);
}

void TfrmMain::btnMenuAboutClick() {
    ShowMenu(tMenu::About, menuPages[size_t(tMenu::About)]);
}

void TfrmMain::btnMenuSairClick() {
    close();
}

void TfrmMain::btnMenuRelayClick(int relay) {
    SetMenuParRelay(relay, menuButtons[size_t(tMenu::Relay1) + size_t(relay)]);
}

void TfrmMain::SetMenuParRelay(int relay, QPushButton *button) {
    relayPages->RelaySet = relay;
    ShowPage(relayPages->Choose());
    const auto menu = tMenu(int(tMenu::Relay1) + relay);
    if (button == menuButtons[size_t(menu)] && !Visited(menu)) {
        SetVisited(menu, true);
        // A read that brings another operation shows its page (pageChanged).
        relayPages->btnColdReadClick();
    }
    relayPages->SetParRelays();
}

void TfrmMain::CompsState() {
    const tOndrel &dev = *ondrel;
    for (const tMenuRule &rule : menuRules)
        menuButtons[size_t(rule.menu)]->setEnabled(rule.enabled(dev));
    for (TPage *page : pages)
        page->FollowState(dev);
    if (!dev.Connected()) {
        status->timerProcess()->stop();
        for (int m = 0; m < tMenuCount; ++m)
            SetVisited(tMenu(m), false);
    } else {
        SetTimerProcess(true);
    }
}
