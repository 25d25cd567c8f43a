#include "log_relays_page.h"

#include "event_log.h"
#include "log_walk.h"
#include "page_action.h"
#include "settings.h"
#include "whole_file.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

#include <initializer_list>

namespace {
constexpr int colCount = 6;
// Where a row's first cell keeps the slot it shows, for the export.
constexpr int slotRole = Qt::UserRole + 1;

// "2,3 s" for a short read, "48 s", "1 min 45 s" for a long one.
QString DurationText(qint64 ms) {
    if (ms < 10000)
        return QLocale().toString(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
    const qint64 s = (ms + 500) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
}

// A model string fit for a file name, whatever the controller sent.
QString FileNameModel(const QString &model) {
    QString name;
    for (QChar c : model)
        name += c.isLetterOrNumber() && c.unicode() < 128 ? c : QChar(u'_');
    return name.isEmpty() ? QStringLiteral("Ondrel") : name;
}
} // namespace

TLogRelaysPage::TLogRelaysPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlLogRelays"),
            QStringLiteral("Relatório dos Eventos dos Reles"), parent),
      tabLogRelay(new QTabWidget),
      btnLogGet(Button(QStringLiteral("btnLogGet"), QStringLiteral("Ler LOG"))),
      btnLogCancel(Button(QStringLiteral("btnLogCancel"), QStringLiteral("Cancelar"))),
      btnLogClear(Button(QStringLiteral("btnLogClear"), QStringLiteral("Limpar"))),
      btnLogExport(Button(QStringLiteral("btnLogExport"), QStringLiteral("Exportar"))),
      btnLogXlsx(Button(QStringLiteral("btnLogXlsx"), QStringLiteral("Exportar planilha"))),
      edtLogMax(new QSpinBox), prgLog(new QProgressBar), lblLogProgress(new QLabel) {
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
        grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
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
    edtLogMax->setMinimumWidth(60);
    prgLog->setObjectName(QStringLiteral("prgLog"));
    prgLog->setRange(0, 1);
    prgLog->setValue(0);
    prgLog->setFormat(QString());
    prgLog->setMinimumWidth(220);
    lblLogProgress->setObjectName(QStringLiteral("lblLogProgress"));

    auto *progress = new QHBoxLayout;
    progress->addWidget(prgLog);
    progress->addWidget(lblLogProgress, 1);
    auto *buttons = new QHBoxLayout;
    auto *maxLabel = new QLabel(QStringLiteral("Máximo de leituras"));
    maxLabel->setBuddy(edtLogMax);
    buttons->addWidget(maxLabel);
    buttons->addWidget(edtLogMax);
    buttons->addStretch(1);
    btnLogXlsx->setAccessibleName(QStringLiteral("Exportar o LOG em planilha"));
    btnLogXlsx->setToolTip(QStringLiteral(
        "O LOG numa planilha (.xlsx): datas como datas e temperaturas como números, em qualquer "
        "planilha, sem configurar a importação."));
    for (QPushButton *b : {btnLogGet, btnLogCancel, btnLogClear, btnLogExport, btnLogXlsx})
        buttons->addWidget(b);
    Body()->addWidget(tabLogRelay, 1);
    Body()->addLayout(progress);
    Body()->addLayout(buttons);

    connect(btnLogGet, &QPushButton::clicked, this, &TLogRelaysPage::btnLogGetClick);
    BindKey(tPageKey::Read, btnLogGet);
    connect(btnLogCancel, &QPushButton::clicked, this, &TLogRelaysPage::btnLogCancelClick);
    connect(btnLogClear, &QPushButton::clicked, this, &TLogRelaysPage::btnLogClearClick);
    connect(btnLogExport, &QPushButton::clicked, this, &TLogRelaysPage::btnLogExportClick);
    connect(btnLogXlsx, &QPushButton::clicked, this, &TLogRelaysPage::btnLogXlsxClick);
}

void TLogRelaysPage::LoadSettings(const tSettings &s) {
    edtLogMax->setValue(s.LogMaxRead);
    tabLogRelay->setCurrentIndex(0);
    InitGridLogs();
}

void TLogRelaysPage::StoreSettings(tSettings &s) const {
    s.LogMaxRead = edtLogMax->value();
}

