#include "rtc_page.h"

#include <QHBoxLayout>
#include <QPushButton>

TRtcPage::TRtcPage(ScreenHost &host_, QWidget *parent)
    : TPage(QStringLiteral("pnlRTC"), QStringLiteral("RTC - Real Time Clock"), parent),
      btnRTCLer(Button(QStringLiteral("btnRTCLer"), QStringLiteral("Ler"))), host(host_) {
    Body()->addStretch(1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnRTCLer);
    buttons->addStretch(1);
    Body()->addLayout(buttons);
    connect(btnRTCLer, &QPushButton::clicked, this, &TRtcPage::btnRTCLerClick);
}

void TRtcPage::btnRTCLerClick() {
    if (RunCommands(host, QStringLiteral("Lendo parâmetros de data e hora"),
                    QStringLiteral("Lendo parâmetros de data e hora no Ondrel..."),
                    {cmdGET_RTC_DATE, cmdGET_RTC_TIME, cmdGET_RTC_FORMAT}) < 0)
        return;
    SetParRTC();
    host.Report(0, QStringLiteral("Data e hora lidos com sucesso"));
}

// The clock controls arrive with the clock screen.
void TRtcPage::SetParRTC() {}
