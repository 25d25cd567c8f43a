// The relay parameter pages against the simulated controller: what each
// page shows for a block, what "Gravar" leaves in the controller's
// registers, and the rules that keep a write from changing what the
// technician did not touch.
#include "field_form.h"
#include "op_relay_page.h"
#include "page_action.h"
#include "relay_operations.h"
#include "relay_pages.h"
#include "relay_param_page.h"
#include "screen_test_host.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

namespace {
using Block = std::array<int32_t, 20>;

Block blockOf(const QString &text) {
    Block b{};
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    for (int i = 0; i < words.size() && i < 20; ++i)
        b[size_t(i)] = words[i].toInt();
    return b;
}

// "i=v i=v": entries of `base` replaced.
Block changed(Block base, const QString &changes) {
    for (const QString &c : changes.split(u' ', Qt::SkipEmptyParts))
        base[size_t(c.section(u'=', 0, 0).toInt())] = c.section(u'=', 1).toInt();
    return base;
}

QString text(const Block &b) {
    QStringList words;
    for (int32_t v : b)
        words << QString::number(v);
    return words.join(u' ');
}

// Monday to Friday, enabled, from 07:30 with the second time at 08:15.
constexpr int32_t workdays = 190 | 450 << 8 | 495 << 20;
} // namespace

class tst_relay_pages : public QObject {
    Q_OBJECT

    // The relay pages on a test host connected to a simulated "qx4r".
    struct Fixture {
        TestHost host;
        QWidget parent;
        TRelayPages pages{host, &parent};

