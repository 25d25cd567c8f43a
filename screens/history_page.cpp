#include "history_page.h"

#include "curve_painter.h"
#include "history_chart.h"
#include "history_report.h"
#include "readings_csv.h"
#include "screen_host.h"
#include "settings.h"
#include "temperature.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>
#include <QTimer>

namespace {
constexpr int64_t hourMs = 3'600'000;

// The range buttons: name, caption and span (0: the chosen period).
struct tRangeButton {
    THistoryPage::tRange range;
    const char *name;
    const char *caption;
    int64_t spanMs;
};
constexpr tRangeButton rangeButtons[] = {
    {THistoryPage::tRange::Hour, "btnHist1h", "1 h", hourMs},
    {THistoryPage::tRange::Day, "btnHist24h", "24 h", 24 * hourMs},
    {THistoryPage::tRange::Week, "btnHist7d", "7 d", 7 * 24 * hourMs},
    {THistoryPage::tRange::Month, "btnHist30d", "30 d", 30 * 24 * hourMs},
    {THistoryPage::tRange::Year, "btnHist1ano", "1 ano", 365 * 24 * hourMs},
    {THistoryPage::tRange::Period, "btnHistPeriodo", "Período", 0},
};
static_assert(std::size(rangeButtons) == 6);

// A limit box at its minimum means "no limit".
constexpr double noLimit = -1000.0;

QDoubleSpinBox *LimitBox(const QString &name, const QString &accessible) {
    auto *box = new QDoubleSpinBox;
    box->setObjectName(name);
    box->setAccessibleName(accessible);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setRange(noLimit, 999.9);
    box->setSpecialValueText(QStringLiteral("—"));
    box->setValue(noLimit);
    box->setKeyboardTracking(false);
    box->setFixedWidth(72);
    return box;
}

std::optional<int32_t> LimitOf(const QDoubleSpinBox *box) {
    if (box->value() <= noLimit)
        return std::nullopt;
    return boxToTenths(box->value());
}

// Day and time without the year, to fit the list; the year is in the range.
QString ShortTime(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd/MM HH:mm"));
}
} // namespace

