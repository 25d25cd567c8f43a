#include "history_report.h"

#include "curve_painter.h"
#include "history_tap.h"
#include "readings_csv.h"
#include "temperature.h"
#include "u_modbus.h"
#include "u_ondrel.h"
#include "whole_file.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {
// Columns of the curve on paper: finer than the printer needs for a month.
constexpr int reportColumns = 900;
// A controller whose newest reading is younger than this is still recorded.
constexpr int64_t liveReadingMs = 5 * 60 * 1000;

// Everything the report shows, read from the store before the first page.
struct tReportData {
    tHistController controller;
    int32_t unit = 0;
    tCurve curve;
    std::array<std::vector<tHistDay>, 4> days;
    std::array<std::vector<tHistExcursion>, 4> excursions;
    std::array<int, 4> switchOns{}, switchOffs{};
    std::array<double, 4> onShare{-1, -1, -1, -1};
    std::vector<tHistAuditEntry> audits;
    int64_t newestMs = 0; // the controller's newest reading, in the period or not
    std::optional<tHistChainLink> chainHead;
    std::vector<tHistClockStep> clockSteps;
};

QString TimeText(int64_t utcMs, const QLocale &locale, bool seconds = false) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(utcMs);
    return locale.toString(t.date(), QStringLiteral("dd/MM/yyyy")) + u' ' +
           t.time().toString(seconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

QString OffsetText(int64_t utcMs) {
    const int offset = QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
    return QStringLiteral("UTC%1%2:%3")
        .arg(offset < 0 ? QStringLiteral("−") : QStringLiteral("+"))
        .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
        .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

QString LimitsText(const tHistLimits &l, int32_t unit) {
    const QString u = unitText(unit);
    if (l.low && l.high)
        return QStringLiteral("%1 a %2 %3").arg(TenthsFixed(*l.low), TenthsFixed(*l.high), u);
    if (l.low)
        return QStringLiteral("mínimo %1 %2").arg(TenthsFixed(*l.low), u);
    if (l.high)
        return QStringLiteral("máximo %1 %2").arg(TenthsFixed(*l.high), u);
    return QStringLiteral("sem limites");
}

bool HasLimits(const tHistLimits &l) {
    return l.low || l.high;
}

bool Gather(tHistoryStore &store, const tReportRequest &rq, tReportData *d, QString *error) {
    // Every query says whether it failed; the first failure ends the report.
    bool failed = false;
    auto check = [&] {
        if (store.LastFailed() && !failed) {
            failed = true;
            *error = store.Message();
        }
    };
    bool found = false;
    for (const tHistController &c : store.Controllers())
        if (c.id == rq.controller) {
            d->controller = c;
            found = true;
        }
    check();
    if (failed)
        return false;
    if (!found) {
        *error = QStringLiteral("Controlador %1 não encontrado no histórico").arg(rq.controller);
        return false;
    }
    d->unit = LatestUnit(store, rq.controller);
    check();
    d->curve =
        LoadCurve(store, rq.controller, rq.fromMs, rq.toMs, reportColumns, rq.limits, d->unit);
    check();
    const auto span = store.ReadingSpan(rq.controller);
    check();
    d->newestMs = span ? span->second : 0;
    for (size_t k = 0; k < 4; ++k) {
        // A sensor the model shows is summed up even when it never gave a
        // value: its days say it was open or short.
        if (!d->curve.HasSensor(int(k)) && int32_t(k) >= SensorsOfModel(d->controller.model))
            continue;
        d->days[k] = store.Days(rq.controller, int(k), rq.fromMs, rq.toMs, rq.limits[k], d->unit);
        check();
        d->excursions[k] =
            store.Excursions(rq.controller, int(k), rq.fromMs, rq.toMs, rq.limits[k], d->unit);
        check();
    }
    // The first change of each relay is its state when the period began.
    std::array<bool, 4> seen{};
    for (const tHistRelayChange &c : store.RelayChanges(rq.controller, rq.fromMs, rq.toMs)) {
        const auto r = size_t(std::clamp(c.relay, 0, 3));
        if (seen[r])
            ++(c.on ? d->switchOns[r] : d->switchOffs[r]);
        seen[r] = true;
    }
    check();
    const std::vector<tHistRelayBucket> whole = store.RelayBuckets(
        rq.controller, rq.fromMs, rq.toMs, std::max<int64_t>(1, rq.toMs - rq.fromMs));
    check();
    if (!whole.empty())
        for (size_t r = 0; r < 4; ++r)
            if (whole.front().known[r] > 0)
                d->onShare[r] = double(whole.front().on[r]) / whole.front().known[r];
    d->audits = store.Audits(rq.controller, rq.fromMs, rq.toMs);
    check();
    d->chainHead = store.ChainHead(rq.controller, rq.fromMs, rq.toMs);
    check();
    d->clockSteps = store.ClockSteps(rq.controller, rq.fromMs, rq.toMs);
    check();
    return !failed;
}

// Lays text and tables out from the top of a page down, starting a page
// when the next block does not fit. Run twice: once to count the pages
// (nothing drawn), once to draw them with "Página n de m".
class tPageFlow {
  public:
    tPageFlow(QPdfWriter &writer, QPainter *painter, int pageCount, const QString &footer)
        : writer(writer), p(painter), pageCount(pageCount), footer(footer),
          pt(writer.resolution() / 72.0), width(writer.width()),
          bottom(writer.height() - FontMetrics(7).height() * 2) {}

    int Pages() const { return page; }
    double Pt() const { return pt; }
    double Width() const { return width; }

    QFont Font(double size, bool bold = false) const {
        QFont f(QStringLiteral("DejaVu Sans"));
        // No ligatures: the text taken from the PDF must read as written
        // ("firmware", not a glyph for "fi"), so a search finds it.
        f.setStyleStrategy(QFont::PreferNoShaping);
        f.setPointSizeF(size);
        f.setBold(bold);
        return f;
    }
    QFontMetricsF FontMetrics(double size, bool bold = false) const {
        return QFontMetricsF(Font(size, bold), &writer);
    }

    void Start() { Footer(); }

    // Moves to a new page unless `height` fits below the cursor.
    void NeedRoom(double height) {
        if (y + height <= bottom || y == 0)
            return;
        if (p)
            writer.newPage();
        ++page;
        y = 0;
        Footer();
    }

    void Space(double points) { y += points * pt; }

    // Wrapped text of `size` points.
    void Text(const QString &text, double size, bool bold = false) {
        const QFont f = Font(size, bold);
        const QRectF box =
            FontMetrics(size, bold)
                .boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap | Qt::AlignLeft, text);
        NeedRoom(box.height());
        if (p) {
            p->setFont(f);
            p->setPen(Qt::black);
            p->drawText(QRectF(0, y, width, box.height()), Qt::TextWordWrap | Qt::AlignLeft, text);
        }
        y += box.height();
    }

    // A heading kept on the page of what follows it (`keep` more points).
    void Heading(const QString &text, double keep) {
        NeedRoom(FontMetrics(11, true).height() + keep * pt);
        Space(6);
        Text(text, 11, true);
        Space(2);
    }

    // A block of fixed height drawn by `draw` in its rectangle.
    void Block(double height, const std::function<void(QPainter &, const QRectF &)> &draw) {
        NeedRoom(height);
        if (p)
            draw(*p, QRectF(0, y, width, height));
        y += height;
    }

    // A table: column titles and relative widths, rows of cells; the title
    // row repeats at the top of every page the table runs onto.
    void Table(const QStringList &titles, const std::vector<double> &weights,
               const std::vector<QStringList> &rows, const std::vector<int> &rightAligned = {}) {
        const QFontMetricsF fm = FontMetrics(7.5);
        const double rowH = fm.height() * 1.35;
        double sum = 0;
        for (double w : weights)
            sum += w;
        std::vector<double> xs{0};
        for (double w : weights)
            xs.push_back(xs.back() + width * w / sum);
        auto drawRow = [&](const QStringList &cells, bool head, bool shaded) {
            if (p) {
                if (head || shaded) {
                    p->setPen(Qt::NoPen);
                    p->setBrush(head ? QColor(215, 225, 235) : QColor(244, 246, 248));
                    p->drawRect(QRectF(0, y, width, rowH));
                }
                p->setFont(Font(7.5, head));
                p->setPen(Qt::black);
                for (qsizetype c = 0; c < cells.size() && c + 1 < qsizetype(xs.size()); ++c) {
                    const bool right = std::find(rightAligned.begin(), rightAligned.end(),
                                                 int(c)) != rightAligned.end();
                    const QRectF cell(xs[size_t(c)] + 2 * pt, y,
                                      xs[size_t(c) + 1] - xs[size_t(c)] - 4 * pt, rowH);
                    const QString text = fm.elidedText(cells[c], Qt::ElideRight, cell.width());
                    p->drawText(cell, Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft),
                                text);
                }
            }
            y += rowH;
        };
        NeedRoom(rowH * 2);
        drawRow(titles, true, false);
        for (size_t i = 0; i < rows.size(); ++i) {
            if (y + rowH > bottom) {
                NeedRoom(bottom); // forces the new page
                drawRow(titles, true, false);
            }
            drawRow(rows[i], false, i % 2 == 1);
        }
    }

  private:
    void Footer() {
        if (!p)
            return;
        p->setFont(Font(7));
        p->setPen(QColor(90, 90, 90));
        const QFontMetricsF fm = FontMetrics(7);
        const QRectF line(0, writer.height() - fm.height(), width, fm.height());
        p->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, footer);
        p->drawText(line, Qt::AlignRight | Qt::AlignVCenter,
                    QStringLiteral("Página %1 de %2").arg(page).arg(pageCount));
    }

    QPdfWriter &writer;
    QPainter *p;
    int pageCount;
    QString footer;
    double pt;
    double width;
    double bottom;
    double y = 0;
    int page = 1;
};

