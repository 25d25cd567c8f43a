// The clock page against a simulated controller: the computer's clock, the
// controller's clock shown and set, the calibration and its clock output,
// and models without a clock.
#include "clock_difference.h"
#include "field_form.h"
#include "number_box.h"
#include "rtc_page.h"
#include "screen_test_host.h"
#include "system_params.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimeEdit>

namespace {
constexpr int clockBase = 0xA010;
constexpr int calBase = 0xA017;
constexpr int systemBase = 0x0020;

// A host whose controller refuses one command, once.
class RefusingHost : public TestHost {
  public:
    tCommand refused = cmdNONE;
    tTask<int32_t> SendCommand(tCommand cmd, tPriority priority) override {
        if (cmd == refused)
            sim->setFault(sim::Fault::Exception, 4, 1);
        return TestHost::SendCommand(cmd, priority);
    }
};

// Sets the controller's clock fields as a master writing them would.
void SetClock(sim::Controller &sim, const QList<int> &fields) {
    for (int i = 0; i < fields.size(); ++i)
        sim.setReg(clockBase + i, uint16_t(fields[i]));
}

// An invalid day stops the controller's clock, so what a test sets stays.
void StopClockAt(sim::Controller &sim, int hour, int minute, int second) {
    SetClock(sim, {2016, 2, 30, 2, hour, minute, second});
}

QList<int> ClockRegisters(const sim::Controller &sim) {
    QList<int> fields;
    for (int i = 0; i < 7; ++i)
        fields << sim.reg(clockBase + i);
    return fields;
}

QComboBox *List(TFieldForm *form, int index) {
    return static_cast<QComboBox *>(form->Control(index));
}
} // namespace

