#include "curve_painter.h"

#include "temperature.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {
constexpr int64_t second = 1'000;
constexpr int64_t minute = 60 * second;
constexpr int64_t hour = 60 * minute;
constexpr int64_t day = 24 * hour;

// Steps of a time axis, finest first; months are counted in months.
struct tTimeStep {
    int64_t ms;
    int months;
};
constexpr tTimeStep timeSteps[] = {
    {second, 0},      {2 * second, 0},  {5 * second, 0}, {10 * second, 0}, {15 * second, 0},
    {30 * second, 0}, {minute, 0},      {2 * minute, 0}, {5 * minute, 0},  {10 * minute, 0},
    {15 * minute, 0}, {30 * minute, 0}, {hour, 0},       {2 * hour, 0},    {3 * hour, 0},
    {6 * hour, 0},    {12 * hour, 0},   {day, 0},        {2 * day, 0},     {7 * day, 0},
    {14 * day, 0},    {30 * day, 1},    {61 * day, 2},   {91 * day, 3},    {182 * day, 6},
    {365 * day, 12},
};

QDateTime Local(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms);
}
} // namespace

QColor SensorColor(int k) {
    static const QColor colors[] = {QColor(0x1f, 0x5f, 0xb4), QColor(0xe0, 0x6c, 0x00),
                                    QColor(0x2c, 0x8c, 0x2c), QColor(0x8a, 0x3f, 0xa8)};
    return colors[std::clamp(k, 0, 3)];
}

QColor RelayColor() {
    return QColor(0x40, 0x60, 0x80);
}

QColor ExcursionColor() {
    return QColor(230, 40, 40, 50);
}

QColor AlarmColor() {
    return QColor(200, 0, 0, 200);
}

std::vector<tTimeTick> TimeTicks(int64_t fromMs, int64_t toMs, int wanted, const QLocale &locale) {
    std::vector<tTimeTick> ticks;
    if (toMs <= fromMs || wanted < 1)
        return ticks;
    const int64_t span = toMs - fromMs;
    tTimeStep step = timeSteps[std::size(timeSteps) - 1];
    for (const tTimeStep &s : timeSteps)
        if (span / s.ms <= wanted) {
            step = s;
            break;
        }
    const QDateTime start = Local(fromMs);
    QDateTime t;
    if (step.months) {
        const QDate first(start.date().year(), start.date().month(), 1);
        t = QDateTime(first, QTime(0, 0));
        const int m = first.month() - 1;
        t = t.addMonths((step.months - m % step.months) % step.months);
    } else if (step.ms >= day) {
        t = QDateTime(start.date(), QTime(0, 0));
    } else {
        // Round local times: the step counted from the local midnight.
        const QDateTime midnight(start.date(), QTime(0, 0));
        const int64_t into = midnight.msecsTo(start);
        t = midnight.addMSecs((into + step.ms - 1) / step.ms * step.ms);
    }
    while (t.toMSecsSinceEpoch() < fromMs)
        t = step.months ? t.addMonths(step.months) : t.addMSecs(step.ms);
    for (int guard = 0; t.toMSecsSinceEpoch() < toMs && guard < 400; ++guard) {
        QString label;
        if (step.months)
            label = locale.toString(t.date(), QStringLiteral("MMM/yy"));
        else if (step.ms >= day || t.time() == QTime(0, 0))
            label = locale.toString(t.date(), QStringLiteral("dd/MM"));
        else
            label = t.time().toString(step.ms < minute ? QStringLiteral("HH:mm:ss")
                                                       : QStringLiteral("HH:mm"));
        ticks.push_back({t.toMSecsSinceEpoch(), label});
        if (step.months)
            t = t.addMonths(step.months);
        else if (step.ms >= day)
            t = t.addDays(step.ms / day); // whole local days across a clock change
        else
            t = t.addMSecs(step.ms);
    }
    return ticks;
}

int32_t ValueStep(int32_t low, int32_t high, int wanted) {
    const int32_t span = std::max(1, high - low);
    for (int32_t step : {1, 2, 5, 10, 20, 50, 100, 200, 250, 500, 1000, 2000, 5000})
        if (span / step <= wanted)
            return step;
    return 10000;
}

