#include "par_page.h"

#include "page_action.h"

#include <QHBoxLayout>
#include <QPushButton>

TParPage::TParPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlPAR"), QStringLiteral("Ajustes"), parent),
      btnReadPar(Button(QStringLiteral("btnReadPar"), QStringLiteral("Ler"))),
      btnStandard(
          Button(QStringLiteral("btnStandard"), QStringLiteral("Aplicar Valores Padrões"))) {
    Body()->addStretch(1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnReadPar);
    buttons->addStretch(1);
    buttons->addWidget(btnStandard);
    Body()->addLayout(buttons);
    connect(btnReadPar, &QPushButton::clicked, this, &TParPage::btnReadParClick);
}

void TParPage::FollowState(const tOndrel &dev) {
    btnStandard->setEnabled(dev.Connected());
}

void TParPage::btnReadParClick() {
    RunAction(host, {.progress = QStringLiteral("Lendo parâmetros de sistema"),
                     .popup = true,
                     .commands = {cmdGET_PAR_SYSTEM},
                     .done = [this] { SetParSystem(); },
                     .success = QStringLiteral("Leitura dos parâmetros feita com sucesso")});
}

// The parameter controls arrive with the system parameters screen.
void TParPage::SetParSystem() {}
