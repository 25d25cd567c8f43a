// The system parameter and clock pages in the window: the two actions that
// end a session in code, and where each leaves the technician.
#include "app_fixture.h"

#include <QCheckBox>
#include <QStackedWidget>

class tst_system_pages : public QObject {
    Q_OBJECT

    static QString CurrentPage(const App &app) {
        QWidget *page = app.w->CurrentPage();
        return page ? page->objectName() : QString();
    }

  private Q_SLOTS:
    void clockOutputKeepsTheClockPage() {
        Sim sim;
        QVERIFY(sim.started);
        App app;
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        app.Click("btnCnt");
        app.Click("btnMenuRTC");
        QCOMPARE(app.Status(), QStringLiteral("Data e hora lidos com sucesso"));
        app.Find<QCheckBox>("cbxRtcEn")->setChecked(true);
        app.dialogs->shown.clear();
        app.Click("btnRTC");

        QCOMPARE(app.dialogs->shown.size(), 1);
        QVERIFY(app.dialogs->shown[0].startsWith("question: Esta função vai colocar o Ondrel"));
        QVERIFY(!w.Ondrel().Connected());
        QCOMPARE(CurrentPage(app), QStringLiteral("pnlRTC"));
        QVERIFY(!app.Find<QPushButton>("btnMenuRTC")->isEnabled());
        QCOMPARE(app.Find<QPushButton>("btnCnt")->text(), QStringLiteral("Conectar"));
        QCOMPARE(app.Status(), QStringLiteral("Desconectado do dispositivo"));
    }

    void factoryDefaultsShowTheConnectionPage() {
        Sim sim;
        QVERIFY(sim.started);
        sim.controller->setReg(0x0020 + 9, 0);
        App app;
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        app.Click("btnCnt");
        app.Click("btnMenuPAR");
        QCOMPARE(CurrentPage(app), QStringLiteral("pnlPAR"));
        app.Click("btnStandard");

        QVERIFY(!w.Ondrel().Connected());
        QCOMPARE(CurrentPage(app), QStringLiteral("pnlConnection"));
        QCOMPARE(app.Status(), QStringLiteral("Comando executado com sucesso"));
        QCOMPARE(int(sim.controller->reg(0x0020 + 9)), 1);
        // The next session reads the page afresh.
        app.Click("btnCnt");
        QCOMPARE(app.Find<QPushButton>("btnMenuPAR")->property("tag").toInt(), 0);
    }

    // The first-visit read of "Ajustes" fails and leaves the page at zeros;
    // saving the configuration then reads the system block in the
    // background. That read must show on the page, or "Gravar" would send
    // every untouched field as 0.
    void backgroundReadFillsTheSystemPage() {
        Sim sim;
        QVERIFY(sim.started);
        // Offsets of +1.5 and -0.7 degrees, both menu passwords set.
        const std::pair<int, uint16_t> set[] = {{0, 15}, {1, uint16_t(-7)}, {4, 1234}, {5, 4321}};
        for (const auto &[index, value] : set)
            sim.controller->setReg(0x0020 + index, value);
        QList<uint16_t> held;
        for (int i = 0; i < 13; ++i)
            held << sim.controller->reg(0x0020 + i);
        App app;
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        app.Click("btnCnt");
        sim.controller->setFault(sim::Fault::Exception, 4, 1);
        app.Click("btnMenuPAR");
        QVERIFY(!app.Find<QPushButton>("btnWritePAR")->isEnabled());

        app.Click("btnMenuMain");
        app.dialogs->files = {app.Path("saved.cfg")};
        app.Click("btnSaveConfig");
        QVERIFY(QFile::exists(app.Path("saved.cfg")));
        app.Click("btnMenuPAR");
        QVERIFY(app.Find<QPushButton>("btnWritePAR")->isEnabled());
        app.Click("btnWritePAR");
        QCOMPARE(app.Status(), QStringLiteral("Gravação dos parâmetros feita com sucesso"));
        QList<uint16_t> after;
        for (int i = 0; i < 13; ++i)
            after << sim.controller->reg(0x0020 + i);
        QCOMPARE(after, held);
    }
};

QTEST_MAIN(tst_system_pages)
#include "tst_system_pages.moc"