class tst_rtc_page : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    void atualizarTakesOneReading_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("weekday");
        QTest::addColumn<QString>("dateText");
        QTest::addColumn<QString>("timeText");
        QTest::newRow("Sunday") << QDateTime(QDate(2024, 6, 2), QTime(13, 45, 7)) << "Domingo"
                                << "02/06/2024"
                                << "13:45:07";
        QTest::newRow("Saturday") << QDateTime(QDate(2024, 6, 1), QTime(8, 0, 0)) << "Sábado"
                                  << "01/06/2024"
                                  << "08:00:00";
        QTest::newRow("last instant of a day")
            << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59, 999)) << "Terça-feira"
            << "31/12/2024"
            << "23:59:59";
    }
    void atualizarTakesOneReading() {
        QFETCH(QDateTime, now);
        QFETCH(QString, weekday);
        QFETCH(QString, dateText);
        QFETCH(QString, timeText);
        TestHost host;
        TRtcPage page(host);
        int readings = 0;
        page.ComputerClock = [&] {
            ++readings;
            return now;
        };
        QCOMPARE(page.cbxWeekday->currentIndex(), -1);
        page.btnReadRTCOSClick();
        QCOMPARE(readings, 1);
        QCOMPARE(page.cbxWeekday->currentText(), weekday);
        QCOMPARE(page.edtDate->date(), now.date());
        QCOMPARE(page.edtDate->text(), dateText);
        QCOMPARE(page.edtTime->text(), timeText);
        QVERIFY(host.events.isEmpty());
    }

    // The controller's clock fields, what the editors show afterwards (an
    // invalid date or time: what they showed before) and the warnings.
    void controllerClockShown_data() {
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("weekday");
        QTest::addColumn<QStringList>("warnings");
        const QDate before(2001, 1, 1);
        const QTime earlier(8, 0, 0);
        QTest::newRow("valid") << QList<int>{2024, 5, 10, 5, 12, 30, 0} << QDate(2024, 5, 10)
                               << QTime(12, 30, 0) << 5 << QStringList{};
        QTest::newRow("2016-02-30") << QList<int>{2016, 2, 30, 2, 10, 11, 12} << before
                                    << QTime(10, 11, 12) << 2 << QStringList{"Data inválida"};
        QTest::newRow("24:00:00") << QList<int>{2024, 5, 10, 5, 24, 0, 0} << QDate(2024, 5, 10)
                                  << earlier << 5 << QStringList{"Hora inválida"};
        QTest::newRow("both invalid") << QList<int>{2024, 13, 1, 0, 0, 60, 0} << before << earlier
                                      << 0 << QStringList{"Data inválida", "Hora inválida"};
        QTest::newRow("year 0") << QList<int>{0, 1, 1, 1, 12, 0, 0} << before << QTime(12, 0, 0)
                                << 1 << QStringList{"Data inválida"};
        QTest::newRow("year 10000") << QList<int>{10000, 1, 1, 1, 12, 0, 0} << before
                                    << QTime(12, 0, 0) << 1 << QStringList{"Data inválida"};
        QTest::newRow("first day, not clamped")
            << QList<int>{1, 1, 1, 1, 12, 0, 0} << QDate(1, 1, 1) << QTime(12, 0, 0) << 1
            << QStringList{};
        QTest::newRow("last day") << QList<int>{9999, 12, 31, 5, 12, 0, 0} << QDate(9999, 12, 31)
                                  << QTime(12, 0, 0) << 5 << QStringList{};
        QTest::newRow("weekday 7: none selected")
            << QList<int>{2024, 5, 10, 7, 12, 0, 0} << QDate(2024, 5, 10) << QTime(12, 0, 0) << -1
            << QStringList{};
    }
    void controllerClockShown() {
        QFETCH(QList<int>, fields);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(int, weekday);
        QFETCH(QStringList, warnings);
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        SetClock(*host.sim, fields);
        host.sim->setReg(systemBase + idxCS24, 0);
        host.sim->setReg(systemBase + idxDTI, 1);
        TRtcPage page(host);
        page.edtDate->setDate(QDate(2001, 1, 1));
        page.edtTime->setTime(QTime(8, 0, 0));
        page.VisitRead();

        QCOMPARE(host.warnings, warnings);
        for (const QString &w : warnings)
            QVERIFY(host.reports.contains(w));
        QCOMPARE(host.reports.last(), QStringLiteral("Data e hora lidos com sucesso"));
        QCOMPARE(page.edtDate->date(), date);
        // A valid clock runs on while it is read.
        QVERIFY2(qAbs(page.edtTime->time().secsTo(time)) <= 2,
                 qPrintable(page.edtTime->time().toString()));
        QCOMPARE(page.cbxWeekday->currentIndex(), weekday);
        QCOMPARE(List(page.FormatForm(), idxCS24)->currentText(), QStringLiteral("12 Horas"));
        QCOMPARE(List(page.FormatForm(), idxDTI)->currentText(), QStringLiteral("Mês/Dia"));
        QCOMPARE(page.lblClockDiff->text().startsWith("Diferença para o computador: "), true);
    }

    void clockWriteSendsDateTimeAndFormat() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        StopClockAt(*host.sim, 1, 2, 3);
        host.sim->setReg(systemBase + idxCS24, 1);
        host.sim->setReg(systemBase + idxDTI, 0);
        TRtcPage page(host);
        page.FollowState(host.dev);
        page.btnRTCLerClick();
        QVERIFY(page.btnRTCAplicar->isEnabled());

        // A Tuesday given as Friday: the weekday written is the one chosen.
        page.edtDate->setDate(QDate(2030, 1, 15));
        page.edtTime->setTime(QTime(10, 20, 30, 900));
        page.cbxWeekday->setCurrentIndex(5);
        List(page.FormatForm(), idxCS24)->setCurrentIndex(0);
        List(page.FormatForm(), idxDTI)->setCurrentIndex(1);
        host.Clear();
        page.btnRTCAplicarClick();
        QCOMPARE(host.events,
                 (QStringList{"report Envio de comando para ajustar data e hora", "send 10",
                              "send 12", "send 14", "report Data e hora ajustas com sucesso"}));
        const QList<int> clock = ClockRegisters(*host.sim);
        QCOMPARE(clock.mid(0, 6), (QList<int>{2030, 1, 15, 5, 10, 20}));
        // The clock runs on from the second written.
        QVERIFY(clock[6] >= 30);
        QCOMPARE(int(host.sim->reg(systemBase + idxCS24)), 0);
        QCOMPARE(int(host.sim->reg(systemBase + idxDTI)), 1);
    }

    // The write stops at the first refusal; what was sent before stays.
    void clockWriteStopsAtTheFirstFailure() {
        RefusingHost host;
        QVERIFY(host.Connect("qx4r"));
        StopClockAt(*host.sim, 11, 11, 11);
        host.sim->setReg(systemBase + idxCS24, 1);
        TRtcPage page(host);
        page.btnRTCLerClick();
        page.edtDate->setDate(QDate(2030, 1, 15));
        page.edtTime->setTime(QTime(22, 22, 22));
        page.cbxWeekday->setCurrentIndex(2);
        List(page.FormatForm(), idxCS24)->setCurrentIndex(0);
        host.refused = cmdSET_RTC_TIME;
        host.Clear();
        page.btnRTCAplicarClick();
        QCOMPARE(host.errors, QList<int32_t>{errMODBUS_SLAVE_DEVICE_FAILURE});
        QVERIFY(!host.events.contains("send 14"));
        const QList<int> clock = ClockRegisters(*host.sim);
        QCOMPARE(clock.mid(0, 6), (QList<int>{2030, 1, 15, 2, 11, 11}));
        QCOMPARE(int(host.sim->reg(systemBase + idxCS24)), 1);
        // The page's values went into the copy, whatever the outcome.
        QCOMPARE(host.dev.RTC.Hour, uint16_t(22));
        QCOMPARE(host.dev.System[idxCS24], 0);
    }

    void clockWriteNeedsAWeekdayAndARead() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        SetClock(*host.sim, {2024, 5, 10, 9, 12, 0, 0});
        TRtcPage page(host);
        page.FollowState(host.dev);
        auto nothingSent = [&] {
            const int requests = host.sim->requestCount();
            host.Clear();
            page.btnRTCAplicarClick();
            return host.sim->requestCount() == requests;
        };
        // Never read: the format lists are not the controller's.
        page.btnReadRTCOSClick();
        QVERIFY(!page.btnRTCAplicar->isEnabled());
        QVERIFY(nothingSent());
        host.sim->setFault(sim::Fault::Silence, 0, 1);
        page.btnRTCLerClick();
        QVERIFY(!page.btnRTCAplicar->isEnabled());
        QVERIFY(nothingSent());

        page.btnRTCLerClick();
        QVERIFY(page.btnRTCAplicar->isEnabled());
        QCOMPARE(page.cbxWeekday->currentIndex(), -1);
        QVERIFY(nothingSent());
        QCOMPARE(host.warnings, QStringList{"Dia da semana inválido"});
    }

    // A format entry the list cannot show (the clock's register read
    // unsigned) goes back as it was unless the user picks another.
    void clockFormatOutsideTheListIsKept() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setReg(systemBase + idxCS24, 0xFFFF);
        host.sim->setReg(systemBase + idxDTI, 2);
        TRtcPage page(host);
        page.btnRTCLerClick();
        QVERIFY(page.FormatForm()->OutOfRange(idxCS24));
        QVERIFY(page.FormatForm()->OutOfRange(idxDTI));
        List(page.FormatForm(), idxDTI)->setCurrentIndex(0);
        page.btnReadRTCOSClick();
        page.btnRTCAplicarClick();
        QVERIFY(host.errors.isEmpty());
        QCOMPARE(int(host.sim->reg(systemBase + idxCS24)), 0xFFFF);
        QCOMPARE(int(host.sim->reg(systemBase + idxDTI)), 0);
    }

    void calibrationUnlockedReadAndWritten() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setReg(calBase, 0xFFFF);
        host.sim->setReg(calBase + 1, 0x0003);
        host.sim->setReg(calBase + 2, 1);
        TRtcPage page(host);
        page.FollowState(host.dev);
        QWidget *calVal = page.CalibrationForm()->Control(idxCAL_VAL);
        QWidget *calDir = page.CalibrationForm()->Control(idxCAL_DIR);
        const QList<QWidget *> group = {calVal, calDir, page.btnRTCRead, page.btnRTCApply,
                                        page.btnRTC};
        auto enabled = [&] {
            QList<bool> on;
            for (QWidget *w : group)
                on << w->isEnabled();
            return on;
        };
        QCOMPARE(enabled(), QList<bool>(5, false));

        // The first visit reads the date group only.
        page.VisitRead();
        QCOMPARE(host.events.filter("send "), (QStringList{"send 9", "send 11", "send 13"}));
        QCOMPARE(enabled(), QList<bool>(5, false));

        page.cbxRtcEn->setChecked(true);
        QCOMPARE(enabled(), (QList<bool>{true, true, true, false, true}));
        page.btnRTCApplyClick();
        QCOMPARE(int(host.sim->reg(calBase)), 0xFFFF);

        host.Clear();
        page.btnRTCReadClick();
        QCOMPARE(host.events,
                 (QStringList{"report Lendo parâmetros de calibração do RTC",
                              "popup Lendo parâmetros de calibração do RTC no Ondrel...", "send 15",
                              "popup released", "report Valores de calibração lidos com sucesso"}));
        QCOMPARE(enabled(), QList<bool>(5, true));
        // 262143 does not fit the box: shown at its bound, marked, kept.
        QCOMPARE(static_cast<TNumberBox *>(calVal)->value(), 131071.0);
        QCOMPARE(static_cast<TNumberBox *>(calVal)->text(), QStringLiteral("131071"));
        QVERIFY(page.CalibrationForm()->OutOfRange(idxCAL_VAL));
        QCOMPARE(static_cast<TNumberBox *>(calDir)->value(), 1.0);
        static_cast<TNumberBox *>(calDir)->setValue(0);
        host.Clear();
        page.btnRTCApplyClick();
        QCOMPARE(
            host.events,
            (QStringList{"report Envio de comando para gravar os valores de calibração do RTC",
                         "send 16", "report Valores de calibração do RTC gravados com sucesso"}));
        QCOMPARE((QList<int>{host.sim->reg(calBase), host.sim->reg(calBase + 1),
                             host.sim->reg(calBase + 2)}),
                 (QList<int>{0xFFFF, 3, 0}));
        static_cast<TNumberBox *>(calVal)->setValue(65537);
        page.btnRTCApplyClick();
        QCOMPARE((QList<int>{host.sim->reg(calBase), host.sim->reg(calBase + 1)}),
                 (QList<int>{1, 1}));

        page.cbxRtcEn->setChecked(false);
        QCOMPARE(enabled(), QList<bool>(5, false));
    }

    // fault: what the controller does with the command (None: obeys it).
    void clockOutput_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QList<int32_t>>("errors");
        QTest::addColumn<bool>("connected");
        QTest::newRow("confirmed") << true << int(sim::Fault::None) << QList<int32_t>{} << false;
        QTest::newRow("declined") << false << int(sim::Fault::None) << QList<int32_t>{} << true;
        QTest::newRow("refused") << true << int(sim::Fault::Exception)
                                 << QList<int32_t>{errMODBUS_SLAVE_DEVICE_FAILURE} << true;
        QTest::newRow("no answer")
            << true << int(sim::Fault::Silence) << QList<int32_t>{errMODBUS_TIMEOUT} << false;
    }
    void clockOutput() {
        QFETCH(bool, answer);
        QFETCH(int, fault);
        QFETCH(QList<int32_t>, errors);
        QFETCH(bool, connected);
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        TRtcPage page(host);
        page.cbxRtcEn->setChecked(true);
        host.shownPage = QStringLiteral("pnlRTC");
        host.answer = answer;
        if (fault != int(sim::Fault::None))
            host.sim->setFault(sim::Fault(fault), 4, 1);
        const int requests = host.sim->requestCount();
        page.btnRTCClick();
        QCOMPARE(host.questions,
                 QStringList{"Esta função vai colocar o Ondrel em gerar um clock de saída para "
                             "calibração do RTC.\rSomente religando o Ondrel para sair dessa "
                             "condição.\rDeseja continuar?\r"});
        QCOMPARE(host.sim->requestCount(), requests + (answer ? 1 : 0));
        QCOMPARE(host.errors, errors);
        QCOMPARE(host.dev.Connected(), connected);
        QCOMPARE(host.shownPage, QStringLiteral("pnlRTC"));
        const bool restartNoted =
            !host.reports.filter(QStringLiteral("depois de religado")).isEmpty();
        QCOMPARE(restartNoted, fault == int(sim::Fault::Silence));
    }

    void noClockCommandToAModelWithoutAClock() {
        TestHost host;
        QVERIFY(host.Connect("qx1n"));
        TRtcPage page(host);
        page.cbxRtcEn->setChecked(true);
        page.FollowState(host.dev);
        for (QPushButton *b :
             {page.btnRTCLer, page.btnRTCAplicar, page.btnRTCRead, page.btnRTCApply, page.btnRTC})
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
        QVERIFY(page.btnReadRTCOS->isEnabled());

        const int requests = host.sim->requestCount();
        page.btnReadRTCOSClick();
        page.VisitRead();
        page.btnRTCLerClick();
        page.btnRTCAplicarClick();
        page.btnRTCReadClick();
        page.btnRTCApplyClick();
        page.btnRTCClick();
        // A configuration file loaded refills the pages: none for the clock.
        page.Refill();
        QCOMPARE(host.sim->requestCount(), requests);
        QVERIFY(host.questions.isEmpty());
        QVERIFY(host.warnings.isEmpty());
        QVERIFY(host.dev.Connected());
    }

    void differenceText_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("same") << qint64(0) << "0 s";
        QTest::newRow("ahead") << qint64(12) << "+12 s";
        QTest::newRow("behind") << qint64(-12) << "-12 s";
        QTest::newRow("a minute") << qint64(60) << "+1 min 0 s";
        QTest::newRow("under an hour") << qint64(-3599) << "-59 min 59 s";
        QTest::newRow("an hour") << qint64(3600) << "+1 h 0 min";
        QTest::newRow("hours to the minute") << qint64(5 * 3600 - 1) << "+5 h 0 min";
        QTest::newRow("nearly a day") << qint64(86399) << "+1 dia 0 h";
        QTest::newRow("days") << qint64(-(3 * 86400 + 4 * 3600 + 10)) << "-3 dias 4 h";
    }
    void differenceText() {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(ClockDifferenceText(seconds), "Diferença para o computador: " + text);
    }

    void differenceAfterEveryRead() {
        TestHost host;
        QVERIFY(host.Connect("qx4r"));
        host.sim->setClockOffsetSeconds(5 * 3600);
        TRtcPage page(host);
        page.btnRTCLerClick();
        QCOMPARE(page.lblClockDiff->text(), "Diferença para o computador: +5 h 0 min");

        // Compared as wall clocks, whatever the computer's time zone.
        SetClock(*host.sim, {2024, 3, 1, 5, 0, 0, 10});
        page.ComputerClock = [] {
            return QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 700), Qt::OffsetFromUTC, 3600);
        };
        page.btnRTCLerClick();
        // Twelve seconds, and the one or two the controller's clock may run
        // on before it is read.
        const QString text = page.lblClockDiff->text();
        QVERIFY2(
            QRegularExpression("^Diferença para o computador: \\+1[234] s$").match(text).hasMatch(),
            qPrintable(text));

        StopClockAt(*host.sim, 1, 0, 0);
        host.warnings.clear();
        page.btnRTCLerClick();
        QCOMPARE(page.lblClockDiff->text(),
                 "Diferença para o computador: data ou hora do Ondrel inválida");

        host.btnCntClick();
        page.FollowState(host.dev);
        QVERIFY(page.lblClockDiff->text().isEmpty());
    }
};

QTEST_MAIN(tst_rtc_page)
#include "tst_rtc_page.moc"
