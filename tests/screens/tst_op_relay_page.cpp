#include "op_relay_page.h"
#include "relay_operations.h"
#include "screen_test_host.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using Codes = QList<int32_t>;

class TestOpRelayPage : public QObject {
    Q_OBJECT

    static QComboBox *box(TOpRelayPage &page, int k) {
        return page.findChild<QComboBox *>(QStringLiteral("cbxOpRelay%1").arg(k + 1));
    }

    static QStringList names(const Codes &codes) {
        QStringList list;
        for (int32_t c : codes)
            list.append(QString::fromUtf8(opRELAY[size_t(c)]));
        return list;
    }

    static QStringList items(QComboBox *b) {
        QStringList list;
        for (int i = 0; i < b->count(); ++i)
            list.append(b->itemText(i));
        return list;
    }

    static void fill(TestHost &host, TOpRelayPage &page, const QString &model, const Codes &codes) {
        host.dev.Model = model;
        for (int k = 0; k < 4; ++k)
            host.dev.Relay[k].par[0] = codes[k];
        page.SetParOpRelays();
    }

    // Picks `code` in relay k's box as the user would.
    static void pick(TOpRelayPage &page, int k, int32_t code) {
        box(page, k)->setCurrentIndex(GetIdxOpMat(page.idxOpMat(), code));
    }

