// Which page each menu button shows, the reads a visit runs, and the
// enabling of controls by connection state and model.
#include "main_window.h"

#include "page.h"

#include <QPushButton>
#include <QStackedWidget>

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
    {tMenu::Relay1, tVisit::First, [](const tOndrel &d) { return d.Connected(); }},
    {tMenu::Relay2, tVisit::First, [](const tOndrel &d) { return d.Connected() && d.nRelay > 1; }},
    {tMenu::Relay3, tVisit::First, [](const tOndrel &d) { return d.Connected() && d.nRelay > 2; }},
    {tMenu::Relay4, tVisit::First, [](const tOndrel &d) { return d.Connected() && d.nRelay > 3; }},
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

void TfrmMain::ShowMenu(tMenu menu, int relay) {
    tMenuTarget *target = Target(menu);
    if (!target)
        return;
    ShowPage(target->PageToShow(relay));
    switch (VisitOf(menu)) {
    case tVisit::First:
        // Marked before the read, so a second press during the read's wait
        // does not start it again; a failed read counts as the visit. A
        // relay whose operation has no page reads too: the read may bring one.
        if (Visited(menu))
            return;
        SetVisited(menu, true);
        target->VisitRead();
        break;
    case tVisit::Every:
        target->VisitRead();
        break;
    case tVisit::None:
        break;
    }
}

void TfrmMain::btnMenuMainClick() {
    ShowMenu(tMenu::Main);
}

void TfrmMain::btnMenuStatusClick() {
    ShowMenu(tMenu::Status);
}

void TfrmMain::btnMenuLogClick() {
    ShowMenu(tMenu::Log);
}

void TfrmMain::btnMenuHistClick() {
    ShowMenu(tMenu::Hist);
}

void TfrmMain::btnMenuPARClick() {
    ShowMenu(tMenu::PAR);
}

void TfrmMain::btnMenuRTCClick() {
    ShowMenu(tMenu::RTC);
}

void TfrmMain::btnMenuSetOPClick() {
    ShowMenu(tMenu::SetOP);
}

void TfrmMain::btnMenuAboutClick() {
    ShowMenu(tMenu::About);
}

void TfrmMain::btnMenuSairClick() {
    close();
}

void TfrmMain::btnMenuRelayClick(int relay) {
    SetMenuParRelay(relay, menuButtons[size_t(tMenu::Relay1) + size_t(relay)]);
}

void TfrmMain::SetMenuParRelay(int relay, QPushButton *button) {
    // The first-visit read is the relay's own button's.
    const auto menu = tMenu(int(tMenu::Relay1) + relay);
    if (button == menuButtons[size_t(menu)])
        ShowMenu(menu, relay);
    else
        ShowPage(Target(menu)->PageToShow(relay));
}

void TfrmMain::CompsState() {
    const tOndrel &dev = session->Ondrel();
    for (const tMenuRule &rule : menuRules)
        menuButtons[size_t(rule.menu)]->setEnabled(rule.enabled(dev));
    for (TPage *page : pages)
        page->FollowState(dev);
    session->FollowConnection();
}
