// The history page on a small history file: its controls by name, the
// curve fed one min/max pair per pixel column, the excursions listed, and
// a live reading drawn at once.
#include "curve_painter.h"
#include "history_chart.h"
#include "history_page.h"
#include "screen_test_host.h"

#include "qcustomplot_include.h"
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <set>

namespace {
constexpr int64_t minute = 60'000;
// 2026-03-02 12:00 at UTC-3.
const QDateTime now(QDate(2026, 3, 2), QTime(12, 0), QTimeZone(-3 * 3600));

tStatusReading Reading(int64_t t, int32_t room) {
    tStatusReading r{.utcMs = t, .offsetSec = -3 * 3600};
    r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_ERRMAX, stsTEMP_ERRMAX};
    r.value = {room, -75, 0, 0};
    r.relay = {int32_t(t / minute % 2), 0, 0, 0};
    r.result = 22;
    return r;
}
} // namespace

class tst_history_page : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    tHistoryStore store;
    int64_t ctl = 0;
    int64_t end = 0;

  private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        QVERIFY(store.Open(dir.filePath(QStringLiteral("historico.sqlite"))));
        ctl = store.ControllerId({0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"),
                                  QStringLiteral("1.2")});
        // A day of readings every 10 s up to the page's clock, at 4.0 ºC with
        // a ripple; in the last hour two excursions (above 8.0 for 3
        // minutes, below 0.0 for 2) and one still going when the range ends.
        end = now.toMSecsSinceEpoch();
        const int64_t start = end - 24 * 60 * minute;
        QVERIFY(store.Begin());
        for (int64_t t = start; t < end; t += 10'000) {
            const int64_t m = (end - t + minute - 1) / minute; // minutes before the end
            int32_t room = 40 + int32_t(t / 10'000 % 5);
            if (m <= 50 && m > 47)
                room = 85 + int32_t(50 - m) * 2; // 8.5, 8.7, 8.9
            else if (m <= 30 && m > 28)
                room = -12;
            else if (m <= 2)
                room = 95;
            QVERIFY(store.AddReading(ctl, Reading(t, room)));
        }
        QVERIFY(store.Commit());
    }

    void controlsNamedAndLabelled() {
        TestHost host;
        THistoryPage page(host);
        QCOMPARE(page.objectName(), QStringLiteral("pnlHist"));
        for (const char *name : {"cbxHistController", "btnHist1h", "btnHist24h", "btnHist7d",
                                 "btnHist30d", "btnHist1ano", "btnHistPeriodo", "edtHistDe",
                                 "edtHistAte", "cbxHistSensor1", "edtHistMin1", "edtHistMax4",
                                 "stgHistExc", "btnHistReport", "btnHistCsv", "plotHist"})
            QVERIFY2(page.findChild<QWidget *>(QLatin1String(name)), name);
        // Every input says what it is to a screen reader (the parts inside
        // an input, such as a table's corner button, are the input's own).
        auto isInput = [](const QWidget *w) {
            return qobject_cast<const QAbstractButton *>(w) ||
                   qobject_cast<const QAbstractSpinBox *>(w) ||
                   qobject_cast<const QComboBox *>(w) || qobject_cast<const QTableWidget *>(w);
        };
        int inputs = 0;
        for (QWidget *w : page.findChildren<QWidget *>()) {
            bool inside = false;
            for (QWidget *up = w->parentWidget(); up && up != &page; up = up->parentWidget())
                inside = inside || isInput(up);
            if (!isInput(w) || inside)
                continue;
            ++inputs;
            QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
        QVERIFY(inputs >= 24);
    }

    void curveThinnedToColumns_data() {
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("width");
        QTest::newRow("24 h, narrow") << int(THistoryPage::tRange::Day) << 500;
        QTest::newRow("24 h, wide") << int(THistoryPage::tRange::Day) << 1100;
        QTest::newRow("1 h") << int(THistoryPage::tRange::Hour) << 800;
    }
    void curveThinnedToColumns() {
        QFETCH(int, range);
        QFETCH(int, width);
        TestHost host;
        THistoryPage page(host);
        page.SetClock([] { return now; });
        page.resize(width, 360);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.SetStore(&store);
        page.SetRange(THistoryPage::tRange(range));
        const tCurve &curve = page.Curve();
        const int columns = page.chart->Columns();
        QVERIFY(curve.HasSensor(0) && curve.HasSensor(1) && !curve.HasSensor(2));
        // What the plot holds: per graph, at most one point per pixel column.
        QCustomPlot *plot = page.chart->Plot();
        QVERIFY(plot->graphCount() >= 4);
        for (int g = 0; g < plot->graphCount(); ++g) {
            if (plot->graph(g)->keyAxis() != plot->xAxis)
                continue; // the relays' lanes, drawn by the stretches they were on
            std::set<int64_t> seen;
            for (auto it = plot->graph(g)->data()->constBegin();
                 it != plot->graph(g)->data()->constEnd(); ++it) {
                if (std::isnan(it->value))
                    continue;
                const double ms = it->key * 1000.0;
                QVERIFY(ms >= curve.fromMs && ms < curve.toMs);
                const auto column = int64_t((ms - curve.fromMs) / curve.bucketMs);
                QVERIFY2(seen.insert(column).second, "two points in one column");
            }
            QVERIFY(seen.size() <= size_t(columns));
        }
        // Each pair is the true min and max of its column's readings.
        const std::vector<tStatusReading> readings = store.Readings(ctl, curve.fromMs, curve.toMs);
        for (const tHistBucket &b : curve.sensors[0]) {
            int32_t lo = INT32_MAX, hi = INT32_MIN;
            for (const tStatusReading &r : readings)
                if (r.utcMs >= b.fromMs && r.utcMs < b.fromMs + curve.bucketMs) {
                    lo = std::min(lo, r.value[0]);
                    hi = std::max(hi, r.value[0]);
                }
            QCOMPARE(b.min, lo);
            QCOMPARE(b.max, hi);
        }
    }

    void excursionsListed() {
        TestHost host;
        THistoryPage page(host);
        page.SetClock([] { return now; });
        page.SetStore(&store);
        page.SetRange(THistoryPage::tRange::Hour);
        QCOMPARE(page.stgHistExc->rowCount(), 0); // no limits, nothing outside
        page.edtHistMin[0]->setValue(0.0);
        page.edtHistMax[0]->setValue(8.0);
        auto row = [&](int r) {
            QStringList cells;
            for (int c = 0; c < page.stgHistExc->columnCount(); ++c)
                cells << page.stgHistExc->item(r, c)->text();
            return cells.join(QLatin1String(" | "));
        };
        QTRY_VERIFY(!page.SearchingExcursions());
        QCOMPARE(page.stgHistExc->rowCount(), 3);
        QCOMPARE(row(0), QStringLiteral("1 | 02/03 11:10 | 02/03 11:13 | 3 min | ↑ 8,9 ºC"));
        QCOMPARE(row(1), QStringLiteral("1 | 02/03 11:30 | 02/03 11:32 | 2 min | ↓ -1,2 ºC"));
        QVERIFY(row(2).startsWith(QStringLiteral("1 | 02/03 11:58 | em curso | ")));
        // Shaded on the curve where the columns left the limits.
        QCOMPARE(page.Curve().shades[0].size(), size_t(3));
        // A double click shows that excursion alone.
        Q_EMIT page.stgHistExc->cellDoubleClicked(1, 0);
        QCOMPARE(page.Range(), THistoryPage::tRange::Period);
        QCOMPARE(page.FromMs(), end - 45 * minute);
        QTRY_VERIFY(!page.SearchingExcursions());
        QCOMPARE(page.stgHistExc->rowCount(), 1);
    }

    void liveReadingDrawnAtOnce() {
        TestHost host;
        THistoryPage page(host);
        QDateTime clock = now;
        page.SetClock([&] { return clock; });
        page.SetStore(&store);
        page.SetRange(THistoryPage::tRange::Hour);
        // A reading the store does not hold yet, 30 s after its newest.
        clock = now.addSecs(30);
        tStatusReading r = Reading(end + 20'000, 300);
        page.AddLive(ctl, r);
        QCOMPARE(page.Curve().sensors[0].back().max, 300);
        // Another controller's readings are not this curve's.
        r.value[0] = 500;
        page.AddLive(ctl + 1, r);
        QCOMPARE(page.Curve().sensors[0].back().max, 300);
        // It stays when the range is queried again.
        page.Redraw();
        QCOMPARE(page.Curve().sensors[0].back().max, 300);
    }

    // A reading a minute over the last hour (many pixel columns per reading):
    // relay 1 on for ten minutes draws as one bar, six minutes above the
    // limit as one band; the key names the sensors drawn.
    void sparseReadingsDrawAsBarsAndBands() {
        QTemporaryDir folder;
        tHistoryStore sparse;
        QVERIFY(sparse.Open(folder.filePath(QStringLiteral("esparso.sqlite"))));
        const int64_t id = sparse.ControllerId({0, QStringLiteral("/dev/ttyUSB0"), 201,
                                                QStringLiteral("qx4r"), QStringLiteral("1.2")});
        const int64_t hourAgo = end - 60 * minute;
        for (int m = 0; m < 60; ++m) {
            tStatusReading r = Reading(hourAgo + m * minute, m >= 40 && m < 46 ? 95 : 40);
            r.relay[0] = m >= 20 && m < 30 ? 1 : 0;
            QVERIFY(sparse.AddReading(id, r));
        }
        TestHost host;
        THistoryPage page(host);
        page.SetClock([] { return now; });
        page.resize(900, 360);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.SetStore(&sparse);
        page.SetRange(THistoryPage::tRange::Hour);
        page.edtHistMax[0]->setValue(8.0);
        const tCurve &curve = page.Curve();
        QVERIFY(curve.bucketMs < minute / 2);

        const std::vector<tRelaySpan> on = RelaySpans(curve, 0);
        QCOMPARE(on.size(), size_t(1));
        QCOMPARE(on[0].share, 1.0);
        QVERIFY(on[0].fromMs <= hourAgo + 20 * minute);
        QVERIFY(on[0].toMs >= hourAgo + 30 * minute - curve.bucketMs);
        QVERIFY(RelaySpans(curve, 1).empty()); // relay 2 never on

        QCOMPARE(curve.shades[0].size(), size_t(1));
        QVERIFY(curve.shades[0][0].fromMs <= hourAgo + 40 * minute);
        QVERIFY(curve.shades[0][0].toMs >= hourAgo + 46 * minute - curve.bucketMs);

        QCPLegend *key = page.chart->Plot()->legend;
        QStringList names;
        for (int i = 0; i < key->itemCount(); ++i)
            if (auto *item = qobject_cast<QCPPlottableLegendItem *>(key->item(i)))
                names << item->plottable()->name();
        QCOMPARE(names, (QStringList{"Sensor 1", "Sensor 2"}));
        QVERIFY(key->visible());
    }

    // Thirty seconds of readings in the hour: "Ajustar aos dados" narrows the
    // curve to them, with time labels to the second; off, the hour again.
    void fitToData() {
        QTemporaryDir folder;
        tHistoryStore brief;
        QVERIFY(brief.Open(folder.filePath(QStringLiteral("breve.sqlite"))));
        const int64_t id = brief.ControllerId({0, QStringLiteral("/dev/ttyUSB0"), 201,
                                               QStringLiteral("qx4r"), QStringLiteral("1.2")});
        const int64_t first = end - 10 * minute;
        for (int s = 0; s < 30; ++s)
            QVERIFY(brief.AddReading(id, Reading(first + s * 1000, 40 + s)));
        TestHost host;
        THistoryPage page(host);
        page.SetClock([] { return now; });
        page.resize(900, 360);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.SetStore(&brief);
        page.SetRange(THistoryPage::tRange::Hour);
        QCOMPARE(page.Curve().toMs - page.Curve().fromMs, 60 * minute);
        page.cbxHistFit->setChecked(true);
        const tCurve &fitted = page.Curve();
        QVERIFY(fitted.fromMs <= first && fitted.toMs > first + 29'000);
        QVERIFY(fitted.toMs - fitted.fromMs < 2 * minute);
        QCOMPARE(fitted.sensors[0].front().min, 40);
        QCOMPARE(fitted.sensors[0].back().max, 69);
        const std::vector<tTimeTick> ticks = TimeTicks(fitted.fromMs, fitted.toMs, 6);
        QVERIFY(ticks.size() >= 2);
        QCOMPARE(ticks.front().label.size(), 8); // "HH:mm:ss"
        page.cbxHistFit->setChecked(false);
        QCOMPARE(page.Curve().toMs - page.Curve().fromMs, 60 * minute);
    }
};

QTEST_MAIN(tst_history_page)
#include "tst_history_page.moc"
