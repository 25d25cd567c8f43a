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
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
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

// A list in the page's small print, a row at a time.
void ListStyle(QTableWidget *list) {
    list->verticalHeader()->setVisible(false);
    list->verticalHeader()->setDefaultSectionSize(18);
    list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->horizontalHeader()->setStretchLastSection(true);
    list->horizontalHeader()->setMinimumSectionSize(14);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    QFont small = list->font();
    small.setPointSize(8);
    list->setFont(small);
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
      stgHistExc(new QTableWidget(0, 5)), tabHistSide(new QTabWidget),
      stgHistAlarm(new QTableWidget(0, 6)), edtHistAlarmComment(new QLineEdit),
      btnHistAck(Button(QStringLiteral("btnHistAck"), QStringLiteral("Reconhecer"))),
      btnHistReport(Button(QStringLiteral("btnHistReport"), QStringLiteral("Relatório"))),
      btnHistCsv(Button(QStringLiteral("btnHistCsv"), QStringLiteral("CSV"))),
      btnHistXlsx(Button(QStringLiteral("btnHistXlsx"), QStringLiteral("Exportar planilha"))),
      lblHistInfo(new QLabel), chart(new THistoryChart),
      cbxHistFit(new QCheckBox(QStringLiteral("Ajustar aos dados"))), edtRecInterval(new QSpinBox),
      edtHistKeep(new QSpinBox), liveRedraw(new QTimer(this)),
      clock([] { return QDateTime::currentDateTime(); }) {
    cbxHistController->setObjectName(QStringLiteral("cbxHistController"));
    cbxHistController->setAccessibleName(QStringLiteral("Controlador"));
    cbxHistController->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    btnHistReport->setAccessibleName(QStringLiteral("Relatório em PDF"));
    btnHistCsv->setAccessibleName(QStringLiteral("Leituras em CSV"));
    btnHistXlsx->setAccessibleName(QStringLiteral("Leituras em planilha"));
    btnHistXlsx->setToolTip(QStringLiteral(
        "As leituras numa planilha (.xlsx): datas como datas e temperaturas como números, em "
        "qualquer planilha, sem configurar a importação."));
    lblHistInfo->setObjectName(QStringLiteral("lblHistInfo"));

    auto *top = new QHBoxLayout;
    Body()->removeWidget(Title());
    top->addWidget(Title());
    top->addSpacing(12);
    top->addWidget(cbxHistController, 1);
    top->addWidget(btnHistReport);
    top->addWidget(btnHistCsv);
    top->addWidget(btnHistXlsx);
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
    cbxHistFit->setObjectName(QStringLiteral("cbxHistFit"));
    cbxHistFit->setAccessibleName(QStringLiteral("Ajustar a curva aos dados"));
    cbxHistFit->setToolTip(QStringLiteral(
        "Estreita a curva ao trecho do período que tem leituras, para que poucas leituras num "
        "período longo não fiquem num fio à beira do gráfico."));
    connect(cbxHistFit, &QCheckBox::toggled, this, [this] { Redraw(); });
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
        for (QDoubleSpinBox *box : {edtHistMin[size_t(k)], edtHistMax[size_t(k)]}) {
            box->setToolTip(QStringLiteral(
                "O limite de alarme do sensor, guardado no histórico: a janela, o registrar e o "
                "publicar avisam quando a temperatura sai dele."));
            connect(box, &QDoubleSpinBox::valueChanged, this, [this, k] {
                if (filling)
                    return;
                LimitEdited(size_t(k));
                Redraw();
            });
        }
    }
    side->addWidget(cbxHistFit);
    side->addLayout(limits);

    stgHistExc->setObjectName(QStringLiteral("stgHistExc"));
    stgHistExc->setAccessibleName(QStringLiteral("Excursões"));
    stgHistExc->setHorizontalHeaderLabels({QStringLiteral("S"), QStringLiteral("Início"),
                                           QStringLiteral("Fim"), QStringLiteral("Duração"),
                                           QStringLiteral("Extremo")});
    stgHistExc->horizontalHeaderItem(0)->setToolTip(QStringLiteral("Sensor"));
    ListStyle(stgHistExc);

    stgHistAlarm->setObjectName(QStringLiteral("stgHistAlarm"));
    stgHistAlarm->setAccessibleName(QStringLiteral("Alarmes"));
    stgHistAlarm->setHorizontalHeaderLabels({QStringLiteral("Nº"), QStringLiteral("Alarme"),
                                             QStringLiteral("Início"), QStringLiteral("Duração"),
                                             QStringLiteral("Extremo"), QStringLiteral("Rec.")});
    stgHistAlarm->horizontalHeaderItem(5)->setToolTip(QStringLiteral("Reconhecido"));
    stgHistAlarm->setSelectionMode(QAbstractItemView::SingleSelection);
    ListStyle(stgHistAlarm);
    // Every row in the height the window leaves; each row's tip has it all.
    stgHistAlarm->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edtHistAlarmComment->setObjectName(QStringLiteral("edtHistAlarmComment"));
    edtHistAlarmComment->setAccessibleName(QStringLiteral("Comentário do reconhecimento"));
    edtHistAlarmComment->setPlaceholderText(QStringLiteral("Comentário"));
    edtHistAlarmComment->setMaxLength(500);
    btnHistAck->setAccessibleName(QStringLiteral("Reconhecer o alarme escolhido"));
    btnHistAck->setToolTip(QStringLiteral(
        "Registra no histórico quem viu o alarme escolhido, quando, e o comentário."));
    btnHistAck->setEnabled(false);
    connect(stgHistAlarm, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = stgHistAlarm->selectedItems().isEmpty() ? -1 : stgHistAlarm->currentRow();
        btnHistAck->setEnabled(row >= 0);
        if (!listing)
            chosenEpisode =
                row >= 0 && size_t(row) < episodes.size() ? episodes[size_t(row)].id : 0;
    });
    connect(btnHistAck, &QPushButton::clicked, this, &THistoryPage::btnHistAckClick);
    connect(edtHistAlarmComment, &QLineEdit::returnPressed, this, [this] {
        if (btnHistAck->isEnabled())
            btnHistAckClick();
    });
    auto *alarmTab = new QWidget;
    alarmTab->setObjectName(QStringLiteral("pnlHistAlarms"));
    auto *alarmLayout = new QVBoxLayout(alarmTab);
    alarmLayout->setContentsMargins(0, 2, 0, 0);
    alarmLayout->setSpacing(2);
    alarmLayout->addWidget(stgHistAlarm, 1);
    auto *ackRow = new QHBoxLayout;
    ackRow->addWidget(edtHistAlarmComment, 1);
    ackRow->addWidget(btnHistAck);
    alarmLayout->addLayout(ackRow);

    tabHistSide->setObjectName(QStringLiteral("tabHistSide"));
    tabHistSide->setAccessibleName(QStringLiteral("Excursões, alarmes e registro"));
    tabHistSide->addTab(stgHistExc, QStringLiteral("Excursões"));
    tabHistSide->addTab(alarmTab, QStringLiteral("Alarmes"));
    side->addWidget(tabHistSide, 1);

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
    recording->setRowStretch(2, 1);
    // A tab of its own: the lists want the page's height.
    auto *recordingTab = new QWidget;
    recordingTab->setObjectName(QStringLiteral("pnlHistRecording"));
    recordingTab->setLayout(recording);
    tabHistSide->addTab(recordingTab, QStringLiteral("Registro"));
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
        ShowStretch(e.startMs, e.endMs);
    });
    connect(stgHistAlarm, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        if (row < 0 || size_t(row) >= episodes.size())
            return;
        const tAlarmEpisode &e = episodes[size_t(row)];
        ShowStretch(e.startMs, e.endMs.value_or(clock().toMSecsSinceEpoch()));
    });

    auto *middle = new QHBoxLayout;
    middle->addWidget(chart, 1);
    auto *sideBox = new QWidget;
    sideBox->setObjectName(QStringLiteral("pnlHistSide"));
    sideBox->setLayout(side);
    side->setContentsMargins(0, 0, 0, 0);
    sideBox->setFixedWidth(300);
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
    connect(btnHistXlsx, &QPushButton::clicked, this, &THistoryPage::btnHistXlsxClick);

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