THistoryPage::THistoryPage(ScreenHost &host_, QWidget *parent)
    : TPage(host_, QStringLiteral("pnlHist"), QStringLiteral("Histórico"), parent,
            QStringLiteral("lblHistTitle")),
      cbxHistController(new QComboBox), edtHistDe(new QDateTimeEdit), edtHistAte(new QDateTimeEdit),
      stgHistExc(new QTableWidget(0, 5)),
      btnHistReport(Button(QStringLiteral("btnHistReport"), QStringLiteral("Relatório"))),
      btnHistCsv(Button(QStringLiteral("btnHistCsv"), QStringLiteral("CSV"))),
      lblHistInfo(new QLabel), chart(new THistoryChart), edtRecInterval(new QSpinBox),
      edtHistKeep(new QSpinBox), liveRedraw(new QTimer(this)),
      clock([] { return QDateTime::currentDateTime(); }) {
    cbxHistController->setObjectName(QStringLiteral("cbxHistController"));
    cbxHistController->setAccessibleName(QStringLiteral("Controlador"));
    cbxHistController->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    btnHistReport->setAccessibleName(QStringLiteral("Relatório em PDF"));
    btnHistCsv->setAccessibleName(QStringLiteral("Leituras em CSV"));
    lblHistInfo->setObjectName(QStringLiteral("lblHistInfo"));

    auto *top = new QHBoxLayout;
    Body()->removeWidget(Title());
    top->addWidget(Title());
    top->addSpacing(12);
    top->addWidget(cbxHistController, 1);
    top->addWidget(btnHistReport);
    top->addWidget(btnHistCsv);
    Body()->addLayout(top);

    auto *ranges = new QHBoxLayout;
    ranges->setSpacing(2);
    auto *group = new QButtonGroup(this);
    for (size_t i = 0; i < std::size(rangeButtons); ++i) {
        const tRangeButton &row = rangeButtons[i];
        QPushButton *b = Button(QLatin1String(row.name), QString::fromUtf8(row.caption));
        b->setCheckable(true);
        b->setAccessibleName(row.spanMs ? QStringLiteral("Últimos %1").arg(b->text())
                                        : QStringLiteral("Período escolhido"));
        b->setMinimumWidth(48);
        group->addButton(b, int(i));
        ranges->addWidget(b);
        btnHistRange[i] = b;
    }
    connect(group, &QButtonGroup::idClicked, this, [this](int id) { SetRange(tRange(id)); });
    for (QDateTimeEdit *edit : {edtHistDe, edtHistAte}) {
        edit->setDisplayFormat(QStringLiteral("dd/MM/yy HH:mm"));
        edit->setCalendarPopup(true);
    }
    edtHistDe->setObjectName(QStringLiteral("edtHistDe"));
    edtHistDe->setAccessibleName(QStringLiteral("Início do período"));
    edtHistAte->setObjectName(QStringLiteral("edtHistAte"));
    edtHistAte->setAccessibleName(QStringLiteral("Fim do período"));
    ranges->addSpacing(8);
    ranges->addWidget(edtHistDe);
    ranges->addWidget(new QLabel(QStringLiteral("a")));
    ranges->addWidget(edtHistAte);
    ranges->addSpacing(8);
    ranges->addWidget(lblHistInfo, 1);
    Body()->addLayout(ranges);
    // Editing either end of the period shows that period.
    for (QDateTimeEdit *edit : {edtHistDe, edtHistAte})
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this] {
            if (!filling)
                SetRange(tRange::Period);
        });

    auto *side = new QVBoxLayout;
    auto *limits = new QGridLayout;
    limits->setHorizontalSpacing(4);
    limits->setVerticalSpacing(2);
    limits->addWidget(new QLabel(QStringLiteral("Limites")), 0, 0);
    limits->addWidget(new QLabel(QStringLiteral("Mínimo")), 0, 1);
    limits->addWidget(new QLabel(QStringLiteral("Máximo")), 0, 2);
    for (int k = 0; k < 4; ++k) {
        const QString n = QString::number(k + 1);
        auto *shown = new QCheckBox(QStringLiteral("Sensor ") + n);
        shown->setObjectName(QStringLiteral("cbxHistSensor") + n);
        shown->setAccessibleName(QStringLiteral("Mostrar o sensor ") + n);
        shown->setChecked(true);
        QPalette colored = shown->palette();
        colored.setColor(QPalette::WindowText, SensorColor(k));
        shown->setPalette(colored);
        cbxHistSensor[size_t(k)] = shown;
        edtHistMin[size_t(k)] = LimitBox(QStringLiteral("edtHistMin") + n,
                                         QStringLiteral("Limite mínimo do sensor ") + n);
        edtHistMax[size_t(k)] = LimitBox(QStringLiteral("edtHistMax") + n,
                                         QStringLiteral("Limite máximo do sensor ") + n);
        limits->addWidget(shown, k + 1, 0);
        limits->addWidget(edtHistMin[size_t(k)], k + 1, 1);
        limits->addWidget(edtHistMax[size_t(k)], k + 1, 2);
        connect(shown, &QCheckBox::toggled, this, [this] { Draw(); });
        for (QDoubleSpinBox *box : {edtHistMin[size_t(k)], edtHistMax[size_t(k)]})
            connect(box, &QDoubleSpinBox::valueChanged, this, [this] {
                if (!filling)
                    Redraw();
            });
    }
    side->addLayout(limits);

    stgHistExc->setObjectName(QStringLiteral("stgHistExc"));
    stgHistExc->setAccessibleName(QStringLiteral("Excursões"));
    stgHistExc->setHorizontalHeaderLabels({QStringLiteral("S"), QStringLiteral("Início"),
                                           QStringLiteral("Fim"), QStringLiteral("Dura"),
                                           QStringLiteral("Extremo")});
    stgHistExc->horizontalHeaderItem(3)->setToolTip(QStringLiteral("Duração"));
    stgHistExc->verticalHeader()->setVisible(false);
    stgHistExc->verticalHeader()->setDefaultSectionSize(18);
    stgHistExc->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    stgHistExc->horizontalHeader()->setMinimumSectionSize(14);
    stgHistExc->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stgHistExc->setSelectionBehavior(QAbstractItemView::SelectRows);
    QFont small = stgHistExc->font();
    small.setPointSize(8);
    stgHistExc->setFont(small);
    side->addWidget(stgHistExc, 1);

    // The recording, whatever page is shown while connected.
    edtRecInterval->setObjectName(QStringLiteral("edtRecInterval"));
    edtRecInterval->setRange(1, 86400);
    edtRecInterval->setValue(60);
    edtRecInterval->setSuffix(QStringLiteral(" s"));
    edtRecInterval->setAccessibleName(QStringLiteral("Intervalo de registro"));
    edtRecInterval->setToolTip(QStringLiteral(
        "Enquanto conectado, uma leitura a cada tantos segundos vai para o histórico, seja qual "
        "for a tela; um relé ou um sensor que muda de estado vai na hora."));
    edtHistKeep->setObjectName(QStringLiteral("edtHistKeep"));
    edtHistKeep->setRange(0, 36500);
    edtHistKeep->setSuffix(QStringLiteral(" dias"));
    edtHistKeep->setSpecialValueText(QStringLiteral("sempre"));
    edtHistKeep->setAccessibleName(QStringLiteral("Reter histórico por"));
    edtHistKeep->setToolTip(QStringLiteral(
        "As leituras mais antigas que isto são apagadas do histórico de tempos em tempos; "
        "\"sempre\" guarda tudo."));
    auto *recording = new QGridLayout;
    const auto labelled = [recording](int row, const QString &text, QSpinBox *box) {
        auto *label = new QLabel(text);
        label->setBuddy(box);
        recording->addWidget(label, row, 0);
        recording->addWidget(box, row, 1);
    };
    labelled(0, QStringLiteral("Intervalo de registro"), edtRecInterval);
    labelled(1, QStringLiteral("Reter histórico por"), edtHistKeep);
    recording->setColumnStretch(1, 1);
    side->addLayout(recording);
    const auto recordingChanged = [this] {
        Q_EMIT this->recordingChanged(edtRecInterval->value(), edtHistKeep->value());
    };
    connect(edtRecInterval, &QSpinBox::valueChanged, this, recordingChanged);
    connect(edtHistKeep, &QSpinBox::valueChanged, this, recordingChanged);
    // A double click on an excursion shows it, with a little of before and after.
    connect(stgHistExc, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (row < 0 || size_t(row) >= excursions.size())
            return;
        const tHistExcursion &e = excursions[size_t(row)].second;
        const int64_t margin = std::max<int64_t>((e.endMs - e.startMs) / 2, 15 * 60'000);
        filling = true;
        edtHistDe->setDateTime(QDateTime::fromMSecsSinceEpoch(e.startMs - margin));
        edtHistAte->setDateTime(QDateTime::fromMSecsSinceEpoch(e.endMs + margin));
        filling = false;
        SetRange(tRange::Period);
    });

    auto *middle = new QHBoxLayout;
    middle->addWidget(chart, 1);
    auto *sideBox = new QWidget;
    sideBox->setObjectName(QStringLiteral("pnlHistSide"));
    sideBox->setLayout(side);
    side->setContentsMargins(0, 0, 0, 0);
    sideBox->setFixedWidth(280);
    middle->addWidget(sideBox);
    Body()->addLayout(middle, 1);

    connect(cbxHistController, &QComboBox::currentIndexChanged, this, [this] {
        if (!filling) {
            live.clear();
            Redraw();
        }
    });
    connect(btnHistReport, &QPushButton::clicked, this, &THistoryPage::btnHistReportClick);
    connect(btnHistCsv, &QPushButton::clicked, this, &THistoryPage::btnHistCsvClick);

    // Live readings redraw once the burst that brought them has passed.
    liveRedraw->setSingleShot(true);
    liveRedraw->setInterval(50);
    connect(liveRedraw, &QTimer::timeout, this, [this] {
        const int64_t sinceQuery = lastQuery.msecsTo(clock());
        if (requery || sinceQuery < 0 || sinceQuery >= std::max<int64_t>(curve.bucketMs, 5000))
            Redraw(); // the range moves on with the clock, or the columns changed
        else
            Draw();
    });

    btnHistRange[size_t(range)]->setChecked(true);
    RangeFromNow();
    SetStore(nullptr);
}