// Where an excursion the period ends in stops: still going only while the
// readings are; else where the readings go on past the period, or where
// they stopped.
QString ExcursionEnd(const tHistExcursion &e, const tReportData &d, const tReportRequest &rq,
                     const QLocale &locale) {
    if (!e.ongoing)
        return TimeText(e.endMs, locale);
    if (d.newestMs >= rq.toMs)
        return QStringLiteral("após o fim do período");
    if (rq.generated.toMSecsSinceEpoch() - d.newestMs <= liveReadingMs)
        return QStringLiteral("(em curso)");
    return TimeText(e.endMs, locale) + QStringLiteral(" (fim das leituras)");
}

void Lay(tPageFlow &flow, const tReportData &d, const tReportRequest &rq, const QLocale &locale) {
    const QString unit = unitText(d.unit);
    const double pt = flow.Pt();
    flow.Start();
    flow.Text(QStringLiteral("Relatório de temperaturas"), 16, true);
    flow.Space(4);
    flow.Text(QStringLiteral("Controlador: ") + ControllerText(d.controller), 9);
    flow.Text(
        QStringLiteral("Período: de %1 a %2 (hora local, %3)")
            .arg(TimeText(rq.fromMs, locale), TimeText(rq.toMs, locale), OffsetText(rq.fromMs)),
        9);
    flow.Text(QStringLiteral("Gerado por %1 em %2 (%3)")
                  .arg(rq.user, TimeText(rq.generated.toMSecsSinceEpoch(), locale, true),
                       OffsetText(rq.generated.toMSecsSinceEpoch())),
              9);
    QStringList limits;
    for (int k = 0; k < 4; ++k)
        if (d.curve.HasSensor(k))
            limits << QStringLiteral("Sensor %1: %2")
                          .arg(k + 1)
                          .arg(LimitsText(rq.limits[size_t(k)], d.unit));
    if (!limits.isEmpty())
        flow.Text(QStringLiteral("Limites: ") + limits.join(QStringLiteral("; ")), 9);
    // What `tarvik-cli historico verificar` prints for the same period.
    if (d.chainHead)
        flow.Text(QStringLiteral("Cadeia do histórico: registro nº %1, SHA-256 %2")
                      .arg(d.chainHead->n)
                      .arg(QString::fromLatin1(d.chainHead->hash.toHex())),
                  7.5);
    // Times after a step back of the clock are wrong: the days and
    // durations below place those readings where their times say.
    if (!d.clockSteps.empty()) {
        flow.Space(3);
        flow.Text(
            QStringLiteral("Atenção: o relógio do computador voltou atrás durante a gravação; "
                           "as leituras seguintes a cada volta têm horários errados, e os "
                           "dias e durações abaixo as contam pelo horário que têm:"),
            8.5, true);
        for (const tHistClockStep &s : d.clockSteps)
            flow.Text(
                QStringLiteral("de %1 para %2")
                    .arg(TimeText(s.beforeMs, locale, true), TimeText(s.afterMs, locale, true)),
                8.5);
    }
    flow.Space(6);
    flow.Block(250 * pt, [&](QPainter &p, const QRectF &r) { PaintCurve(p, r, d.curve, locale); });

    const double keep = 40;
    flow.Heading(QStringLiteral("Resumo por dia"), keep);
    // Day by day, the sensors of one day together.
    std::vector<std::pair<int64_t, QStringList>> days, failures;
    for (size_t k = 0; k < 4; ++k)
        for (const tHistDay &day : d.days[k]) {
            const QString date = locale.toString(QDate::fromString(day.date, Qt::ISODate),
                                                 QStringLiteral("dd/MM/yyyy ddd"));
            const QString sensor = QStringLiteral("Sensor %1").arg(k + 1);
            const bool values = day.count > 0;
            auto tenths = [&](double v) {
                return values ? TenthsFixed(v) + u' ' + unit : QStringLiteral("—");
            };
            days.push_back({day.dayStartMs,
                            {date, sensor, tenths(day.min), tenths(day.mean), tenths(day.max),
                             !values                   ? QStringLiteral("—")
                             : HasLimits(rq.limits[k]) ? DurationText(day.outsideMs)
                                                       : QStringLiteral("sem limites"),
                             QString::number(day.count)}});
            if (day.open + day.shorted > 0)
                failures.push_back(
                    {day.dayStartMs,
                     {date.left(10) + u' ' + sensor + QStringLiteral(": ") +
                      SensorFailuresText(day) +
                      (values ? QString() : QStringLiteral(", nenhum valor no dia"))}});
        }
    auto byTime = [](std::vector<std::pair<int64_t, QStringList>> &rows) {
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        std::vector<QStringList> out;
        for (auto &row : rows)
            out.push_back(std::move(row.second));
        return out;
    };
    const std::vector<QStringList> dayRows = byTime(days);
    if (dayRows.empty())
        flow.Text(QStringLiteral("Nenhuma leitura no período."), 8.5);
    else
        flow.Table({QStringLiteral("Dia"), QStringLiteral("Sensor"), QStringLiteral("Mínima"),
                    QStringLiteral("Média"), QStringLiteral("Máxima"),
                    QStringLiteral("Fora dos limites"), QStringLiteral("Leituras")},
                   {1.6, 1, 1, 1, 1, 1.3, 0.8}, dayRows, {2, 3, 4, 5, 6});
    // Readings without a value are left out of the figures above: said here.
    const std::vector<QStringList> failureLines = byTime(failures);
    if (!failureLines.empty()) {
        flow.Space(3);
        flow.Text(QStringLiteral("Falhas de sensor:"), 8.5, true);
        for (const QStringList &line : failureLines)
            flow.Text(line.first(), 8.5);
    }

    flow.Heading(QStringLiteral("Excursões"), keep);
    std::vector<std::pair<int64_t, QStringList>> excursions;
    for (size_t k = 0; k < 4; ++k)
        for (const tHistExcursion &e : d.excursions[k])
            excursions.push_back(
                {e.startMs,
                 {QStringLiteral("Sensor %1").arg(k + 1), TimeText(e.startMs, locale),
                  ExcursionEnd(e, d, rq, locale), DurationText(e.endMs - e.startMs),
                  (e.high ? QStringLiteral("acima: ") : QStringLiteral("abaixo: ")) +
                      TenthsFixed(e.extreme) + u' ' + unit}});
    std::stable_sort(excursions.begin(), excursions.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<QStringList> excursionRows;
    for (auto &e : excursions)
        excursionRows.push_back(std::move(e.second));
    bool anyLimits = false;
    for (const tHistLimits &l : rq.limits)
        anyLimits = anyLimits || HasLimits(l);
    if (!anyLimits)
        flow.Text(QStringLiteral("Nenhum limite definido."), 8.5);
    else if (excursionRows.empty())
        flow.Text(QStringLiteral("Nenhuma excursão no período."), 8.5);
    else
        flow.Table({QStringLiteral("Sensor"), QStringLiteral("Início"), QStringLiteral("Fim"),
                    QStringLiteral("Duração"), QStringLiteral("Extremo")},
                   {1, 1.5, 2.3, 0.9, 1.3}, excursionRows, {3, 4});

    flow.Heading(QStringLiteral("Acionamentos dos relés"), keep);
    std::vector<QStringList> relayRows;
    for (size_t r = 0; r < 4; ++r)
        if (d.onShare[r] >= 0)
            relayRows.push_back(
                {QStringLiteral("Relé %1").arg(r + 1), QString::number(d.switchOns[r]),
                 QString::number(d.switchOffs[r]),
                 locale.toString(d.onShare[r] * 100, 'f', 1) + QStringLiteral(" %")});
    if (relayRows.empty())
        flow.Text(QStringLiteral("Nenhum estado de relé registrado no período."), 8.5);
    else
        flow.Table({QStringLiteral("Relé"), QStringLiteral("Ligamentos"),
                    QStringLiteral("Desligamentos"), QStringLiteral("Tempo ligado (das leituras)")},
                   {1, 1, 1, 1.5}, relayRows, {1, 2, 3});

    flow.Heading(QStringLiteral("Alterações enviadas ao controlador"), keep);
    std::vector<QStringList> auditRows;
    for (const tHistAuditEntry &e : d.audits) {
        const tHistAudit &a = e.audit;
        QString command = a.command;
        if (a.result < 0)
            command += QStringLiteral(" (falhou: %1)").arg(modbus_strerror(a.result));
        const QString when = TimeText(a.utcMs, locale, true);
        if (a.fields.empty())
            auditRows.push_back({when, a.user, command, QString(), QString(), QString()});
        for (const tHistAuditField &f : a.fields)
            auditRows.push_back({when, a.user, command, f.code, f.oldValue, f.newValue});
    }
    if (auditRows.empty())
        flow.Text(QStringLiteral("Nenhuma alteração enviada no período."), 8.5);
    else
        flow.Table({QStringLiteral("Data e hora"), QStringLiteral("Usuário"),
                    QStringLiteral("Comando"), QStringLiteral("Campo"), QStringLiteral("Anterior"),
                    QStringLiteral("Novo")},
                   {1.5, 0.9, 1.8, 0.7, 0.8, 0.8}, auditRows);
}
} // namespace

