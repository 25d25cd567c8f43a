// The writer thread: readings and other records handed over while the file
// refuses wait, and go in once, in order, when it takes them again; the
// refusal and its end are said once each for both.
#include "history_writer.h"

#include "file_size_limit.h"

#include <QTemporaryDir>
#include <QTest>

class tst_history_writer : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void refusedRecordsWaitAndGoInOnce();
};

void tst_history_writer::refusedRecordsWaitAndGoInOnce() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("historico.sqlite"));
    QStringList reports;
    tHistoryWriter writer(path, [&reports](const QString &text, bool failure) {
        reports << (failure ? QStringLiteral("! ") : QString()) + text;
    });
    writer.SetInterval(1);
    const tHistController c{0, QStringLiteral("/dev/ttyUSB0"), 7, QStringLiteral("qx2r"),
                            QStringLiteral("1.2")};
    const int64_t t0 = 1'780'000'000'000;
    const auto record = [&](int i) {
        writer.Observe({.utcMs = t0 + i * 1000,
                        .port = c.port,
                        .address = c.address,
                        .model = c.model,
                        .firmware = c.firmware,
                        .result = 22,
                        .state = {1, 1, 1, 1},
                        .value = {i, 0, 0, 0},
                        .relay = {0, 0, -1, -1}});
        writer.Post([c, i, t0](tHistoryStore &s) {
            tHistAudit a;
            a.utcMs = t0 + i * 1000;
            a.command = QString::number(i);
            a.result = 1;
            a.controller = s.ControllerId(c);
            return a.controller && s.AddAudit(a);
        });
    };
    record(0);
    writer.WaitIdle();
    {
        const FileSizeLimit full(4096);
        QVERIFY(full.ok);
        for (int i = 1; i <= 5; ++i)
            record(i);
        writer.WaitIdle();
        QTRY_COMPARE(reports.size(), 1);
        QVERIFY2(reports[0].startsWith(QStringLiteral("! Gravação do histórico interrompida")),
                 qPrintable(reports[0]));
    }
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 2, 20000);
    QCOMPARE(reports[1], QStringLiteral("Gravação do histórico retomada"));
    record(6);
    writer.WaitIdle();

    tHistoryStore store;
    QVERIFY(store.Open(path));
    QCOMPARE(store.Controllers().size(), size_t(1));
    QList<int64_t> readings, audits, expected;
    for (const tStatusReading &r : store.Readings(store.Controllers()[0].id, 0, INT64_MAX))
        readings << (r.utcMs - t0) / 1000;
    for (const tHistAuditEntry &e : store.Audits(0, 0, INT64_MAX))
        audits << e.audit.command.toLongLong();
    for (int i = 0; i <= 6; ++i)
        expected << i;
    QCOMPARE(readings, expected);
    QCOMPARE(audits, expected);
    QCOMPARE(reports.size(), 2);
}

QTEST_GUILESS_MAIN(tst_history_writer)
#include "tst_history_writer.moc"