        bool Connect(bool fahrenheit = false) {
            if (!host.Connect("qx4r"))
                return false;
            if (fahrenheit)
                host.sim->setFahrenheit(true);
            return true;
        }
        static int Base(int relay) { return 0x0400 + 0x100 * relay; }
        // The block as the controller holds it: a word each for par[0..15],
        // two for par[16..19], low word first.
        void Store(int relay, const Block &b) {
            for (int i = 0; i < 16; ++i)
                host.sim->setReg(Base(relay) + i, uint16_t(b[size_t(i)]));
            for (int k = 0; k < 4; ++k) {
                const auto w = uint32_t(b[size_t(16 + k)]);
                host.sim->setReg(Base(relay) + 16 + 2 * k, uint16_t(w));
                host.sim->setReg(Base(relay) + 17 + 2 * k, uint16_t(w >> 16));
            }
        }
        Block Stored(int relay) const {
            Block b{};
            for (int i = 0; i < 8; ++i)
                b[size_t(i)] = int16_t(host.sim->reg(Base(relay) + i));
            for (int i = 8; i < 16; ++i)
                b[size_t(i)] = host.sim->reg(Base(relay) + i);
            for (int k = 0; k < 4; ++k)
                b[size_t(16 + k)] =
                    int32_t(uint32_t(host.sim->reg(Base(relay) + 16 + 2 * k)) |
                            uint32_t(host.sim->reg(Base(relay) + 17 + 2 * k)) << 16);
            return b;
        }
        // Opens relay `relay`'s page and reads its block, as a first visit.
        TRelayParamPage *Open(int relay) {
            host.dev.SendCommand(cmdGET_PAR_opRELAYS);
            pages.RelaySet = relay;
            pages.Choose();
            pages.btnColdReadClick();
            return pages.PageFor(host.dev.Relay[size_t(relay)].par[0]);
        }
        QWidget *Find(const QString &name) const {
            QWidget *w = parent.findChild<QWidget *>(name);
            if (!w)
                qWarning("no control %s", qPrintable(name));
            return w;
        }
        // "name=value ...": what the user puts into each control.
        void Edit(const QString &edits) const {
            for (const QString &e : edits.split(u' ', Qt::SkipEmptyParts)) {
                QWidget *w = Find(e.section(u'=', 0, 0));
                const double v = e.section(u'=', 1).toDouble();
                if (auto *box = qobject_cast<QCheckBox *>(w))
                    box->setChecked(v != 0);
                else if (auto *list = qobject_cast<QComboBox *>(w))
                    list->setCurrentIndex(int(v));
                else if (w)
                    w->setProperty("value", v);
            }
        }
        bool Marked(const QString &name) const {
            QWidget *w = Find(name);
            return w && w->property(outOfRangeProperty).toBool();
        }
    };

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    // "control value minimum maximum" per check, after the first read.
    void fillShowsValuesAndBounds_data() {
        QTest::addColumn<bool>("fahrenheit");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("checks");
        QTest::newRow("cooling, celsius")
            << false << "1 55 20 80 -500 1100 20"
            << "edtColdSP 5.5 2 8; edtColdLO 2 -50 8; edtColdHI 8 2 110; "
               "edtColdTLL -50 -50 110; edtColdTLH 110 -50 110; edtColdDT 2 0.1 20; "
               "spiColdSE 1 1 4";
        QTest::newRow("cooling, fahrenheit")
            << true << "1 410 356 464 -580 2300 360"
            << "edtColdSP 41 35.6 46.4; edtColdTLL -58 -58 230; edtColdTLH 230 -58 230; "
               "edtColdDT 36 32.18 68";
        QTest::newRow("DT at its fahrenheit bound") << true << "2 410 356 464 -580 2300 322"
                                                    << "edtColdDT 32.2 32.18 68";
        QTest::newRow("defrost intervals")
            << false << "3 100 0 300 0 0 0 0 0 0 90 0 2 75"
            << "edtDefrostSP 10 0 30; edtDefrostHourDFTC 1 1 24; edtDefrostMinDFTC 30 0 59; "
               "edtDefrostHourDFTD 1 0 23; edtDefrostMinDFTD 15 0 59; spiDefrostSE 3 1 4";
        QTest::newRow("defrost a whole day")
            << false << "3 100 0 300 0 0 0 0 0 0 1440"
            << "edtDefrostHourDFTC 24 1 24; edtDefrostMinDFTC 0 0 59";
        QTest::newRow("fan") << false << "4 -50 -500 500 0 0 0 100 0 0 5"
                             << "edtFanSPDL -5 -50 50; edtFanSPST 10 -50 50; edtFanDLY 5 0 30";
        QTest::newRow("heat exchanger, celsius")
            << false << "5 450 50 20 100 800 20 100"
            << "edtHeatSP 45 0 90; edtHeatTL 10 0 20; edtHeatTH 80 0 110; edtHeatDTR 10 1 50";
        QTest::newRow("heat exchanger, fahrenheit")
            << true << "5 0 338 356 500 1760 356 500"
            << "edtHeatSP 0 0 194; edtHeatTL 50 32 68; edtHeatTH 176 32 230; "
               "edtHeatDON 33.8 32 68; edtHeatDTR 50 33.8 122";
        QTest::newRow("auxiliary") << false << "6 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2"
                                   << "spiAuxSURL 2 1 4";
    }
    void fillShowsValuesAndBounds() {
        QFETCH(bool, fahrenheit);
        QFETCH(QString, block);
        QFETCH(QString, checks);
        Fixture f;
        QVERIFY(f.Connect(fahrenheit));
        f.Store(1, blockOf(block));
        QVERIFY(f.Open(1));
        for (const QString &check : checks.split(u';')) {
            const QStringList c = check.split(u' ', Qt::SkipEmptyParts);
            QWidget *w = f.Find(c[0]);
            QVERIFY(w);
            QCOMPARE(w->property("value").toDouble(), c[1].toDouble());
            QCOMPARE(w->property("minimum").toDouble(), c[2].toDouble());
            QCOMPARE(w->property("maximum").toDouble(), c[3].toDouble());
            QVERIFY2(!f.Marked(c[0]), qPrintable(c[0]));
        }
    }

