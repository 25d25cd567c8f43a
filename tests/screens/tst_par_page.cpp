// The system parameter page against a simulated controller: what it shows
// for each register, what a write sends, the unit change, the factory
// defaults and the write that waits for a read.
#include "field_form.h"
#include "number_box.h"
#include "par_page.h"
#include "rtc_page.h"
#include "screen_test_host.h"
#include "system_params.h"
#include "temperature.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int systemBase = 0x0020;

// The controller's thirteen system registers, signed.
QList<int> Registers(const sim::Controller &sim) {
    QList<int> regs;
    for (int i = 0; i < nSYSTEM_REGS; ++i)
        regs << int(int16_t(sim.reg(systemBase + i)));
    return regs;
}

// The check box that switches entry `index` on, if any.
QCheckBox *ToggleOf(TParPage &page, int index) {
    const tParamField *f = fieldOf(SystemFields(), index);
    return *f->toggle ? page.findChild<QCheckBox *>(QString::fromUtf8(f->toggle)) : nullptr;
}

// Every paired box is enabled exactly while its check box is checked.
void ExpectPairsFollowTheirBoxes(TParPage &page) {
    for (const tParamField &f : SystemFields()) {
        if (!*f.toggle)
            continue;
        QCheckBox *toggle = ToggleOf(page, f.index);
        QVERIFY2(page.Form()->Control(f.index)->isEnabled() == toggle->isChecked(), f.control);
    }
}
} // namespace

