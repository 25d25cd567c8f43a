// Link health: every exchange counted by how it ended, against the
// simulated controller's fault switches, and the round-trip figures.
#include "ondrel_sim.h"
#include "u_ondrel.h"
#include "u_uart.h"

#include <QJsonObject>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include <array>
#include <memory>

Q_DECLARE_METATYPE(sim::Fault)
Q_DECLARE_METATYPE(tCommand)
Q_DECLARE_METATYPE(tOutcome)

class tst_LinkHealth : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Controller> sim;
    std::unique_ptr<tOndrel> dev;

    bool connectTo() {
        sim = std::make_unique<sim::Controller>();
        if (!sim->start())
            return false;
        dev = std::make_unique<tOndrel>();
        dev->SetTimeout(1);
        const bool open = dev->OpenConnection(QString::fromStdString(sim->portName()), 201) == 1;
        dev->ResetLinkStats();
        return open;
    }

    // `n` exchanges of `outcome` and `good` good ones, and nothing else.
    static void compareCounts(const tLinkStats &stats, tOutcome outcome, uint64_t n,
                              uint64_t good) {
        std::array<uint64_t, tOutcomeCount> want{};
        want[size_t(tOutcome::Good)] = good;
        want[size_t(outcome)] += n;
        for (const tOutcomeRow &row : outcomeRows)
            QVERIFY2(stats.Of(row.outcome) == want[size_t(row.outcome)], row.name);
        QCOMPARE(stats.Total(), n + good);
    }

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    void cleanup() {
        dev.reset();
        sim.reset();
    }

    // One spoiled exchange, then a good one: each lands in its own row, the
    // exceptions also by their code, whatever result code they share.
    void outcomes_data() {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<int>("param");
        QTest::addColumn<tCommand>("cmd");
        QTest::addColumn<tOutcome>("outcome");
        QTest::addColumn<int>("exception");
        using sim::Fault;
        using enum tOutcome;
        QTest::newRow("good") << Fault::None << 0 << cmdGET_STATUS << Good << 0;
        QTest::newRow("time-out") << Fault::Silence << 0 << cmdGET_STATUS << Timeout << 0;
        QTest::newRow("crc") << Fault::BadCrc << 0 << cmdGET_STATUS << Crc << 0;
        QTest::newRow("other slave")
            << Fault::OtherSlave << 7 << cmdGET_STATUS << AddressOrFunction << 0;
        QTest::newRow("other function")
            << Fault::OtherFunction << 4 << cmdGET_STATUS << AddressOrFunction << 0;
        QTest::newRow("exception 2") << Fault::Exception << 2 << cmdGET_STATUS << Exception << 2;
        QTest::newRow("exception 5, not a send failure")
            << Fault::Exception << 5 << cmdGET_STATUS << Exception << 5;
        QTest::newRow("exception 6, not a time-out")
            << Fault::Exception << 6 << cmdGET_STATUS << Exception << 6;
        QTest::newRow("echoed value") << Fault::WrongEcho << 0 << cmdRST_STAT_TEMP << Echo << 0;
        QTest::newRow("echoed address")
            << Fault::WrongEchoAddr << 0 << cmdSET_RTC_TIME << Echo << 0;
        QTest::newRow("byte count") << Fault::WrongByteCount << -2 << cmdGET_STATUS << Length << 0;
        QTest::newRow("oversize") << Fault::Oversize << 300 << cmdGET_STATUS << Length << 0;
        QTest::newRow("stray bytes") << Fault::StrayBytes << 2 << cmdGET_STATUS << Noise << 0;
        QTest::newRow("late answer") << Fault::Late << 1200 << cmdGET_STATUS << Late << 0;
    }
    void outcomes() {
        QFETCH(sim::Fault, fault);
        QFETCH(int, param);
        QFETCH(tCommand, cmd);
        QFETCH(tOutcome, outcome);
        QFETCH(int, exception);
        QVERIFY(connectTo());
        sim->setFault(fault, param, 1);
        dev->SendCommand(cmd);
        if (outcome == tOutcome::Late) // thrown away before the next request
            QTRY_VERIFY_WITH_TIMEOUT(dev->Uart().RXda() > 0, 10000);
        QVERIFY(dev->SendCommand(cmdGET_STATUS) > 0);

        const tLinkStats &stats = dev->LinkStats();
        compareCounts(stats, outcome, 1, 1);
        for (int code = 0; code < 256; ++code)
            QCOMPARE(stats.OfException(code), code == exception && exception ? 1u : 0u);
        QCOMPARE(stats.RoundTrip().count, stats.Of(tOutcome::Good));
        QVERIFY(stats.RoundTrip().min > 0);
    }

    // The adapter is pulled during an exchange: that one and every one after
    // it count as a lost port, not as time-outs or send failures.
    void portLost() {
        QVERIFY(connectTo());
        dev->SetTimeout(10);
        sim->setFault(sim::Fault::Late, 5000, 1);
        // Pulled once the request is in; this thread waits on the line.
        std::jthread pull([this, before = sim->requestCount()] {
            while (sim->requestCount() == before)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sim->stop();
        });
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), errMODBUS_TIMEOUT);
        QCOMPARE(dev->SendCommand(cmdGET_STATUS), errMODBUS_TX);
        compareCounts(dev->LinkStats(), tOutcome::PortLost, 2, 0);
    }

    // Percentiles kept within about 2 % by the buckets, extremes exact;
    // the texts and the machine-readable figures agree.
    void roundTripsAndTexts() {
        tLinkStats stats;
        QCOMPARE(stats.RoundTrip().count, 0u);
        for (int ms = 1; ms <= 100; ++ms)
            stats.Good(int64_t(ms) * 1000000);
        stats.Count(tOutcome::Timeout);
        stats.Count(tOutcome::Exception, 2);
        const tRoundTrip r = stats.RoundTrip();
        QCOMPARE(r.count, 100u);
        QCOMPARE(r.min, 1.0);
        QCOMPARE(r.max, 100.0);
        QVERIFY2(qAbs(r.median - 50) <= 1.5, qPrintable(QString::number(r.median)));
        QVERIFY2(qAbs(r.p95 - 95) <= 2.5, qPrintable(QString::number(r.p95)));

        QVERIFY(stats.Summary().startsWith(
            QStringLiteral("102 trocas, 100 boas, 1 timeout, 1 exceção 2; ida e volta "
                           "mín/mediana/p95/máx 1,0/")));
        QCOMPARE(stats.Report().first(), QStringLiteral("102 trocas, 100 boas, 2,0% com falha"));
        const QJsonObject json = stats.Json();
        QCOMPARE(json.value("trocas").toInt(), 102);
        QCOMPARE(json.value("timeout").toInt(), 1);
        QCOMPARE(json.value("excecoes").toObject().value("2").toInt(), 1);
        QCOMPARE(json.value("ida_e_volta_ms").toObject().value("max").toDouble(), 100.0);

        stats.Reset();
        QCOMPARE(stats.Total(), 0u);
        QCOMPARE(stats.Summary(), QStringLiteral("0 trocas, 0 boas"));
    }
};

QTEST_GUILESS_MAIN(tst_LinkHealth)
#include "tst_link_health.moc"