void TLogRelaysPage::btnLogGetClick() {
    if (reading || host.Session().Stopped())
        return;
    reading = true;
    readClock.start();
    tOndrel &dev = host.Ondrel();
    host.Report(0, QStringLiteral("Lendo LOG de eventos"));
    host.LogLine(QStringLiteral("Iniciado a leitura do LOG"));
    InitGridLogs();
    ButtonsLogState(false);
    // No status read may fall between the selection and the read of a slot.
    host.Session().SetRefresh(false);
    rowsModel = dev.Model;
    int n = edtLogMax->value();
    if (n < 1)
        n = 20;
    ReadLog(n);
}

tTask<int32_t> TLogRelaysPage::ReadLog(int n) {
    tOndrel &dev = host.Ondrel();
    auto info = [&] {
        if (dev.LogCountSlots < 1 || dev.LogLastSlot < 0)
            return;
        host.Report(0, QStringLiteral("    Quantidade de SLOTs %1 ").arg(dev.LogCountSlots));
        host.Report(0, QStringLiteral("    Último SLOT garavado %1").arg(dev.LogLastSlot));
        host.LogLine(QStringLiteral("Finalizado a leitura do LOG"));
        host.Report(clOK, QStringLiteral("Finalizado a leitura do LOG"));
        btnLogCancel->setEnabled(true);
        stsCom = host.Session().Stopped() ? 0 : 1;
        edtLogMax->setValue(n);
        walkClock.start();
    };
    // n + 1 slots, newest first, but none twice: a ring smaller than that
    // would list its events again as if they had happened twice.
    tTask<tLogWalkResult> walking = WalkLog(
        dev, {.send = [this](tCommand cmd) { return host.SendCommand(cmd); },
              .limit = n,
              .info = info,
              .progress = [this](int index, int total) { ShowProgress(index, total); },
              .selected =
                  [this](int32_t slot) { host.LogLine(QStringLiteral("lendo LOG %1").arg(slot)); },
              .slotRead =
                  [this](int32_t, const tSlotLog &log) {
                      PrintLog(log);
                      return true;
                  },
              .cancelled = [this] { return stsCom != 1; }});
    const tLogWalkResult walk = co_await walking;
    stsCom = 0;
    switch (walk.end) {
    case tLogWalkEnd::Failed:
        if (walk.failed != cmdGET_LOG_READ)
            host.ModbusError(walk.result);
        if (walk.failed == cmdSET_LOG_READ)
            host.LogLine(QStringLiteral("erro no envio do slot para ler [%1]").arg(walk.result));
        if (walk.failed == cmdGET_LOG_READ)
            host.LogLine(
                QStringLiteral("erro no envio do comando para ler o slot [%1]").arg(walk.result));
        break;
    case tLogWalkEnd::Empty:
        host.Report(0, QStringLiteral("    Não há informações de LOG"));
        host.LogLine(QStringLiteral("    Quantidade de SLOTs %1 ").arg(dev.LogCountSlots));
        host.LogLine(QStringLiteral("    Último SLOT garavado %1").arg(dev.LogLastSlot));
        break;
    case tLogWalkEnd::EndOfLog:
        if (walk.walked > walk.events)
            host.LogLine(QStringLiteral("    SLOT %1 vazio: fim do LOG").arg(dev.LogSlotRead));
        break;
    default:
        break;
    }
    EndRead(walk);
    co_return walk.result;
}

void TLogRelaysPage::ShowProgress(int index, int total) {
    prgLog->setRange(0, total);
    prgLog->setValue(index);
    prgLog->setFormat(QStringLiteral("Lendo %1 de %2").arg(index + 1).arg(total));
    QString left = QStringLiteral("calculando");
    if (index > 0)
        left = QStringLiteral("cerca de ") +
               DurationText(walkClock.elapsed() * (total - index) / index);
    lblLogProgress->setText(QStringLiteral("Tempo restante: ") + left);
}

void TLogRelaysPage::EndRead(const tLogWalkResult &walk) {
    ButtonsLogState(true);
    host.Session().SetRefresh(true);
    reading = false;
    const bool infoRead = walk.end != tLogWalkEnd::Empty &&
                          !(walk.end == tLogWalkEnd::Failed && walk.failed == cmdGET_LOG_INFO);
    if (!infoRead || walk.walked == 0) {
        prgLog->setRange(0, 1);
        prgLog->setValue(0);
        prgLog->setFormat(QString());
        lblLogProgress->clear();
        if (!infoRead)
            return;
    } else {
        // Whatever ended it, the read is over: a bar left at "12 de 21" would
        // look interrupted when the log simply ended there.
        prgLog->setRange(0, walk.walked);
        prgLog->setValue(walk.walked);
        prgLog->setFormat(QStringLiteral("%1 slots lidos").arg(walk.walked));
    }
    const QString figures = QStringLiteral("Eventos lidos: %1 em %2 (%3)")
                                .arg(Rows())
                                .arg(DurationText(readClock.elapsed()))
                                .arg(LogWalkEndText(walk.end));
    lblLogProgress->setText(figures);
    host.Report(0, figures);
}