void PaintCurve(QPainter &p, const QRectF &area, const tCurve &curve, const QLocale &locale) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    // Sizes in points, whatever the device's resolution.
    const double pt = p.device()->logicalDpiY() / 72.0;
    QFont font = p.font();
    font.setStyleStrategy(QFont::PreferNoShaping); // text in a PDF stays searchable
    font.setPointSizeF(7.5);
    p.setFont(font);
    const QFontMetricsF fm(font, p.device());
    const double lineH = fm.height();

    int relayCount = 0;
    for (int r = 0; r < 4; ++r)
        relayCount += curve.HasRelay(r) ? 1 : 0;
    const double laneH = lineH * 0.9;
    const double lanes = relayCount ? relayCount * laneH + 4 * pt : 0;
    const double left = area.left() + fm.horizontalAdvance(QStringLiteral("-000,0")) + 6 * pt;
    const double right = area.right() - 4 * pt;
    const double legendH = lineH + 4 * pt;
    const double timeH = lineH + 4 * pt;
    const QRectF plot(QPointF(left, area.top() + legendH),
                      QPointF(right, area.bottom() - timeH - lanes));

    int32_t low = 0, high = 10;
    if (curve.ValueSpan(&low, &high)) {
        const int32_t margin = std::max(5, (high - low) / 20);
        low -= margin;
        high += margin;
    }
    const int32_t step = ValueStep(low, high, std::max(2, int(plot.height() / (lineH * 1.8))));
    low = int32_t(std::floor(double(low) / step)) * step;
    high = int32_t(std::ceil(double(high) / step)) * step;
    if (high == low)
        high = low + step;
    const double span = double(curve.toMs - curve.fromMs);
    auto X = [&](int64_t ms) {
        return plot.left() + plot.width() * double(ms - curve.fromMs) / span;
    };
    auto Y = [&](double tenths) {
        return plot.bottom() - plot.height() * (tenths - low) / double(high - low);
    };

    // Frame, grid and value labels.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(plot);
    const QPen grid(QColor(220, 220, 220), 0.5 * pt);
    const QPen text(Qt::black);
    for (int32_t v = low; v <= high; v += step) {
        p.setPen(grid);
        p.drawLine(QPointF(plot.left(), Y(v)), QPointF(plot.right(), Y(v)));
        p.setPen(text);
        const QRectF label(area.left(), Y(v) - lineH / 2, left - area.left() - 3 * pt, lineH);
        p.drawText(label, Qt::AlignRight | Qt::AlignVCenter, tenthsText(v, locale));
    }
    const std::vector<tTimeTick> ticks =
        TimeTicks(curve.fromMs, curve.toMs, std::max(2, int(plot.width() / (lineH * 4))), locale);
    for (const tTimeTick &t : ticks) {
        const double x = X(t.utcMs);
        p.setPen(grid);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom() + lanes));
        p.setPen(text);
        p.drawText(QRectF(x - lineH * 3, area.bottom() - timeH + 2 * pt, lineH * 6, lineH),
                   Qt::AlignHCenter | Qt::AlignTop, t.label);
    }

    p.save();
    p.setClipRect(plot);
    // Stretches outside the limits, behind everything drawn on them.
    p.setPen(Qt::NoPen);
    p.setBrush(ExcursionColor());
    for (const auto &shades : curve.shades)
        for (const tCurveShade &s : shades)
            p.drawRect(QRectF(QPointF(X(s.fromMs), plot.top()),
                              QPointF(std::max(X(s.toMs), X(s.fromMs) + 0.5 * pt), plot.bottom())));
    // Alarms: a band along the top, apart from the stretches outside the
    // limits drawn (an alarm waits for its delay, ends past the hysteresis).
    p.setBrush(AlarmColor());
    for (const tCurveShade &s : curve.alarms)
        p.drawRect(
            QRectF(QPointF(X(s.fromMs), plot.top()),
                   QPointF(std::max(X(s.toMs), X(s.fromMs) + 0.5 * pt), plot.top() + 3 * pt)));
    // Limits.
    for (int k = 0; k < 4; ++k) {
        if (!curve.HasSensor(k))
            continue;
        QPen limit(SensorColor(k), 0.8 * pt, Qt::DashLine);
        p.setPen(limit);
        for (const auto &l : {curve.limits[size_t(k)].low, curve.limits[size_t(k)].high})
            if (l)
                p.drawLine(QPointF(plot.left(), Y(*l)), QPointF(plot.right(), Y(*l)));
    }
    // Each sensor: the band between its min and max, one polygon per
    // stretch without a gap, outlined in its colour; sensor 1 last, on top.
    for (int k = 3; k >= 0; --k) {
        const auto &buckets = curve.sensors[size_t(k)];
        QColor fill = SensorColor(k);
        fill.setAlpha(60);
        const QPen outline(SensorColor(k), 0.9 * pt);
        size_t begin = 0;
        while (begin < buckets.size()) {
            size_t end = begin + 1;
            while (end < buckets.size() &&
                   !CurveGap(buckets[end - 1], buckets[end], curve.bucketMs))
                ++end;
            QPolygonF top, bottom;
            for (size_t i = begin; i < end; ++i) {
                const double x = X((buckets[i].firstMs + buckets[i].lastMs) / 2);
                top << QPointF(x, Y(buckets[i].max));
                bottom.prepend(QPointF(x, Y(buckets[i].min)));
            }
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawPolygon(top + bottom);
            p.setPen(outline);
            p.setBrush(Qt::NoBrush);
            if (top.size() == 1) {
                // A reading with no neighbour to join: a dot, or a line would not show.
                p.drawLine(top.first(), bottom.first());
                p.setPen(Qt::NoPen);
                p.setBrush(SensorColor(k));
                for (const QPointF &at : {top.first(), bottom.first()})
                    p.drawEllipse(at, 1.3 * pt, 1.3 * pt);
            } else {
                p.drawPolyline(top);
                p.drawPolyline(bottom);
            }
            begin = end;
        }
    }
    p.restore();
    p.setPen(QPen(QColor(120, 120, 120), 0.7 * pt));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);

    // One band per relay under the curve: its height is the share of the
    // column the relay spent on.
    double laneTop = plot.bottom() + 4 * pt;
    for (int r = 0; r < 4; ++r) {
        if (!curve.HasRelay(r))
            continue;
        const QRectF lane(plot.left(), laneTop, plot.width(), laneH - 1 * pt);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(240, 240, 240));
        p.drawRect(lane);
        p.setBrush(RelayColor());
        for (const tRelaySpan &span : RelaySpans(curve, r)) {
            const double x0 = X(span.fromMs), x1 = std::min(X(span.toMs), lane.right());
            const double h = lane.height() * span.share;
            p.drawRect(QRectF(x0, lane.bottom() - h, std::max(x1 - x0, 0.3 * pt), h));
        }
        p.setPen(text);
        p.drawText(QRectF(area.left(), laneTop, left - area.left() - 3 * pt, laneH),
                   Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Relé %1").arg(r + 1));
        laneTop += laneH;
    }

    // Legend: each sensor drawn, the unit, the shade.
    double x = plot.left();
    const double legendY = area.top();
    auto legend = [&](const QColor &color, const QString &label) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRect(QRectF(x, legendY + lineH * 0.3, lineH * 0.9, lineH * 0.5));
        x += lineH * 1.1;
        p.setPen(text);
        p.drawText(QPointF(x, legendY + fm.ascent()), label);
        x += fm.horizontalAdvance(label) + lineH;
    };
    for (int k = 0; k < 4; ++k)
        if (curve.HasSensor(k))
            legend(SensorColor(k), QStringLiteral("Sensor %1").arg(k + 1));
    legend(ExcursionColor(), QStringLiteral("Fora dos limites"));
    if (!curve.alarms.empty())
        legend(AlarmColor(), QStringLiteral("Alarme"));
    p.setPen(text);
    p.drawText(QRectF(plot.left(), legendY, plot.width(), lineH), Qt::AlignRight | Qt::AlignTop,
               unitText(curve.unit));
    if (curve.Empty())
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("Sem leituras neste período"));
    p.restore();
}