  private Q_SLOTS:
    void offersTheModelsOperations_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<Codes>("offered");
        const Codes all{0, 1, 2, 3, 4, 5, 6, 7, 8};
        QTest::newRow("qx1n") << "qx1n" << Codes{0, 1, 2};
        QTest::newRow("qx1r") << "qx1r" << Codes{0, 1, 2, 7, 8};
        QTest::newRow("qx2n") << "qx2n" << Codes{0, 1, 2, 3, 4, 5, 6};
        QTest::newRow("qx2r") << "qx2r" << all;
        QTest::newRow("qx3r") << "qx3r" << all;
        QTest::newRow("qx4r") << "qx4r" << all;
        QTest::newRow("compared exactly") << "QX1N" << all;
        QTest::newRow("unknown model") << "zz9z" << all;
    }
    void offersTheModelsOperations() {
        QFETCH(QString, model);
        QFETCH(Codes, offered);
        TestHost host;
        TOpRelayPage page(host);
        fill(host, page, model, {0, 0, 0, 0});
        for (int k = 0; k < 4; ++k)
            QCOMPARE(items(box(page, k)), names(offered));
    }

    void singleUseOperations_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<Codes>("stored");
        QTest::addColumn<int>("relay");
        QTest::addColumn<int>("picked");
        QTest::addColumn<bool>("refused");
        QTest::newRow("defrost twice") << "qx4r" << Codes{3, 0, 0, 0} << 1 << 3 << true;
        QTest::newRow("heater twice") << "qx4r" << Codes{0, 0, 0, 5} << 2 << 5 << true;
        QTest::newRow("fan held by a relay the model lacks")
            << "qx2n" << Codes{0, 0, 4, 0} << 0 << 4 << true;
        QTest::newRow("cooling twice") << "qx4r" << Codes{1, 0, 0, 0} << 1 << 1 << false;
        QTest::newRow("timer twice") << "qx4r" << Codes{7, 7, 0, 0} << 2 << 7 << false;
        QTest::newRow("auxiliary twice") << "qx4r" << Codes{6, 0, 0, 0} << 3 << 6 << false;
        QTest::newRow("first defrost") << "qx4r" << Codes{1, 0, 0, 0} << 1 << 3 << false;
        // Filling the page never checks, even over the controller's duplicates.
        QTest::newRow("filled with duplicates") << "qx4r" << Codes{3, 3, 4, 4} << 0 << 1 << false;
    }
    void singleUseOperations() {
        QFETCH(QString, model);
        QFETCH(Codes, stored);
        QFETCH(int, relay);
        QFETCH(int, picked);
        QFETCH(bool, refused);
        TestHost host;
        TOpRelayPage page(host);
        fill(host, page, model, stored);
        page.SetRelayCount(model == QLatin1String("qx2n") ? 2 : 4);
        QVERIFY(host.warnings.isEmpty());

        pick(page, relay, picked);
        const QStringList expectedWarnings =
            refused ? QStringList{"Esse modo de operação não pode ser replicado em mais de um rele"}
                    : QStringList{};
        QCOMPARE(host.warnings, expectedWarnings);
        QCOMPARE(box(page, relay)->currentText(),
                 QString::fromUtf8(opRELAY[size_t(refused ? opNOP : picked)]));
        QCOMPARE(page.opComp()[size_t(relay)], refused ? opNOP : picked);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(host.dev.Relay[k].par[0], stored[k]);
    }

    void storedCodeNotOfferedIsWrittenBackUnchanged() {
        TestHost host;
        QVERIFY(host.Connect("qx2n"));
        const Codes stored{7, 1, 0, 8};
        for (int k = 0; k < 4; ++k)
            host.sim->setReg(3 + k, uint16_t(stored[k]));
        TOpRelayPage page(host);
        page.SetRelayCount(host.dev.nRelay);
        page.btnOpReadClick();
        QCOMPARE(host.reports, (QStringList{"Lendo parâmetros de sistema",
                                            "Leitura dos parâmetros feita com sucesso"}));
        QCOMPARE(box(page, 0)->currentIndex(), -1);
        QCOMPARE(box(page, 3)->currentIndex(), -1);
        QCOMPARE(box(page, 1)->currentText(), QStringLiteral("Refrigeração"));

        pick(page, 1, opDEFROST);
        page.btnOpWriteClick();
        QCOMPARE(host.questions, QStringList{"Deseja mesmo gravar os novos operadores no Ondrel?"});
        QVERIFY(host.errors.isEmpty());
        QCOMPARE(host.reports.last(), QStringLiteral("Gravação feita com sucesso"));
        const Codes written{7, 3, 0, 8};
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(int32_t(host.sim->reg(3 + k)), written[k]);
            QCOMPARE(host.dev.Relay[k].par[0], written[k]);
        }
        QCOMPARE(host.popups, 0);
    }

    void declinedWriteSendsNothing() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        TOpRelayPage page(host);
        page.btnOpReadClick();
        Codes before;
        for (const tRelay &r : host.dev.Relay)
            before.append(r.par[0]);
        pick(page, 0, before[0] == opHOT ? opCOLD : opHOT);
        const int requests = host.sim->requestCount();
        host.answer = false;
        host.reports.clear();
        page.btnOpWriteClick();
        QCOMPARE(host.questions.size(), 1);
        QVERIFY(host.reports.isEmpty());
        QCOMPARE(host.sim->requestCount(), requests);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(host.dev.Relay[k].par[0], before[k]);
    }

    void failedExchangesKeepTheSelections() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        for (int k = 0; k < 4; ++k)
            host.sim->setReg(3 + k, uint16_t(k + 1));
        TOpRelayPage page(host);
        page.btnOpReadClick();
        pick(page, 0, opAUX);

        // A failed read changes neither the page nor the driver.
        host.sim->setReg(3, opTIMER);
        host.sim->setFault(sim::Fault::Exception, 2, 1);
        page.btnOpReadClick();
        QCOMPARE(host.errors, QList<int32_t>{-2});
        QCOMPARE(box(page, 0)->currentText(), QStringLiteral("Auxiliar"));
        QCOMPARE(host.dev.Relay[0].par[0], 1);

        // A failed write leaves the page's selections in the driver.
        host.sim->setFault(sim::Fault::Exception, 4, 1);
        page.btnOpWriteClick();
        QCOMPARE(host.errors, (QList<int32_t>{-2, -4}));
        QCOMPARE(host.dev.Relay[0].par[0], opAUX);
        QCOMPARE(int(host.sim->reg(3)), int(opTIMER));
        QCOMPARE(host.popups, 0);
    }

    void helpMemoLines() {
        TestHost host;
        TOpRelayPage page(host);
        auto *memo = page.findChild<QPlainTextEdit *>();
        QVERIFY(memo && memo->isReadOnly());
        const QStringList lines = memo->toPlainText().split(QLatin1Char('\n'));
        const QStringList headings{"SEM OPERAÇÃO", "REFRIGERAÇÃO E AQUECIMENTO",
                                   "DEGELO",       "VENTILADOR ",
                                   "SOLAR",        "AUXILIAR",
                                   "TIMER",        "TIMER CONDICIONAL"};
        // Every section is heading, text and a blank; AUXILIAR has two text
        // lines and nothing follows the last section.
        QCOMPARE(lines.size(), 8 + 9 + 7);
        for (int s = 0, at = 0; s < headings.size(); ++s) {
            QCOMPARE(lines[at], headings[s]);
            at += headings[s] == QLatin1String("AUXILIAR") ? 3 : 2;
            if (at < lines.size())
                QCOMPARE(lines[at++], QString());
        }
        QVERIFY(
            lines[13].startsWith(QStringLiteral("Um rele configurado com o modo operante solar")));
        QVERIFY(lines[13].endsWith(QStringLiteral("piscina. ")));
        QVERIFY(lines[17].startsWith(QStringLiteral("Há duas utilidades")));
        QVERIFY(lines.last().endsWith(QStringLiteral("em tempos programados.")));
    }
};

QTEST_MAIN(TestOpRelayPage)
#include "tst_op_relay_page.moc"