    // What the user edits on relay `relay`'s page and what "Gravar" leaves
    // in the controller: the block read, with exactly `changes` applied.
    void writeLeavesTheEditedBlock_data() {
        QTest::addColumn<int>("relay");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("changes");
        const QString cooling = "1 50 -100 150 -500 1100 20 77 2 0 3 0 0 88 1 0 11 12 13 14";
        QTest::newRow("cooling, values rounded")
            << 2 << cooling
            << "edtColdSP=5.5 edtColdDT=0.1 edtColdTLL=-12.3 spiColdSE=3 edtColdDLY=2.5"
            << "1=55 6=1 4=-123 12=2 10=2";
        QTest::newRow("cooling, limits and times")
            << 0 << cooling
            << "edtColdHI=8 popColdTLRS=1 popColdPERS=1 cbxColdIRL=1 edtColdTIRO=3.5"
            << "3=80 8=1 9=1 11=1 15=4";
        QTest::newRow("heating like cooling") << 1 << "2 50 -100 150 -500 1100 20 0 2 0 3 0 1"
                                              << "edtColdSP=5.55 edtColdTLH=99.95 spiColdSE=1"
                                              << "1=56 5=1000 12=0";
        QTest::newRow("conditional timer, set-point 2 and TTYPE")
            << 3 << "8 50 -100 150 -500 1100 20 0 2 0 3 0 0 0 0 0 0 0 0 0"
            << "cbxTifSet2EN=1 edtTifSet2HourInit=7 edtTifSet2MinInit=30 edtTifSet2HourEnd=8 "
               "edtTifSet2MinEnd=15 cbxTifSet2Mon=1 cbxTifSet2Tu=1 cbxTifSet2We=1 "
               "cbxTifSet2Thu=1 cbxTifSet2Fri=1 popTTYPE=1"
            << QStringLiteral("17=%1 14=1").arg(workdays);
        QTest::newRow("conditional timer untouched")
            << 3
            << QStringLiteral("8 50 -100 150 -500 1100 20 7 2 1 3 1 0 9 1 60 %1 -1 %2 4095")
                   .arg(workdays)
                   .arg(workdays & ~0x80)
            << ""
            << "";
        QTest::newRow("defrost, 24 hours and 30 minutes is a day")
            << 1 << "3 100 0 300 41 42 43 44 0 0 360 0 1 30 0 5 21 22 23 24"
            << "edtDefrostHourDFTC=24 edtDefrostMinDFTC=30 edtDefrostMinDFTD=45 "
               "edtDefrostDRTI=7 cbxDefrostDINI=1 popDefrostDTYP=1 edtDefrostTIRG=240"
            << "10=1440 13=45 15=7 8=1 9=1 14=240";
        QTest::newRow("fan")
            << 2 << "4 -50 -500 500 31 32 33 100 0 0 5 0 1 1 34 35 36 37 38 39"
            << "edtFanSPST=12.5 edtFanSPDL=-3 cbxFanACTR=0 edtFanDLY=30 cbxFanDFON=1 "
               "cbxFanGFON=1 cbxFanIRL=1"
            << "7=125 1=-30 13=0 10=30 8=1 9=1 11=1";
        QTest::newRow("heat exchanger")
            << 3 << "5 0 0 0 0 0 0 0 51 52 53 0 0 1 54 55 56 57 58 59"
            << "spiHeatSE2=4 edtHeatSP=45 edtHeatDON=7.5 edtHeatDOFF=2 edtHeatTL=20 "
               "edtHeatTH=110 edtHeatDT=0.2 edtHeatDTR=50 cbxHeatIRL=1"
            << "13=3 1=450 2=75 3=20 4=200 5=1100 6=2 7=500 11=1";
        QTest::newRow("auxiliary")
            << 0 << "6 61 62 63 64 65 66 67 68 69 70 0 72 73 74 1 75 76 77 78"
            << "spiAuxSURL=3 cbxAuxIRL=1"
            << "15=3 11=1";
        QTest::newRow("timer, set-point 3 and IRL")
            << 1 << "7 1 2 3 4 5 6 7 8 9 10 0 12 13 14 15 0 0 0 0"
            << "cbxTiSet3EN=1 edtTiSet3HourInit=23 edtTiSet3MinInit=59 edtTiSet3HourEnd=0 "
               "edtTiSet3MinEnd=0.5 cbxTiSet3Sum=1 cbxTiSet3Sat=1 cbxTiIRL=1"
            << QStringLiteral("18=%1 11=1").arg(0x41 | 0x80 | 1439 << 8);
        QTest::newRow("timer, a row switched off keeps its times")
            << 2 << QStringLiteral("7 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 %1").arg(workdays)
            << "cbxTiSet1EN=0" << QStringLiteral("16=%1").arg(workdays & ~0x80);
    }
    void writeLeavesTheEditedBlock() {
        QFETCH(int, relay);
        QFETCH(QString, block);
        QFETCH(QString, edits);
        QFETCH(QString, changes);
        Fixture f;
        QVERIFY(f.Connect());
        const Block read = blockOf(block);
        f.Store(relay, read);
        QVERIFY(f.Open(relay));
        f.Edit(edits);
        f.host.Clear();
        f.pages.btnColdWriteClick();
        QCOMPARE(f.host.errors, QList<int32_t>{});
        static constexpr tCommand writes[] = {cmdSET_PAR_RELAY1, cmdSET_PAR_RELAY2,
                                              cmdSET_PAR_RELAY3, cmdSET_PAR_RELAY4};
        QCOMPARE(
            f.host.events,
            (QStringList{"question Deseja mesmo gravar os novos valores dos parâmetros no Ondrel?",
                         "report Gravando parâmetros dos reles",
                         "popup Gravando parâmetros dos reles no Ondrel...",
                         QStringLiteral("send %1").arg(int(writes[relay])), "popup released",
                         "report Gravação dos parâmetros feita com sucesso"}));
        QCOMPARE(text(f.Stored(relay)), text(changed(read, changes)));
    }

