#include "bus_scan_panel.h"

#include "bus_scan.h"
#include "session.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

namespace {
constexpr int idRole = Qt::UserRole;
constexpr int speedRole = Qt::UserRole + 1;
} // namespace

TBusScanPanel::TBusScanPanel(QWidget *parent)
    : QWidget(parent), cbxScanSpeeds(new QCheckBox(QStringLiteral("Todas as velocidades"))),
      prgScan(new QProgressBar), btnScanCancel(new QPushButton(QStringLiteral("Cancelar"))),
      lstFound(new QListWidget) {
    setObjectName(QStringLiteral("grpBusScan"));
    setAccessibleName(QStringLiteral("Procurar controladores"));
    cbxScanSpeeds->setObjectName(QStringLiteral("cbxScanSpeeds"));
    cbxScanSpeeds->setAccessibleName(QStringLiteral("Procurar em todas as velocidades"));
    cbxScanSpeeds->setToolTip(
        QStringLiteral("Pergunta cada endereço em cada velocidade, do código 1 ao 7"));
    prgScan->setObjectName(QStringLiteral("prgScan"));
    prgScan->setAccessibleName(QStringLiteral("Progresso da procura"));
    prgScan->setRange(0, 1);
    prgScan->setValue(0);
    btnScanCancel->setObjectName(QStringLiteral("btnScanCancel"));
    btnScanCancel->setAccessibleName(QStringLiteral("Cancelar a procura"));
    btnScanCancel->setEnabled(false);
    lstFound->setObjectName(QStringLiteral("lstFound"));
    // Three controllers found read whole without scrolling, in every style.
    lstFound->setMinimumHeight(3 * (lstFound->fontMetrics().height() + 4) +
                               2 * lstFound->frameWidth() + 4);
    // No taller than that unless the page has room to spare.
    lstFound->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    lstFound->setAccessibleName(QStringLiteral("Controladores encontrados"));
    lstFound->setToolTip(
        QStringLiteral("Clique numa linha para usar o seu endereço e a sua velocidade"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->addWidget(cbxScanSpeeds, 0, 0);
    grid->addWidget(prgScan, 0, 1);
    grid->addWidget(btnScanCancel, 0, 2);
    grid->addWidget(lstFound, 1, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    connect(btnScanCancel, &QPushButton::clicked, this, &TBusScanPanel::Cancel);
    connect(lstFound, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        Q_EMIT chosen(item->data(idRole).toInt(), item->data(speedRole).toInt());
    });
}

void TBusScanPanel::Cancel() {
    cancelled = true;
    if (scanning)
        scanning->CancelScan();
}

tTask<int32_t> TBusScanPanel::Run(tSession &session, QString port, int32_t speed) {
    running = true;
    scanning = &session;
    cancelled = false;
    Q_EMIT runningChanged(true);
    lstFound->clear();
    btnScanCancel->setEnabled(true);
    cbxScanSpeeds->setEnabled(false);
    tScanOptions options{.port = port};
    if (cbxScanSpeeds->isChecked())
        for (int32_t code = minBAUD_CODE; code <= maxBAUD_CODE; ++code)
            options.speeds << code;
    else
        options.speeds << speed;
    prgScan->setRange(0, int(options.speeds.size()) * (options.to - options.from + 1));
    prgScan->setValue(0);
    const tScanIo io{
        .progress = [this](int32_t, int32_t, int32_t done, int32_t) { prgScan->setValue(done); },
        .found =
            [this](const tFoundController &f) {
                auto *item = new QListWidgetItem(
                    QStringLiteral("ID %1 — %2 firmware %3 — velocidade %4 (%5 bit/s)")
                        .arg(f.id)
                        .arg(f.model, f.firmware)
                        .arg(f.speed)
                        .arg(BaudRateOf(f.speed)));
                item->setData(idRole, f.id);
                item->setData(speedRole, f.speed);
                lstFound->addItem(item);
            },
        .cancelled = [this] { return cancelled; }};
    tTask<tScanResult> scan = session.Scan(options, io);
    const tScanResult r = co_await scan;
    scanning = nullptr;
    prgScan->setValue(r.cancelled ? prgScan->value() : prgScan->maximum());
    btnScanCancel->setEnabled(false);
    cbxScanSpeeds->setEnabled(true);
    running = false;
    Q_EMIT runningChanged(false);
    co_return r.result < 0 ? r.result : int32_t(r.found.size());
}