void THistoryPage::LoadSettings(const tSettings &s) {
    edtRecInterval->setValue(s.RecordInterval);
    edtHistKeep->setValue(s.HistoryKeepDays);
}

void THistoryPage::StoreSettings(tSettings &s) const {
    s.RecordInterval = edtRecInterval->value();
    s.HistoryKeepDays = edtHistKeep->value();
}

THistoryPage::~THistoryPage() {
    if (searchCancel)
        searchCancel->store(true);
    for (QThread *worker : workers) {
        worker->wait();
        delete worker;
    }
}

void THistoryPage::SetStore(tHistoryStore *s) {
    store = s;
    for (QWidget *w :
         std::initializer_list<QWidget *>{btnHistReport, btnHistCsv, cbxHistController})
        w->setEnabled(store != nullptr);
    FillControllers();
    Redraw();
}

void THistoryPage::SetConnected(const tHistController &c) {
    connected = c;
    live.clear();
    FillControllers();
    Redraw();
}

int64_t THistoryPage::ControllerShown() const {
    return cbxHistController->currentData().toLongLong();
}

tSensorLimits THistoryPage::Limits() const {
    tSensorLimits limits;
    for (size_t k = 0; k < 4; ++k) {
        limits[k].low = LimitOf(edtHistMin[k]);
        limits[k].high = LimitOf(edtHistMax[k]);
    }
    return limits;
}