    // A value the page cannot show is marked and goes back as the
    // controller holds it, while another control's edit is written.
    void unshowableValueGoesBackAsRead_data() {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("changes");
        QTest::newRow("DFTC under an hour") << "3 100 0 300 0 0 0 0 0 0 30 0 1 30 0 5"
                                            << "edtDefrostHourDFTC"
                                            << "edtDefrostDRTI=6"
                                            << "15=6";
        QTest::newRow("DFTC past a day") << "3 100 0 300 0 0 0 0 0 0 1470 0 1 30 0 5"
                                         << "edtDefrostHourDFTC"
                                         << "edtDefrostDRTI=6"
                                         << "15=6";
        QTest::newRow("sensor beyond the relays") << "1 50 -100 150 -500 1100 20 0 2 0 3 0 5"
                                                  << "spiColdSE"
                                                  << "edtColdDLY=4"
                                                  << "10=4";
        QTest::newRow("LO above HI") << "1 50 200 100 -500 1100 20 0 2 0 3 0 0"
                                     << "edtColdLO"
                                     << "edtColdDLY=4"
                                     << "10=4";
        QTest::newRow("choice past the list") << "1 50 -100 150 -500 1100 20 0 5 0 3 0 0"
                                              << "popColdTLRS"
                                              << "edtColdDLY=4"
                                              << "10=4";
        QTest::newRow("DT under its bound") << "1 50 -100 150 -500 1100 0 0 2 0 3 0 0"
                                            << "edtColdDT"
                                            << "edtColdDLY=4"
                                            << "10=4";
        QTest::newRow("set-point time past midnight")
            << QStringLiteral("7 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 %1").arg(0x81 | 1500 << 8)
            << "cbxTiSet1EN"
            << "cbxTiIRL=1"
            << "11=1";
        QTest::newRow("switch holding 2") << "6 0 0 0 0 0 0 0 0 0 0 2 0 0 0 1"
                                          << "cbxAuxIRL"
                                          << "spiAuxSURL=2"
                                          << "15=2";
    }
    void unshowableValueGoesBackAsRead() {
        QFETCH(QString, block);
        QFETCH(QString, control);
        QFETCH(QString, edits);
        QFETCH(QString, changes);
        Fixture f;
        QVERIFY(f.Connect());
        const Block read = blockOf(block);
        f.Store(0, read);
        QVERIFY(f.Open(0));
        QVERIFY(f.Marked(control));
        QVERIFY(!f.Find(control)->toolTip().isEmpty());
        f.Edit(edits);
        f.pages.btnColdWriteClick();
        QCOMPARE(text(f.Stored(0)), text(changed(read, changes)));
    }

    // The DFTC rule on each change of either box; the fill applies it too
    // (a day and a half hour shows 24:0, marked above).
    void dftcNeverPassesADay_data() {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<double>("minutes");
        QTest::newRow("hours to 24") << "edtDefrostMinDFTC=30 edtDefrostHourDFTC=24" << 0.0;
        QTest::newRow("minutes while 24") << "edtDefrostHourDFTC=24 edtDefrostMinDFTC=30" << 0.0;
        QTest::newRow("23 keeps its minutes")
            << "edtDefrostHourDFTC=23 edtDefrostMinDFTC=59" << 59.0;
    }
    void dftcNeverPassesADay() {
        QFETCH(QString, edits);
        QFETCH(double, minutes);
        Fixture f;
        f.Edit(edits);
        QCOMPARE(f.Find("edtDefrostMinDFTC")->property("value").toDouble(), minutes);
    }

