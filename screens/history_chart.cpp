#include "history_chart.h"

#include "curve_painter.h"
#include "temperature.h"

#include "qcustomplot_include.h"

#include <QVBoxLayout>

#include <array>

#include <cmath>
#include <limits>

namespace {
constexpr double noValue = std::numeric_limits<double>::quiet_NaN();

double Seconds(int64_t ms) {
    return double(ms) / 1000.0;
}

// Ticks on round local times, as the report draws them.
QSharedPointer<QCPAxisTickerText> TimeTicker(const tCurve &curve, int wanted) {
    auto ticker = QSharedPointer<QCPAxisTickerText>::create();
    for (const tTimeTick &t : TimeTicks(curve.fromMs, curve.toMs, wanted))
        ticker->addTick(Seconds(t.utcMs), t.label);
    return ticker;
}

// A span of the time axis shaded from the plot's top down to `depth` (a
// share of its height).
void Band(QCustomPlot *plot, const tCurveShade &span, double depth, const QColor &color) {
    auto *rect = new QCPItemRect(plot);
    rect->setClipAxisRect(plot->axisRect());
    for (QCPItemPosition *corner : {rect->topLeft, rect->bottomRight}) {
        corner->setTypeX(QCPItemPosition::ptPlotCoords);
        corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    rect->topLeft->setCoords(Seconds(span.fromMs), 0);
    rect->bottomRight->setCoords(Seconds(span.toMs), depth);
    rect->setPen(Qt::NoPen);
    rect->setBrush(color);
}
} // namespace

THistoryChart::THistoryChart(QWidget *parent)
    : QWidget(parent), plot(new QCustomPlot(this)), relayRect(new QCPAxisRect(plot)) {
    setObjectName(QStringLiteral("plotHistArea"));
    plot->setObjectName(QStringLiteral("plotHist"));
    plot->setAccessibleName(QStringLiteral("Curva de temperaturas"));
    // Lines and fills drawn without smoothing: one pair a pixel column needs
    // none, and it halves the drawing of a busy day.
    plot->setNotAntialiasedElements(QCP::aePlottables | QCP::aeFills);
    plot->setBackground(palette().base());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot);

    QFont small = font();
    small.setPointSize(8);
    for (QCPAxis *axis : {plot->xAxis, plot->yAxis, relayRect->axis(QCPAxis::atBottom),
                          relayRect->axis(QCPAxis::atLeft)})
        axis->setTickLabelFont(small);
    plot->xAxis->setTickLabels(false);
    plot->axisRect()->setAutoMargins(QCP::msLeft | QCP::msRight | QCP::msTop);
    plot->axisRect()->setMargins(QMargins(0, 0, 0, 2));

    plot->plotLayout()->addElement(1, 0, relayRect);
    auto *margins = new QCPMarginGroup(plot);
    plot->axisRect()->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    relayRect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    relayRect->axis(QCPAxis::atLeft)->grid()->setVisible(false);
    relayRect->axis(QCPAxis::atLeft)->setTicks(true);
    relayRect->axis(QCPAxis::atLeft)->setSubTicks(false);
    relayRect->axis(QCPAxis::atLeft)->setTickLength(0);
    relayRect->axis(QCPAxis::atBottom)->setSubTicks(false);
    relayRect->setAutoMargins(QCP::msLeft | QCP::msRight | QCP::msBottom);
    relayRect->setMargins(QMargins(0, 0, 0, 0));
    plot->plotLayout()->setRowSpacing(0);

    // Which colour is which sensor, in every style: a key on the curve.
    plot->setAutoAddPlottableToLegend(false);
    plot->legend->setVisible(true);
    plot->legend->setFont(small);
    plot->legend->setBrush(QColor(255, 255, 255, 210));
    plot->legend->setBorderPen(QPen(QColor(160, 160, 160)));
    plot->legend->setIconSize(14, 8);
    plot->legend->setRowSpacing(0);
    plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
}

int THistoryChart::Columns() const {
    const int width = plot->axisRect()->width();
    // Before the first layout the widget's own width is the best guess.
    return std::max(50, width > 10 ? width : plot->width() - 60);
}