void TLogRelaysPage::btnLogClearClick() {
    RunAction(host, {
                        .question = QStringLiteral("Esta função vai limpar o log dos eventos dos "
                                                   "reles.\rDeseja continuar?\r"),
                        .progress = QStringLiteral("Envio de comando para limpar o log dos reles"),
                        .commands = {cmdSET_LOG_CLEAR},
                        .success = QStringLiteral("Comando executado com sucesso"),
                    });
}

QString TLogRelaysPage::ExportName(const QDateTime &now) const {
    const QString model = rowsModel.isEmpty() ? host.Ondrel().Model : rowsModel;
    return QStringLiteral("%1-LOG-%2.csv")
        .arg(FileNameModel(model), now.toString(QStringLiteral("yyyyMMdd-HHmm")));
}

void TLogRelaysPage::btnLogExportClick() {
    Export(QStringLiteral("Planilha CSV (*.csv)"), QStringLiteral("csv"),
           [](const QString &path, const std::vector<tLogRow> &rows, QString *why) {
               return WriteWholeFile(path, LogCsv(rows), why);
           });
}

void TLogRelaysPage::btnLogXlsxClick() {
    Export(QStringLiteral("Planilha (*.xlsx)"), QStringLiteral("xlsx"), WriteLogSheet);
}

std::vector<tLogRow> TLogRelaysPage::ExportRows() const {
    // From the slots the rows were made of, so the file also carries each
    // reading as a number and the date and time in one cell.
    std::vector<tLogRow> rows;
    for (const QTableWidget *grid : stgRL)
        for (int i = 0; i < grid->rowCount(); ++i)
            if (const QTableWidgetItem *first = grid->item(i, 0))
                rows.push_back(LogRowOf(first->data(slotRole).value<tSlotLog>()));
    return rows;
}

void TLogRelaysPage::Export(const QString &filter, const QString &suffix,
                            bool (*write)(const QString &, const std::vector<tLogRow> &,
                                          QString *)) {
    QString name = ExportName(QDateTime::currentDateTime());
    name = name.left(name.lastIndexOf(u'.') + 1) + suffix;
    name = host.AskSaveFile(filter, name);
    if (name.isEmpty())
        return;
    QString why;
    if (write(name, ExportRows(), &why)) {
        host.Report(clOK, QStringLiteral("LOG dos relés salvo em %1").arg(name));
        return;
    }
    host.Report(clERROR, QStringLiteral("Não foi possível salvar o LOG dos relés em %1").arg(name));
    host.Warning(QStringLiteral("Não foi possível salvar o arquivo %1.\r%2").arg(name, why));
}

void TLogRelaysPage::InitGridLogs() {
    for (QTableWidget *grid : stgRL) {
        grid->setRowCount(0);
        grid->setProperty("tag", 0);
    }
}

void TLogRelaysPage::ButtonsLogState(bool enabled) {
    // The export too: its dialog would hold the read until it closed.
    for (QWidget *w : std::initializer_list<QWidget *>{btnLogGet, btnLogClear, edtLogMax,
                                                       btnLogExport, btnLogXlsx})
        w->setEnabled(enabled);
}

void TLogRelaysPage::PrintLog(const tSlotLog &slot) {
    PlotLog(stgRL[size_t((slot.event >> 2) & 3)], slot);
}

void TLogRelaysPage::PlotLog(QTableWidget *grid, const tSlotLog &slot) {
    const tLogRow row = LogRowOf(slot);
    const int r = grid->property("tag").toInt();
    grid->setRowCount(r + 1);
    const QString cells[colCount] = {row.operation, row.status, row.sensor,
                                     row.auxSensor, row.date,   row.time};
    for (int c = 0; c < colCount; ++c)
        grid->setItem(r, c, new QTableWidgetItem(cells[c]));
    grid->item(r, 0)->setData(slotRole, QVariant::fromValue(slot));
    grid->setProperty("tag", r + 1);
}

int TLogRelaysPage::Rows() const {
    int rows = 0;
    for (const QTableWidget *grid : stgRL)
        rows += grid->property("tag").toInt();
    return rows;
}

void TLogRelaysPage::SetRelayCount(int nRelay) {
    for (int r = 1; r < 4; ++r)
        tabLogRelay->setTabEnabled(r, nRelay > r);
}