    // Each enable box governs the eleven controls of its own row, on both
    // timer pages.
    void enableBoxGovernsItsRow() {
        Fixture f;
        const QStringList rowControls = {"HourInit", "MinInit", "HourEnd", "MinEnd", "Sum", "Mon",
                                         "Tu",       "We",      "Thu",     "Fri",    "Sat"};
        auto control = [&](const QString &kind, int row, const QString &part) {
            const QString prefix = part.contains(u"Init") || part.contains(u"End") ? "edt" : "cbx";
            return f.Find(QStringLiteral("%1%2Set%3%4").arg(prefix, kind).arg(row).arg(part));
        };
        auto enabledRows = [&](const QString &kind) {
            QList<int> rows;
            for (int row = 1; row <= 4; ++row) {
                int on = 0;
                for (const QString &part : rowControls)
                    on += control(kind, row, part)->isEnabled();
                if (on != 0 && on != rowControls.size())
                    return QList<int>{-row};
                if (on)
                    rows << row;
            }
            return rows;
        };
        for (const QString kind : {"Ti", "Tif"}) {
            QCOMPARE(enabledRows(kind), QList<int>{});
            auto *hours = control(kind, 3, "HourInit");
            hours->setProperty("value", 7.0);
            f.Edit(QStringLiteral("cbx%1Set3EN=1").arg(kind));
            QCOMPARE(enabledRows(kind), QList<int>{3});
            f.Edit(QStringLiteral("cbx%1Set3EN=0").arg(kind));
            QCOMPARE(enabledRows(kind), QList<int>{});
            QCOMPARE(hours->property("value").toDouble(), 7.0);
        }
        // A fill that enables a row enables its controls.
        QVERIFY(f.Connect());
        f.Store(0, blockOf(QStringLiteral("7 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 %1").arg(workdays)));
        f.Open(0);
        QCOMPARE(enabledRows("Ti"), QList<int>{2});
    }

    // The unit comes from a status read when the system parameters were
    // never read: a Fahrenheit controller's 230 °F is neither clamped to 110
    // nor written back as 110.
    void unitOfAFahrenheitControllerNeverAskedForIt() {
        Fixture f;
        QVERIFY(f.Connect(true));
        QCOMPARE(f.host.dev.System[6], 0);
        const Block read = blockOf("1 410 356 464 -580 2300 360");
        f.Store(0, read);
        f.host.Clear();
        f.Open(0);
        QCOMPARE(f.host.events.filter(u"send"),
                 (QStringList{QStringLiteral("send %1").arg(int(cmdGET_STATUS)),
                              QStringLiteral("send %1").arg(int(cmdGET_PAR_RELAY1))}));
        QCOMPARE(f.Find("edtColdTLH")->property("value").toDouble(), 230.0);
        QVERIFY(!f.Marked("edtColdTLH"));
        f.Edit("edtColdSP=42");
        f.pages.btnColdWriteClick();
        QCOMPARE(text(f.Stored(0)), text(changed(read, "1=420")));
        // Once known, the unit is not asked for again.
        f.host.Clear();
        f.Open(1);
        QCOMPARE(f.host.events.filter(u"send"),
                 QStringList{QStringLiteral("send %1").arg(int(cmdGET_PAR_RELAY2))});
    }

    // "Gravar" needs the relay's block from the controller (or a file):
    // after a failed read the page shows zeros, which must never be sent.
    void writeWaitsForTheBlock() {
        Fixture f;
        QVERIFY(f.Connect());
        f.host.dev.SendCommand(cmdGET_STATUS);
        const Block read = f.Stored(1);
        f.pages.RelaySet = 1;
        TRelayParamPage *page = f.pages.Choose();
        QVERIFY(!page->WriteButton()->isEnabled());
        f.host.sim->setFault(sim::Fault::Exception, 4, 1);
        f.pages.btnColdReadClick();
        QCOMPARE(f.host.errors.size(), 1);
        QVERIFY(!page->WriteButton()->isEnabled());
        QVERIFY(!page->WriteButton()->toolTip().isEmpty());
        f.host.Clear();
        f.pages.btnColdWriteClick();
        QCOMPARE(f.host.events, QStringList{"report " + NotKnownText(knownRelay(1))});
        QCOMPARE(text(f.Stored(1)), text(read));

        page->ReadButton()->click();
        QVERIFY(page->WriteButton()->isEnabled());
        f.host.dev.CloseConnection();
        page->FollowState(f.host.dev);
        QVERIFY(!page->WriteButton()->isEnabled());
        QVERIFY(!page->ReadButton()->isEnabled());
    }

