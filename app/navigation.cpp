// Which page each menu button shows, the first-visit reads, and the enabling
// of controls by connection state and model.
#include "main_window.h"

#include "about_page.h"
#include "connection_page.h"
#include "log_relays_page.h"
#include "op_relay_page.h"
#include "par_page.h"
#include "relay_pages.h"
#include "relay_param_page.h"
#include "rtc_page.h"
#include "status_screen.h"

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

void TfrmMain::ShowPage(QWidget *page) {
    for (QWidget *p : pages)
        if (p != page)
            p->hide();
    if (page)
        page->show();
    current = page;
}

void TfrmMain::FirstVisit(QPushButton *button, const std::function<void()> &read) {
    if (button->property("tag").toInt() != 0)
        return;
    button->setProperty("tag", 1);
    read();
}

void TfrmMain::btnMenuMainClick() {
    ShowPage(conn);
}

void TfrmMain::btnMenuStatusClick() {
    ShowPage(status->page(ondrel->nRelay));
    status->btnStatusRead4Click();
}

void TfrmMain::btnMenuLogClick() {
    ShowPage(logPage);
}

void TfrmMain::btnMenuPARClick() {
    ShowPage(parPage);
    FirstVisit(btnMenuPAR, [this] { parPage->btnReadParClick(); });
}

void TfrmMain::btnMenuRTCClick() {
    ShowPage(rtcPage);
    FirstVisit(btnMenuRTC, [this] { rtcPage->btnRTCLerClick(); });
}

void TfrmMain::btnMenuSetOPClick() {
    ShowPage(opPage);
    FirstVisit(btnMenuSetOP, [this] { opPage->btnOpReadClick(); });
}

void TfrmMain::btnMenuAboutClick() {
    ShowPage(aboutPage);
}

void TfrmMain::btnMenuSairClick() {
    close();
}

void TfrmMain::SetMenuParRelay(int relay, QPushButton *button) {
    relayPages->RelaySet = relay;
    QWidget *page = relayPages->Choose();
    ShowPage(page);
    FirstVisit(button, [&] {
        relayPages->btnColdReadClick();
        // The read may bring another operation than the one in memory; show
        // its page, unless the user has moved on meanwhile.
        if (current == page)
            ShowPage(relayPages->Choose());
    });
    relayPages->SetParRelays();
}

void TfrmMain::CompsState() {
    const bool on = ondrel->Connected();
    const int32_t n = ondrel->nRelay;
    auto enable = [](std::initializer_list<QWidget *> widgets, bool state) {
        for (QWidget *w : widgets)
            w->setEnabled(state);
    };
    enable({btnMenuStatus, btnMenuLog, btnMenuPAR}, on);
    btnMenuRTC->setEnabled(on && ondrel->HaveRTC);
    enable({btnMenuSetOP, btnMenuRelay[0]}, on);
    for (int r = 1; r < 4; ++r)
        btnMenuRelay[r]->setEnabled(on && n > r);
    enable({parPage->btnStandard, conn->btnLoadConfig, conn->btnSaveConfig}, on);
    opPage->SetRelayCount(n);
    logPage->SetRelayCount(n);
    enable({conn->cbxPort, conn->edtID, conn->spiBaud, conn->spiTimeout, conn->btnUpDatePorts},
           !on);
    QTimer *timer = status->timerProcess();
    if (!on) {
        timer->stop();
        for (QPushButton *b : menuButtons)
            b->setProperty("tag", 0);
    } else if (!timer->isActive()) {
        timer->start();
    }
}
