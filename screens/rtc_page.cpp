#include "rtc_page.h"

#include "page_action.h"

#include <QHBoxLayout>
#include <QPushButton>

TRtcPage::TRtcPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlRTC"), QStringLiteral("RTC - Real Time Clock"), parent),
      btnRTCLer(Button(QStringLiteral("btnRTCLer"), QStringLiteral("Ler"))) {
    Body()->addStretch(1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnRTCLer);
    buttons->addStretch(1);
    Body()->addLayout(buttons);
    connect(btnRTCLer, &QPushButton::clicked, this, &TRtcPage::btnRTCLerClick);
}

void TRtcPage::btnRTCLerClick() {
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros de data e hora"),
                     .popup = true,
                     .commands = {cmdGET_RTC_DATE, cmdGET_RTC_TIME, cmdGET_RTC_FORMAT},
                     .done = [this] { SetParRTC(); },
                     .success = QStringLiteral("Data e hora lidos com sucesso")});
}

// The clock controls arrive with the clock screen.
void TRtcPage::SetParRTC() {}