void THistoryPage::VisitRead() {
    FillControllers();
    Redraw();
}

void THistoryPage::FillControllers() {
    filling = true;
    const int64_t before = ControllerShown();
    cbxHistController->clear();
    int64_t chosen = 0;
    if (store) {
        for (const tHistController &c : store->Controllers()) {
            const bool isConnected = c.port == connected.port && c.address == connected.address &&
                                     c.model == connected.model && c.firmware == connected.firmware;
            cbxHistController->addItem(
                ControllerText(c) + (isConnected ? QStringLiteral(" – conectado") : QString()),
                qint64(c.id));
            if (isConnected)
                chosen = c.id;
        }
    }
    // The connected controller first; else the one shown before; else the last.
    int index = cbxHistController->findData(qint64(chosen ? chosen : before));
    if (index < 0)
        index = cbxHistController->count() - 1;
    cbxHistController->setCurrentIndex(index);
    filling = false;
}

void THistoryPage::SetRange(tRange r) {
    range = r;
    btnHistRange[size_t(r)]->setChecked(true);
    if (r == tRange::Period) {
        fromMs = edtHistDe->dateTime().toMSecsSinceEpoch();
        toMs = edtHistAte->dateTime().toMSecsSinceEpoch();
    } else {
        RangeFromNow();
    }
    Redraw();
}

void THistoryPage::RangeFromNow() {
    if (range == tRange::Period)
        return;
    const int64_t span = rangeButtons[size_t(range)].spanMs;
    // The end on the next whole minute, so a minute's readings all show.
    const int64_t now = clock().toMSecsSinceEpoch();
    toMs = (now / 60'000 + 1) * 60'000;
    fromMs = toMs - span;
    filling = true;
    edtHistDe->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs));
    edtHistAte->setDateTime(QDateTime::fromMSecsSinceEpoch(toMs));
    filling = false;
}