void THistoryChart::Show(const tCurve &curve, const std::array<bool, 4> &shown) {
    plot->clearGraphs();
    plot->clearPlottables();
    plot->clearItems();

    const double from = Seconds(curve.fromMs), to = Seconds(curve.toMs);
    const double bucket = Seconds(curve.bucketMs);
    QCPAxis *relayX = relayRect->axis(QCPAxis::atBottom);
    QCPAxis *relayY = relayRect->axis(QCPAxis::atLeft);

    // Stretches outside the limits, shaded over the whole height.
    for (size_t k = 0; k < 4; ++k) {
        if (!shown[k])
            continue;
        for (const tCurveShade &s : curve.shades[k])
            Band(plot, s, 1, ExcursionColor());
    }
    // Alarm episodes: a band along the top.
    for (const tCurveShade &s : curve.alarms)
        Band(plot, s, 0.04, AlarmColor());
    // Each sensor: its max and min per column, the band between them
    // filled; sensor 1 last, on top. A column with no neighbour to join
    // (readings far apart) is drawn as dots, which a line would not show.
    std::array<QCPGraph *, 4> keys{};
    for (size_t k = 4; k-- > 0;) {
        if (!shown[k] || !curve.HasSensor(int(k)))
            continue;
        const auto &buckets = curve.sensors[k];
        QVector<double> x, lo, hi, alone, aloneLow, aloneHigh;
        x.reserve(qsizetype(buckets.size() + 16));
        for (size_t i = 0; i < buckets.size(); ++i) {
            const bool gapBefore = i == 0 || CurveGap(buckets[i - 1], buckets[i], curve.bucketMs);
            const bool gapAfter =
                i + 1 == buckets.size() || CurveGap(buckets[i], buckets[i + 1], curve.bucketMs);
            if (i > 0 && gapBefore) {
                x << Seconds(buckets[i - 1].lastMs) + bucket / 2;
                lo << noValue;
                hi << noValue;
            }
            const double at = Seconds((buckets[i].firstMs + buckets[i].lastMs) / 2);
            x << at;
            lo << buckets[i].min / 10.0;
            hi << buckets[i].max / 10.0;
            if (gapBefore && gapAfter) {
                alone << at;
                aloneLow << buckets[i].min / 10.0;
                aloneHigh << buckets[i].max / 10.0;
            }
        }
        const QColor color = SensorColor(int(k));
        QColor fill = color;
        fill.setAlpha(60);
        QCPGraph *max = plot->addGraph();
        QCPGraph *min = plot->addGraph();
        max->setName(QStringLiteral("Sensor %1").arg(k + 1));
        for (QCPGraph *g : {max, min}) {
            g->setPen(QPen(color, 1.2));
            g->setAdaptiveSampling(false); // already one pair per column
        }
        max->setData(x, hi, true);
        min->setData(x, lo, true);
        max->setBrush(fill);
        max->setChannelFillGraph(min);
        keys[k] = max;
        if (!alone.isEmpty())
            for (const QVector<double> *values : {&aloneLow, &aloneHigh}) {
                QCPGraph *dots = plot->addGraph();
                dots->setLineStyle(QCPGraph::lsNone);
                dots->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, color, 4));
                dots->setData(alone, *values, true);
            }
        // Limits as dashed lines in the sensor's colour.
        for (const auto &l : {curve.limits[k].low, curve.limits[k].high}) {
            if (!l)
                continue;
            auto *line = new QCPItemStraightLine(plot);
            line->setClipAxisRect(plot->axisRect());
            line->point1->setCoords(from, *l / 10.0);
            line->point2->setCoords(to, *l / 10.0);
            line->setPen(QPen(color, 1, Qt::DashLine));
        }
    }

    plot->legend->clearItems();
    for (QCPGraph *key : keys)
        if (key)
            key->addToLegend();
    plot->legend->setVisible(plot->legend->itemCount() > 0);

    int32_t low = 0, high = 100;
    if (curve.ValueSpan(&low, &high)) {
        const int32_t margin = std::max(5, (high - low) / 20);
        low -= margin;
        high += margin;
    }
    plot->yAxis->setRange(low / 10.0, high / 10.0);
    plot->yAxis->setLabel(unitText(curve.unit));
    plot->xAxis->setRange(from, to);
    const int wanted = std::max(2, plot->axisRect()->width() / 70);
    plot->xAxis->setTicker(TimeTicker(curve, wanted));

    // The relays, one lane each under the curve: a bar for each stretch the
    // relay was on, as high as the share of the time it was.
    auto relayTicks = QSharedPointer<QCPAxisTickerText>::create();
    int lanes = 0;
    for (int r = 0; r < 4; ++r) {
        if (!curve.HasRelay(r))
            continue;
        QVector<double> x, h;
        for (const tRelaySpan &span : RelaySpans(curve, r)) {
            if (!x.isEmpty() && x.back() == Seconds(span.fromMs)) {
                x.removeLast(); // the next stretch starts where this one ends
                h.removeLast();
            }
            x << Seconds(span.fromMs) << Seconds(span.toMs);
            h << lanes + span.share * 0.8 << lanes;
        }
        auto *base = new QCPGraph(relayX, relayY);
        base->setPen(Qt::NoPen);
        base->setData(QVector<double>{from, to}, QVector<double>{double(lanes), double(lanes)});
        auto *on = new QCPGraph(relayX, relayY);
        on->setLineStyle(QCPGraph::lsStepLeft);
        on->setPen(Qt::NoPen);
        on->setBrush(RelayColor());
        on->setChannelFillGraph(base);
        on->setAdaptiveSampling(false);
        on->setData(x, h, true);
        relayTicks->addTick(lanes + 0.4, QStringLiteral("R%1").arg(r + 1));
        ++lanes;
    }
    relayY->setTicker(relayTicks);
    relayY->setRange(-0.1, std::max(lanes, 1) - 0.1);
    relayX->setRange(from, to);
    relayX->setTicker(TimeTicker(curve, wanted));
    const int laneHeight = 13;
    const int relayHeight = lanes * laneHeight + 4;
    relayRect->setMinimumSize(0, relayHeight);
    relayRect->setMaximumSize(QWIDGETSIZE_MAX, relayHeight);
    relayX->setTicks(true);
    relayY->setVisible(lanes > 0);

    if (curve.Empty()) {
        auto *empty = new QCPItemText(plot);
        empty->setClipAxisRect(plot->axisRect());
        empty->position->setType(QCPItemPosition::ptAxisRectRatio);
        empty->position->setCoords(0.5, 0.5);
        empty->setText(QStringLiteral("Sem leituras neste período"));
    }
    plot->replot();
}

// Compiled here rather than with the library's other meta-objects, so a
// program that never shows the history does not load the plotting library.
#include "moc_history_chart.cpp"
