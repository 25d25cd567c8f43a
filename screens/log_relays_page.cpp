#include "log_relays_page.h"

#include "settings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

TLogRelaysPage::TLogRelaysPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlLogRelays"),
            QStringLiteral("Relatório dos Eventos dos Reles"), parent),
      tabLogRelay(new QTabWidget),
      btnLogGet(Button(QStringLiteral("btnLogGet"), QStringLiteral("Ler LOG"))),
      btnLogCancel(Button(QStringLiteral("btnLogCancel"), QStringLiteral("Cancelar"))),
      btnLogClear(Button(QStringLiteral("btnLogClear"), QStringLiteral("Limpar"))),
      edtLogMax(new QSpinBox) {
    tabLogRelay->setObjectName(QStringLiteral("tabLogRelay"));
    const QStringList tabTitles = {QStringLiteral("Rele 1"), QStringLiteral("Rele2"),
                                   QStringLiteral("Rele 3"), QStringLiteral("Rele 4")};
    const QStringList headers = {QStringLiteral("Operação"), QStringLiteral("Status"),
                                 QStringLiteral("Sensor"),   QStringLiteral("Sensor Auxiliar"),
                                 QStringLiteral("Data"),     QStringLiteral("Hora")};
    for (int r = 0; r < 4; ++r) {
        auto *tab = new QWidget;
        tab->setObjectName(QStringLiteral("tabRelay%1").arg(r + 1));
        auto *grid = new QTableWidget(0, int(headers.size()));
        grid->setObjectName(QStringLiteral("stgRL%1").arg(r + 1));
        grid->setHorizontalHeaderLabels(headers);
        grid->verticalHeader()->hide();
        grid->verticalHeader()->setDefaultSectionSize(21);
        grid->horizontalHeader()->setStretchLastSection(true);
        grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grid->setSelectionBehavior(QAbstractItemView::SelectRows);
        grid->setAlternatingRowColors(true);
        auto *layout = new QVBoxLayout(tab);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(grid);
        tabLogRelay->addTab(tab, tabTitles[r]);
        stgRL[r] = grid;
    }
    edtLogMax->setObjectName(QStringLiteral("edtLogMax"));
    edtLogMax->setRange(0, 1000);
    edtLogMax->setButtonSymbols(QAbstractSpinBox::NoButtons);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("Máximo de leituras")));
    buttons->addWidget(edtLogMax);
    buttons->addStretch(1);
    buttons->addWidget(btnLogGet);
    buttons->addWidget(btnLogCancel);
    buttons->addWidget(btnLogClear);
    Body()->addWidget(tabLogRelay, 1);
    Body()->addLayout(buttons);
}

void TLogRelaysPage::LoadSettings(const tSettings &s) {
    edtLogMax->setValue(s.LogMaxRead);
    tabLogRelay->setCurrentIndex(0);
    InitGridLogs();
}

void TLogRelaysPage::StoreSettings(tSettings &s) const {
    s.LogMaxRead = edtLogMax->value();
}

void TLogRelaysPage::InitGridLogs() {
    for (QTableWidget *grid : stgRL) {
        grid->setRowCount(0);
        grid->setProperty("tag", 0);
    }
}

void TLogRelaysPage::SetRelayCount(int nRelay) {
    for (int r = 1; r < 4; ++r)
        tabLogRelay->setTabEnabled(r, nRelay > r);
}