    // A new operation for relay 2 leaves the block read under the old one
    // unfit to write: "Gravar" waits for a read and sends nothing meanwhile,
    // or the new code would go out with the old operation's parameters.
    void newOperationWaitsForARead() {
        Fixture f;
        QVERIFY(f.Connect());
        TOpRelayPage ops(f.host, &f.parent);
        ops.btnOpReadClick();
        f.Open(0);
        f.Open(1);
        const int32_t old = f.host.dev.Relay[1].par[0];
        int other = -1;
        const QList<int32_t> codes = OpMatCodes(ops.idxOpMat());
        for (int i = 0; i < codes.size() && other < 0; ++i) {
            const TRelayParamPage *p = f.pages.PageFor(codes[i]);
            if (codes[i] != old && !IsSingleUseOperation(codes[i]) && p && p->ReadButton())
                other = i;
        }
        QVERIFY(other >= 0);
        f.parent.findChild<QComboBox *>("cbxOpRelay2")->setCurrentIndex(other);
        ops.btnOpWriteClick();
        QVERIFY(f.host.errors.isEmpty());
        QCOMPARE(f.host.dev.Relay[1].par[0], codes[other]);
        // Relay 1 kept its operation, and its block.
        QVERIFY(f.host.dev.IsKnown(knownRelay(0)));

        auto *page = qobject_cast<TRelayParamPage *>(f.pages.PageToShow(1));
        QVERIFY(page);
        QVERIFY(!page->WriteButton()->isEnabled());
        const Block stored = f.Stored(1);
        f.host.Clear();
        f.pages.btnColdWriteClick();
        QVERIFY(f.host.events.filter("send").isEmpty());
        QCOMPARE(f.host.reports, QStringList{NotKnownText(knownRelay(1))});
        QCOMPARE(text(f.Stored(1)), text(stored));

        page->ReadButton()->click();
        QVERIFY(page->WriteButton()->isEnabled());
    }

    // Every button of the relay pages does something: "Ler" or "Gravar".
    void everyButtonActs() {
        Fixture f;
        const auto buttons = f.parent.findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 12);
        for (const QPushButton *b : buttons)
            QVERIFY2(b->text() == "Ler" || b->text() == "Gravar", qPrintable(b->text()));
    }

    void declinedWriteChangesNothing() {
        Fixture f;
        QVERIFY(f.Connect());
        const Block read = f.Stored(0);
        f.Open(0);
        f.Edit("edtColdSP=7");
        f.host.answer = false;
        f.host.Clear();
        f.pages.btnColdWriteClick();
        QCOMPARE(
            f.host.events,
            QStringList{"question Deseja mesmo gravar os novos valores dos parâmetros no Ondrel?"});
        QCOMPARE(text(f.host.dev.Relay[0].par), text(read));
        QCOMPARE(text(f.Stored(0)), text(read));
    }

    // "Ler" that brings another operation shows that operation's page
    // before filling it; the conditional timer alone has "Timer".
    void readFollowsTheOperation() {
        Fixture f;
        QVERIFY(f.Connect());
        TRelayParamPage *cold = f.Open(0);
        QCOMPARE(cold->objectName(), "pnlCold");
        QSignalSpy moved(&f.pages, &TRelayPages::pageChanged);
        f.Store(0, blockOf("3 75 0 300 0 0 0 0 0 0 90"));
        cold->ReadButton()->click();
        TRelayParamPage *defrost = f.pages.PageFor(opDEFROST);
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved[0][0].value<QWidget *>(), cold);
        QCOMPARE(moved[0][1].value<QWidget *>(), defrost);
        QCOMPARE(defrost->Caption()->text(), "Rele1 - Degelo");
        QCOMPARE(f.Find("edtDefrostSP")->property("value").toDouble(), 7.5);

        f.Store(0, blockOf("8"));
        defrost->ReadButton()->click();
        QCOMPARE(moved.size(), 2);
        QVERIFY(cold->Tabs()->isTabVisible(3));
        cold->Tabs()->setCurrentIndex(3);
        f.Store(0, blockOf("2"));
        cold->ReadButton()->click();
        QCOMPARE(moved.size(), 2);
        QCOMPARE(cold->Caption()->text(), "Rele1 - Aquecimento");
        QVERIFY(!cold->Tabs()->isTabVisible(3));
        QCOMPARE(cold->Tabs()->currentIndex(), 0);
    }
};

QTEST_MAIN(tst_relay_pages)
#include "tst_relay_pages.moc"