QString DurationText(int64_t ms) {
    const int64_t s = std::max<int64_t>(0, ms) / 1000;
    if (s == 0)
        return QStringLiteral("0 min");
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    const int64_t m = s / 60;
    if (m < 60)
        return QStringLiteral("%1 min").arg(m);
    const int64_t h = m / 60;
    if (h < 24)
        return QStringLiteral("%1 h %2 min").arg(h).arg(m % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 d %2 h").arg(h / 24).arg(h % 24, 2, 10, QLatin1Char('0'));
}

// A Portuguese document: Brazilian dates, day names and decimal commas,
// whatever the computer's own locale.
QLocale ReportLocale() {
    return QLocale(QLocale::Portuguese, QLocale::Brazil);
}

QString TenthsFixed(double tenths) {
    QLocale l = ReportLocale();
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(tenths / 10.0, 'f', 1);
}

bool WriteHistoryReport(tHistoryStore &store, const tReportRequest &request, const QString &path,
                        QString *error) {
    tReportRequest rq = request;
    if (rq.user.isEmpty())
        rq.user = OsUserName();
    if (!rq.generated.isValid())
        rq.generated = QDateTime::currentDateTime();
    if (rq.toMs <= rq.fromMs) {
        *error = QStringLiteral("Período vazio: o fim deve vir depois do início");
        return false;
    }
    tReportData data;
    if (!Gather(store, rq, &data, error))
        return false;

    // Drawn in memory, then written whole: a full disk leaves no half report.
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    const QLocale locale = ReportLocale();
    const QString footer = QStringLiteral("Tarvik · %1 · gerado em %2")
                               .arg(ControllerText(data.controller),
                                    TimeText(rq.generated.toMSecsSinceEpoch(), locale));
    int pages = 1;
    {
        QPdfWriter writer(&file);
        writer.setTitle(QStringLiteral("Relatório de temperaturas"));
        writer.setCreator(QStringLiteral("Tarvik"));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter));
        tPageFlow count(writer, nullptr, 0, footer);
        Lay(count, data, rq, locale);
        pages = count.Pages();
        QPainter painter;
        if (!painter.begin(&writer)) {
            *error = QStringLiteral("Não foi possível desenhar o relatório");
            return false;
        }
        tPageFlow flow(writer, &painter, pages, footer);
        Lay(flow, data, rq, locale);
        painter.end();
    }
    return WriteWholeFile(path, file.data(), error);
}

bool WriteHistoryReport(tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                        const tSensorLimits &limits, const QString &path, QString *error) {
    tReportRequest request;
    request.controller = controller;
    request.fromMs = fromMs;
    request.toMs = toMs;
    request.limits = limits;
    return WriteHistoryReport(store, request, path, error);
}