void THistoryPage::Redraw() {
    requery = false;
    RangeFromNow();
    lastQuery = clock();
    const int64_t controller = ControllerShown();
    if (!store || !controller || toMs <= fromMs) {
        curve = tCurve();
        curve.fromMs = fromMs;
        curve.toMs = std::max(toMs, fromMs + 1);
        excursions.clear();
        lblHistInfo->setText(!store           ? QStringLiteral("Histórico indisponível")
                             : toMs <= fromMs ? QStringLiteral("O fim vem antes do início")
                                              : QStringLiteral("Nenhum controlador no histórico"));
        ListExcursions();
        Draw();
        return;
    }
    unit = LatestUnit(*store, controller);
    for (size_t k = 0; k < 4; ++k) {
        edtHistMin[k]->setSuffix(u' ' + unitText(unit));
        edtHistMax[k]->setSuffix(u' ' + unitText(unit));
    }
    const tSensorLimits limits = Limits();
    curve = LoadCurve(*store, controller, fromMs, toMs, chart->Columns(), limits, unit);
    FindExcursions(controller, limits);
    const auto span = store->ReadingSpan(controller);
    const std::vector<tHistReading> newer(live.begin(), live.end());
    AddReadings(curve, newer, span ? span->second : 0);
    Draw();
}

void THistoryPage::FindExcursions(int64_t controller, const tSensorLimits &limits) {
    // A search still running for an earlier range stops at its next sensor.
    if (searchCancel)
        searchCancel->store(true);
    searchCancel.reset();
    excursions.clear();
    std::array<bool, 4> wanted{};
    for (size_t k = 0; k < 4; ++k)
        wanted[k] = curve.HasSensor(int(k)) && (limits[k].low || limits[k].high);
    if (std::none_of(wanted.begin(), wanted.end(), [](bool w) { return w; })) {
        ListExcursions();
        lblHistInfo->clear();
        return;
    }
    stgHistExc->setRowCount(0);
    lblHistInfo->setText(QStringLiteral("Procurando excursões..."));
    // A year of readings takes seconds to walk: the search runs on its own
    // connection to the file, beside the window, and lists when done.
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    searchCancel = cancel;
    const QString path = store->Path();
    const int64_t from = fromMs, to = toMs;
    const int32_t inUnit = unit;
    QThread *worker = QThread::create([=, this] {
        std::vector<std::pair<int, tHistExcursion>> found;
        QString failure;
        {
            tHistoryStore reader;
            if (!reader.Open(path, tHistoryStore::tAccess::Read))
                failure = reader.Message();
            for (size_t k = 0; k < 4 && failure.isEmpty() && !*cancel; ++k) {
                if (!wanted[k])
                    continue;
                for (const tHistExcursion &e :
                     reader.Excursions(controller, int(k), from, to, limits[k], inUnit))
                    found.emplace_back(int(k), e);
                if (reader.LastFailed())
                    failure = reader.Message();
            }
        }
        std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
            return a.second.startMs < b.second.startMs;
        });
        QMetaObject::invokeMethod(
            this,
            [this, cancel, found = std::move(found), failure] {
                if (*cancel)
                    return;
                searchCancel.reset();
                excursions = found;
                ListExcursions();
                lblHistInfo->setText(!failure.isEmpty()   ? failure
                                     : excursions.empty() ? QStringLiteral("Nenhuma excursão")
                                     : excursions.size() == 1
                                         ? QStringLiteral("1 excursão")
                                         : QStringLiteral("%1 excursões").arg(excursions.size()));
            },
            Qt::QueuedConnection);
    });
    workers.push_back(worker);
    connect(worker, &QThread::finished, this, [this, worker] {
        workers.erase(std::remove(workers.begin(), workers.end(), worker), workers.end());
        worker->deleteLater();
    });
    worker->start(QThread::LowPriority);
}

