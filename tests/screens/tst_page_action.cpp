// The one shape of every page action: question, progress line, message
// window, values stored, commands until the first failure, report.
#include "page_action.h"
#include "screen_test_host.h"

#include <QTest>

class tst_page_action : public QObject {
    Q_OBJECT

    static tAction Sample(QStringList &trail) {
        return {.question = QStringLiteral("Continuar?"),
                .progress = QStringLiteral("Lendo tudo"),
                .popup = true,
                .collect = [&trail] { trail << QStringLiteral("collect"); },
                .commands = {cmdGET_PAR_SYSTEM, cmdGET_RTC_DATE, cmdGET_STATUS},
                .failed = [&trail](int32_t r) { trail << QStringLiteral("failed %1").arg(r); },
                .done = [&trail] { trail << QStringLiteral("done"); },
                .success = QStringLiteral("Lido")};
    }

  private Q_SLOTS:
    void runsInOrderAndStopsAtTheFirstFailure() {
        // A clockless model refuses the clock read: the status read after it
        // is never sent.
        TestHost host;
        QVERIFY(host.Connect("qx2n"));
        host.Clear();
        QStringList trail;
        const int before = host.sim->requestCount();
        QCOMPARE(RunAction(host, Sample(trail)).Result(), errMODBUS_ILLEGAL_DATA_ADDRESS);
        QCOMPARE(host.sim->requestCount(), before + 2);
        QCOMPARE(host.events,
                 (QStringList{"question Continuar?", "report Lendo tudo",
                              "popup Lendo tudo no Ondrel...", "send 18", "send 9",
                              "popup released", "report Modbus error -2", "warning -2"}));
        QCOMPARE(trail, (QStringList{"collect", "failed -2"}));

        host.Clear();
        trail.clear();
        QVERIFY(host.Connect("qx4r"));
        host.Clear();
        QCOMPARE(RunAction(host, Sample(trail)).Result(), 21);
        QCOMPARE(host.reports, (QStringList{"Lendo tudo", "Lido"}));
        QCOMPARE(trail, (QStringList{"collect", "done"}));
        QCOMPARE(host.popups, 0);
    }

    void declinedQuestionSendsNothing() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.Clear();
        host.answer = false;
        QStringList trail;
        const int before = host.sim->requestCount();
        QCOMPARE(RunAction(host, Sample(trail)).Result(), actDECLINED);
        QCOMPARE(host.sim->requestCount(), before);
        QCOMPARE(host.events, QStringList{"question Continuar?"});
        QVERIFY(trail.isEmpty());
    }

    void silentFailureReportsNothing() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setFault(sim::Fault::Exception, 4, 1);
        host.Clear();
        bool done = false;
        const int32_t r =
            RunAction(host,
                      {.commands = {cmdGET_STATUS}, .silent = true, .done = [&] { done = true; }})
                .Result();
        QCOMPARE(r, errMODBUS_SLAVE_DEVICE_FAILURE);
        QVERIFY(!done);
        QCOMPARE(host.events, QStringList{"send 2"});
        QVERIFY(host.reports.isEmpty() && host.warnings.isEmpty());
    }
};

QTEST_MAIN(tst_page_action)
#include "tst_page_action.moc"