class tst_par_page : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    // entry: the controller's register; edit: what the user does to the
    // entry's box (a number typed, or its check box set); shown: the box
    // after the read; marked: the page says it cannot show the entry;
    // written: the register after "Gravar". Every other register must come
    // back as it was.
    void readEditWrite_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QVariant>("edit");
        QTest::addColumn<double>("shown");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<int>("written");
        const QVariant none;
        QTest::newRow("offset 15 shows 1.5")
            << idxTEMP_OFFSET_SENSOR1 << 15 << none << 1.5 << false << 15;
        QTest::newRow("offset 1.5 typed stores 15")
            << idxTEMP_OFFSET_SENSOR2 << 0 << QVariant(1.5) << 0.0 << false << 15;
        QTest::newRow("offset -5.0 typed stores -50")
            << idxTEMP_OFFSET_SENSOR4 << 3 << QVariant(-5.0) << 0.3 << false << -50;
        QTest::newRow("password 0: unchecked, box off")
            << idxPASS_WORDN1 << 0 << none << 0.0 << false << 0;
        QTest::newRow("password 1234: checked, box on")
            << idxPASS_WORDN2 << 1234 << none << 1234.0 << false << 1234;
        QTest::newRow("password checked, nothing typed, sends 0")
            << idxPASS_WORDN1 << 0 << QVariant(true) << 0.0 << false << 0;
        QTest::newRow("delay unchecked sends 0")
            << idxDLY_INIT << 30 << QVariant(false) << 30.0 << false << 0;
        QTest::newRow("alarm typed") << idxALARM << 10 << QVariant(720.0) << 10.0 << false << 720;
        // Values the boxes cannot show stay the controller's until edited.
        QTest::newRow("offset 8.0 kept")
            << idxTEMP_OFFSET_SENSOR3 << 80 << none << 5.0 << true << 80;
        QTest::newRow("offset 8.0 edited")
            << idxTEMP_OFFSET_SENSOR3 << 80 << QVariant(-1.2) << 5.0 << true << -12;
        QTest::newRow("password -1 kept") << idxPASS_WORDN1 << -1 << none << 0.0 << true << -1;
        QTest::newRow("delay 300 kept") << idxDLY_INIT << 300 << none << 240.0 << true << 300;
        QTest::newRow("alarm 900 kept") << idxALARM << 900 << none << 720.0 << true << 900;
        QTest::newRow("unit 2 kept") << idxTST << 2 << none << 1.0 << true << 2;
        QTest::newRow("mode -1 kept") << idxSLA << -1 << none << 0.0 << true << -1;
    }
    void readEditWrite() {
        QFETCH(int, index);
        QFETCH(int, entry);
        QFETCH(QVariant, edit);
        QFETCH(double, shown);
        QFETCH(bool, marked);
        QFETCH(int, written);
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setReg(systemBase + index, uint16_t(entry));
        TParPage page(host);
        page.FollowState(host.dev);
        QVERIFY(!page.btnWritePAR->isEnabled());
        page.btnReadParClick();
        QVERIFY(host.errors.isEmpty());
        QVERIFY(page.btnWritePAR->isEnabled());

        QWidget *control = page.Form()->Control(index);
        if (auto *list = qobject_cast<QComboBox *>(control))
            QCOMPARE(double(list->currentIndex()), shown);
        else {
            QCOMPARE(static_cast<TNumberBox *>(control)->value(), shown);
            // Written as the controller shows it: 1234, not 1.234.
            QVERIFY(!static_cast<TNumberBox *>(control)->text().contains(u'.'));
        }
        QCOMPARE(page.Form()->OutOfRange(index), marked);
        if (QCheckBox *toggle = ToggleOf(page, index))
            QCOMPARE(toggle->isChecked(), entry > 0);
        ExpectPairsFollowTheirBoxes(page);

        if (edit.typeId() == QMetaType::Bool)
            ToggleOf(page, index)->setChecked(edit.toBool());
        else if (edit.isValid())
            static_cast<TNumberBox *>(control)->setValue(edit.toDouble());
        ExpectPairsFollowTheirBoxes(page);

        QList<int> expected = Registers(*host.sim);
        expected[index] = written;
        host.Clear();
        page.btnWritePARClick();
        QVERIFY(host.errors.isEmpty());
        QCOMPARE(Registers(*host.sim), expected);
        QCOMPARE(host.dev.System[size_t(index)], written);
    }

    void readAndWriteTalkAsTheControllerExpects() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        TParPage page(host);
        page.btnReadParClick();
        QCOMPARE(host.events, (QStringList{"report Lendo parâmetros de sistema",
                                           "popup Lendo parâmetros de sistema no Ondrel...",
                                           "send 18", "popup released",
                                           "report Leitura dos parâmetros feita com sucesso"}));
        host.Clear();
        page.btnWritePARClick();
        QCOMPARE(
            host.events,
            (QStringList{"question Deseja mesmo gravar os novos valores dos parâmetros no Ondrel?",
                         "report Gravando os parâmetros do sistema",
                         "popup Gravando os parâmetros do sistema no Ondrel...", "send 19",
                         "popup released", "report Gravação dos parâmetros feita com sucesso"}));

        // Declining sends and logs nothing.
        host.Clear();
        host.answer = false;
        const int requests = host.sim->requestCount();
        page.btnWritePARClick();
        QCOMPARE(host.events.size(), 1);
        QCOMPARE(host.sim->requestCount(), requests);
    }

    // The write sends System[7] and System[8] as the clock page last read
    // or set them, never from this page.
    void clockFormatWrittenAsTheClockPageLeftIt() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setReg(systemBase + idxCS24, 1);
        host.sim->setReg(systemBase + idxDTI, 0);
        TParPage page(host);
        TRtcPage clock(host);
        page.btnReadParClick();

        // Changed on the controller, then read on the clock page.
        host.sim->setReg(systemBase + idxCS24, 0);
        host.sim->setReg(systemBase + idxDTI, 1);
        clock.btnRTCLerClick();
        host.sim->setReg(systemBase + idxCS24, 7);
        host.sim->setReg(systemBase + idxDTI, 7);
        page.btnWritePARClick();
        QCOMPARE(int(host.sim->reg(systemBase + idxCS24)), 0);
        QCOMPARE(int(host.sim->reg(systemBase + idxDTI)), 1);

        // Set on the clock page.
        static_cast<QComboBox *>(clock.FormatForm()->Control(idxCS24))->setCurrentIndex(1);
        clock.btnReadRTCOSClick();
        clock.btnRTCAplicarClick();
        QVERIFY(host.errors.isEmpty());
        host.sim->setReg(systemBase + idxCS24, 7);
        page.btnWritePARClick();
        QCOMPARE(int(host.sim->reg(systemBase + idxCS24)), 1);
        QCOMPARE(int(host.sim->reg(systemBase + idxDTI)), 1);
    }

    // unit: the list's item picked before "Gravar" (-1: nothing edited);
    // fail: the controller refuses the write.
    void unitChangeConvertsTheRelayCopy_data() {
        QTest::addColumn<bool>("fahrenheitBefore");
        QTest::addColumn<int>("unit");
        QTest::addColumn<bool>("fail");
        QTest::addColumn<bool>("converted");
        QTest::newRow("Celsius to Fahrenheit") << false << 1 << false << true;
        QTest::newRow("Fahrenheit to Celsius") << true << 0 << false << true;
        QTest::newRow("unit unchanged") << false << -1 << false << false;
        QTest::newRow("Celsius picked again") << false << 0 << false << false;
        QTest::newRow("write refused") << false << 1 << true << false;
    }
    void unitChangeConvertsTheRelayCopy() {
        QFETCH(bool, fahrenheitBefore);
        QFETCH(int, unit);
        QFETCH(bool, fail);
        QFETCH(bool, converted);
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setFahrenheit(fahrenheitBefore);
        TParPage page(host);
        page.btnReadParClick();
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 20; ++k)
                host.dev.Relay[r].par[size_t(k)] = 10 * k + r;
        tOndrel expected;
        expected.Relay = host.dev.Relay;
        if (converted)
            ChangeTypeTemp(expected, unit);
        for (tMenu m : {tMenu::Relay1, tMenu::Relay2, tMenu::Relay3, tMenu::Relay4, tMenu::PAR})
            host.SetVisited(m, true);

        auto *list = static_cast<QComboBox *>(page.Form()->Control(idxTST));
        if (unit >= 0)
            list->setCurrentIndex(unit);
        else
            static_cast<QComboBox *>(page.Form()->Control(idxBEEP))->setCurrentIndex(0);
        if (fail)
            host.sim->setFault(sim::Fault::Exception, 4, 1);
        page.btnWritePARClick();
        QCOMPARE(host.errors.isEmpty(), !fail);
        for (int r = 0; r < 4; ++r)
            QCOMPARE(host.dev.Relay[r].par, expected.Relay[r].par);
        for (tMenu m : {tMenu::Relay1, tMenu::Relay2, tMenu::Relay3, tMenu::Relay4})
            QCOMPARE(host.Visited(m), !converted);
        QVERIFY(host.Visited(tMenu::PAR));
        // A refused write leaves the page's values in the copy.
        QCOMPARE(host.dev.System[idxTST], unit >= 0 ? unit : int(fahrenheitBefore));
    }

    // "Gravar" would send all thirteen registers: only once they are the
    // controller's, read or loaded from a file in this connection.
    void writeWaitsForTheControllersValues() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setReg(systemBase + idxSLA, 1);
        TParPage page(host);
        page.FollowState(host.dev);

        auto refused = [&] {
            const int requests = host.sim->requestCount();
            host.Clear();
            page.btnWritePARClick();
            return !page.btnWritePAR->isEnabled() && host.questions.isEmpty() &&
                   host.sim->requestCount() == requests;
        };
        QVERIFY(refused());
        host.sim->setFault(sim::Fault::Silence, 0, 1);
        page.btnReadParClick();
        QCOMPARE(host.errors, QList<int32_t>{errMODBUS_TIMEOUT});
        QVERIFY(refused());
        QCOMPARE(int(host.sim->reg(systemBase + idxSLA)), 1);

        page.btnReadParClick();
        QVERIFY(page.btnWritePAR->isEnabled());
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a.cfg"));
        QVERIFY(host.dev.SaveConfig(file));

        // A new session knows nothing until a file is loaded.
        host.btnCntClick();
        page.FollowState(host.dev);
        QVERIFY(refused());
        host.btnCntClick();
        page.FollowState(host.dev);
        QVERIFY(refused());
        QVERIFY(host.dev.LoadConfig(file));
        page.Refill();
        QVERIFY(page.btnWritePAR->isEnabled());
    }

    void factoryDefaultsEndTheSession_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("confirmed") << true;
        QTest::newRow("declined") << false;
    }
    void factoryDefaultsEndTheSession() {
        QFETCH(bool, answer);
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setReg(systemBase + idxBEEP, 0);
        TParPage page(host);
        page.FollowState(host.dev);
        QVERIFY(page.btnStandard->isEnabled());
        host.shownPage = QStringLiteral("pnlPAR");
        host.answer = answer;
        page.btnStandardClick();
        const QString question =
            "question Esta função vai colocar todos os parâmetros do Ondrel nos valores padrões "
            "de fábrica.\rDeseja continuar?\r";
        if (!answer) {
            QCOMPARE(host.events, QStringList{question});
            QVERIFY(host.dev.Connected());
            return;
        }
        // The session's link summary comes as it ends; its figures vary.
        QStringList events = host.events;
        const qsizetype summary =
            events.indexOf(QRegularExpression(QStringLiteral("report Saúde da comunicação: .*")));
        QVERIFY2(summary >= 0, qPrintable(events.join(u'\n')));
        events.removeAt(summary);
        QCOMPARE(events, (QStringList{
                             question,
                             "report Envio de comando de colocar os parâmetros nos valores padrões",
                             "send 4", "report Desconectado do dispositivo",
                             "report Comando executado com sucesso"}));
        QCOMPARE(host.shownPage, QStringLiteral("pnlConnection"));
        QVERIFY(!host.dev.Connected());
        QCOMPARE(int(host.sim->reg(systemBase + idxBEEP)), 1);
    }
};

QTEST_MAIN(tst_par_page)
#include "tst_par_page.moc"