void THistoryPage::ShowStretch(int64_t startMs, int64_t endMs) {
    const int64_t margin = std::max<int64_t>((endMs - startMs) / 2, 15 * 60'000);
    filling = true;
    edtHistDe->setDateTime(QDateTime::fromMSecsSinceEpoch(startMs - margin));
    edtHistAte->setDateTime(QDateTime::fromMSecsSinceEpoch(endMs + margin));
    filling = false;
    SetRange(tRange::Period);
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
    for (QWidget *w : std::initializer_list<QWidget *>{btnHistReport, btnHistCsv, btnHistXlsx,
                                                       cbxHistController})
        w->setEnabled(store != nullptr);
    limitsOf = -1;
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
        episodes.clear();
        ListEpisodes();
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
    if (controller != limitsOf)
        LoadLimits();
    const tSensorLimits limits = Limits();
    curve = LoadCurve(*store, controller, fromMs, toMs, chart->Columns(), limits, unit);
    if (cbxHistFit->isChecked())
        FitToData(controller, limits);
    LoadEpisodes();
    FindExcursions(controller, limits);
    const auto span = store->ReadingSpan(controller);
    const std::vector<tStatusReading> newer(live.begin(), live.end());
    AddReadings(curve, newer, span ? span->second : 0);
    Draw();
}

void THistoryPage::FitToData(int64_t controller, const tSensorLimits &limits) {
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const auto &buckets : curve.sensors)
        if (!buckets.empty()) {
            first = std::min(first, buckets.front().firstMs);
            last = std::max(last, buckets.back().lastMs);
        }
    if (first > last)
        return;
    // A little room either side, so the first and last readings do not sit
    // on the frame.
    const int64_t margin = std::max<int64_t>((last - first) / 20, 5'000);
    const int64_t from = std::max(fromMs, first - margin);
    const int64_t to = std::min(toMs, last + margin + 1);
    if (to - from < (toMs - fromMs) * 9 / 10)
        curve = LoadCurve(*store, controller, from, to, chart->Columns(), limits, unit);
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

std::optional<tHistController> THistoryPage::Shown() const {
    const int64_t id = ControllerShown();
    if (store && id)
        for (const tHistController &c : store->Controllers())
            if (c.id == id)
                return c;
    return std::nullopt;
}

void THistoryPage::LoadLimits() {
    limitsOf = ControllerShown();
    alarmSettings = {};
    if (const auto c = Shown()) {
        tAlarmStore alarms(*store);
        alarmSettings = alarms.Settings(c->port, c->address);
    }
    const tSensorLimits shown = AlarmSensorLimits(alarmSettings, unit);
    const auto box = [](const std::optional<int32_t> &tenths) {
        return tenths ? tenthsToBox(*tenths) : noLimit;
    };
    filling = true;
    for (size_t k = 0; k < 4; ++k) {
        edtHistMin[k]->setValue(box(shown[k].low));
        edtHistMax[k]->setValue(box(shown[k].high));
    }
    filling = false;
}

void THistoryPage::LimitEdited(size_t k) {
    const auto c = Shown();
    if (!c)
        return;
    // Delay and hysteresis stay as stored; the values are in the unit the
    // boxes show.
    tAlarmLimits l = alarmSettings.sensor[k];
    l.hysteresis = ConvertTenths(l.hysteresis, l.unit, unit) - ConvertTenths(0, l.unit, unit);
    l.unit = unit;
    l.low = LimitOf(edtHistMin[k]);
    l.high = LimitOf(edtHistMax[k]);
    alarmSettings.sensor[k] = l;
    Q_EMIT limitsEdited(c->port, c->address, int32_t(k + 1),
                        l.Any() ? std::optional(l) : std::nullopt);
}

void THistoryPage::AlarmsChanged() {
    LoadEpisodes();
    Draw();
}

void THistoryPage::LimitsSaved(bool ok) {
    if (ok)
        return; // the boxes show what went in
    limitsOf = -1;
    Redraw();
}

void THistoryPage::LoadEpisodes() {
    episodes.clear();
    if (const auto c = Shown()) {
        tAlarmStore alarms(*store);
        episodes = alarms.Episodes(fromMs, toMs, c->port, c->address);
        // Newest first: an alarm open now is the one looked for.
        std::reverse(episodes.begin(), episodes.end());
    }
    curve.alarms = AlarmShades(episodes, curve.fromMs, curve.toMs, clock().toMSecsSinceEpoch());
    ListEpisodes();
}

void THistoryPage::ListEpisodes() {
    // The rows are rebuilt: the episode chosen stays chosen, wherever it is now.
    listing = true;
    stgHistAlarm->clearSelection();
    stgHistAlarm->setRowCount(int(episodes.size()));
    const int64_t now = clock().toMSecsSinceEpoch();
    int open = 0;
    for (int row = 0; row < int(episodes.size()); ++row) {
        const tAlarmEpisode &e = episodes[size_t(row)];
        open += e.IsOpen();
        // Short, to fit the side; the tip says it all.
        const QString condition = e.condition == tAlarmCondition::High ? QStringLiteral("acima")
                                  : e.condition == tAlarmCondition::Low
                                      ? QStringLiteral("abaixo")
                                      : AlarmConditionText(e.condition);
        const QStringList cells{
            QString::number(e.id),
            (e.sensor ? QStringLiteral("S%1 ").arg(e.sensor) : QString()) + condition,
            ShortTime(e.startMs),
            DurationText(e.endMs.value_or(now) - e.startMs),
            e.extreme ? TenthsFixed(*e.extreme) + u' ' + unitText(e.unit) : QString(),
            e.acks.empty() ? QString() : QStringLiteral("sim")};
        QStringList tip{QStringLiteral("Alarme %1: %2%3")
                            .arg(e.id)
                            .arg(e.sensor ? QStringLiteral("sensor %1 ").arg(e.sensor) : QString(),
                                 AlarmConditionText(e.condition)),
                        QStringLiteral("Início: %1").arg(ShortTime(e.startMs)),
                        e.endMs ? QStringLiteral("Fim: %1").arg(ShortTime(*e.endMs))
                                : QStringLiteral("Em aberto")};
        for (const tAlarmAck &a : e.acks)
            tip << QStringLiteral("Reconhecido por %1 em %2: %3")
                       .arg(a.user, ShortTime(a.utcMs), a.comment);
        for (int col = 0; col < cells.size(); ++col) {
            auto *item = new QTableWidgetItem(cells[col]);
            item->setToolTip(tip.join(u'\n'));
            if (col == 1 && e.sensor)
                item->setForeground(SensorColor(e.sensor - 1));
            if (e.IsOpen()) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            stgHistAlarm->setItem(row, col, item);
        }
        if (e.id == chosenEpisode)
            stgHistAlarm->selectRow(row);
    }
    listing = false;
    btnHistAck->setEnabled(!stgHistAlarm->selectedItems().isEmpty());
    tabHistSide->setTabText(1, open ? QStringLiteral("Alarmes (%1)").arg(open)
                                    : QStringLiteral("Alarmes"));
    tabHistSide->setTabToolTip(1, open == 1 ? QStringLiteral("1 alarme em aberto")
                                  : open    ? QStringLiteral("%1 alarmes em aberto").arg(open)
                                            : QString());
}

void THistoryPage::btnHistAckClick() {
    if (!chosenEpisode)
        return;
    const QString comment = edtHistAlarmComment->text().trimmed();
    if (comment.isEmpty()) {
        host.Warning(QStringLiteral("Escreva um comentário para reconhecer o alarme %1: o que "
                                    "foi visto ou feito.")
                         .arg(chosenEpisode));
        edtHistAlarmComment->setFocus();
        return;
    }
    Q_EMIT acknowledged(chosenEpisode, comment);
}

void THistoryPage::Acknowledged(int64_t, bool ok) {
    if (ok)
        edtHistAlarmComment->clear();
    AlarmsChanged();
}

void THistoryPage::AddLive(int64_t controller, const tStatusReading &r) {
    if (!store || controller != ControllerShown())
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
    // The period drawn: narrowed to the readings when the curve is.
    const bool fitted = cbxHistFit->isChecked() && !curve.Empty();
    const bool done = WriteHistoryReport(*store, ControllerShown(), fitted ? curve.fromMs : fromMs,
                                         fitted ? curve.toMs : toMs, Limits(), path, &why);
    host.HideMsg();
    if (done) {
        host.Report(clOK, QStringLiteral("Relatório salvo em %1").arg(path));
        return;
    }
    host.Report(clERROR, QStringLiteral("Não foi possível salvar o relatório em %1").arg(path));
    host.Warning(QStringLiteral("Não foi possível salvar o arquivo %1.\r%2").arg(path, why));
}

void THistoryPage::btnHistCsvClick() {
    ExportReadings(QStringLiteral("Planilha CSV (*.csv)"), QStringLiteral("csv"), WriteReadingsCsv);
}

void THistoryPage::btnHistXlsxClick() {
    ExportReadings(QStringLiteral("Planilha (*.xlsx)"), QStringLiteral("xlsx"), WriteReadingsSheet);
}

void THistoryPage::ExportReadings(const QString &filter, const QString &suffix,
                                  const tReadingsWriter &write) {
    if (!store || !ControllerShown())
        return;
    const QString path = host.AskSaveFile(filter, FileName(QStringLiteral("leituras"), suffix));
    if (path.isEmpty())
        return;
    QString why;
    if (write(*store, ControllerShown(), fromMs, toMs, path, &why)) {
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
