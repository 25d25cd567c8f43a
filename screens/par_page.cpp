#include "par_page.h"

#include <QHBoxLayout>
#include <QPushButton>

TParPage::TParPage(ScreenHost &host_, QWidget *parent)
    : TPage(QStringLiteral("pnlPAR"), QStringLiteral("Ajustes"), parent),
      btnReadPar(Button(QStringLiteral("btnReadPar"), QStringLiteral("Ler"))),
      btnStandard(Button(QStringLiteral("btnStandard"), QStringLiteral("Aplicar Valores Padrões"))),
      host(host_) {
    Body()->addStretch(1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnReadPar);
    buttons->addStretch(1);
    buttons->addWidget(btnStandard);
    Body()->addLayout(buttons);
    connect(btnReadPar, &QPushButton::clicked, this, &TParPage::btnReadParClick);
}

void TParPage::btnReadParClick() {
    if (RunCommand(host, QStringLiteral("Lendo parâmetros de sistema"),
                   QStringLiteral("Lendo parâmetros de sistema no Ondrel..."),
                   cmdGET_PAR_SYSTEM) < 0)
        return;
    SetParSystem();
    host.Report(0, QStringLiteral("Leitura dos parâmetros feita com sucesso"));
}

// The parameter controls arrive with the system parameters screen.
void TParPage::SetParSystem() {}