void THistoryPage::Draw() {
    std::array<bool, 4> shown{};
    for (size_t k = 0; k < 4; ++k) {
        shown[k] = cbxHistSensor[k]->isChecked();
        cbxHistSensor[k]->setEnabled(curve.HasSensor(int(k)));
    }
    chart->Show(curve, shown);
}

void THistoryPage::ListExcursions() {
    stgHistExc->setRowCount(int(excursions.size()));
    const QString u = unitText(unit);
    for (int row = 0; row < int(excursions.size()); ++row) {
        const auto &[k, e] = excursions[size_t(row)];
        const QStringList cells{QString::number(k + 1), ShortTime(e.startMs),
                                e.ongoing ? QStringLiteral("em curso") : ShortTime(e.endMs),
                                DurationText(e.endMs - e.startMs),
                                (e.high ? QStringLiteral("↑ ") : QStringLiteral("↓ ")) +
                                    TenthsFixed(e.extreme) + u' ' + u};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c == 0)
                item->setForeground(SensorColor(k));
            stgHistExc->setItem(row, c, item);
        }
    }
}

void THistoryPage::AddLive(const tHistReading &r) {
    if (!store || r.controller != ControllerShown())
        return;
    live.push_back(r);
    while (!live.empty() && live.front().utcMs < r.utcMs - hourMs)
        live.pop_front();
    if (range == tRange::Period)
        return;
    AddReadings(curve, {r}, 0);
    if (!liveRedraw->isActive())
        liveRedraw->start();
}

QString THistoryPage::FileName(const QString &kind, const QString &suffix) const {
    QString model = QStringLiteral("Ondrel");
    if (store)
        for (const tHistController &c : store->Controllers())
            if (c.id == ControllerShown())
                model = QStringLiteral("%1-%2").arg(c.model).arg(c.address);
    model.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return QStringLiteral("%1-%2-%3.%4")
        .arg(model, kind, clock().toString(QStringLiteral("yyyyMMdd-HHmm")), suffix);
}

void THistoryPage::btnHistReportClick() {
    if (!store || !ControllerShown())
        return;
    const QString path =
        host.AskSaveFile(QStringLiteral("Documento PDF (*.pdf)"),
                         FileName(QStringLiteral("historico"), QStringLiteral("pdf")));
    if (path.isEmpty())
        return;
    host.Report(clOK, QStringLiteral("Gerando relatório do histórico"));
    host.Msg(QStringLiteral("Gerando relatório do histórico..."));
    QString why;
    const bool done =
        WriteHistoryReport(*store, ControllerShown(), fromMs, toMs, Limits(), path, &why);
    host.HideMsg();
    if (done) {
        host.Report(clOK, QStringLiteral("Relatório salvo em %1").arg(path));
        return;
    }
    host.Report(clERROR, QStringLiteral("Não foi possível salvar o relatório em %1").arg(path));
    host.Warning(QStringLiteral("Não foi possível salvar o arquivo %1.\r%2").arg(path, why));
}

void THistoryPage::btnHistCsvClick() {
    if (!store || !ControllerShown())
        return;
    const QString path =
        host.AskSaveFile(QStringLiteral("Planilha CSV (*.csv)"),
                         FileName(QStringLiteral("leituras"), QStringLiteral("csv")));
    if (path.isEmpty())
        return;
    QString why;
    if (WriteReadingsCsv(*store, ControllerShown(), fromMs, toMs, path, &why)) {
        host.Report(clOK, QStringLiteral("Leituras salvas em %1").arg(path));
        return;
    }
    host.Report(clERROR, QStringLiteral("Não foi possível salvar as leituras em %1").arg(path));
    host.Warning(QStringLiteral("Não foi possível salvar o arquivo %1.\r%2").arg(path, why));
}

void THistoryPage::resizeEvent(QResizeEvent *event) {
    TPage::resizeEvent(event);
    // The columns follow the plot's width: asked again once the size settles.
    requery = true;
    if (isVisible())
        liveRedraw->start();
}

// Compiled here rather than with the library's other meta-objects, so a
// program that never shows the history does not load the plotting library.
#include "moc_history_page.cpp"
