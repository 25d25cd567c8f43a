// The PDF report and the readings CSV from a small history file: the text a
// reader finds in the PDF, the failures said, and the CSV as a spreadsheet
// splits it.
#include "history_report.h"
#include "readings_csv.h"
#include "sheet_cells.h"
#include "spreadsheet_rows.h"

#include "u_ondrel.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {
constexpr int64_t minute = 60'000;
// 2026-03-02 00:00 local time at UTC-3, in UTC.
const int64_t t0 =
    QDateTime(QDate(2026, 3, 2), QTime(0, 0), QTimeZone(-3 * 3600)).toMSecsSinceEpoch();

tStatusReading Reading(int64_t t, int32_t room, int32_t relay1) {
    tStatusReading r{.utcMs = t, .offsetSec = -3 * 3600};
    r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_ERRMAX, stsTEMP_READING};
    r.value = {room, -75, 0, 0};
    r.relay = {relay1, 0, -1, -1};
    r.result = 22;
    r.roundTripMs = 12;
    return r;
}

QString PdfText(const QString &path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QStringLiteral("pdftotext failed: ") +
               QString::fromLocal8Bit(p.readAllStandardError());
    // As a search in a PDF reader sees it: a ligature ("ﬁ") would not match "fi".
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}
} // namespace

class tst_history_report : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    tHistoryStore store;
    int64_t ctl = 0;

  private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        QVERIFY(store.Open(dir.filePath(QStringLiteral("historico.sqlite"))));
        ctl = store.ControllerId({0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"),
                                  QStringLiteral("1.2")});
        QVERIFY(ctl > 0);
        // Two days at one reading a minute around 4.0 ºC; on the first
        // afternoon the room climbs to 9.5 ºC for 20 minutes; relay 1
        // switches every 10 minutes.
        QVERIFY(store.Begin());
        for (int64_t i = 0; i < 2 * 1440; ++i) {
            const bool warm = i >= 15 * 60 && i < 15 * 60 + 20;
            QVERIFY(store.AddReading(ctl, Reading(t0 + i * minute, warm ? 95 : 40 + int32_t(i % 3),
                                                  int32_t(i / 10 % 2))));
        }
        QVERIFY(store.Commit());
        QVERIFY(store.AddAudit(
            {.controller = ctl,
             .utcMs = t0 + 16 * 60 * minute,
             .offsetSec = -3 * 3600,
             .user = QStringLiteral("tecnico"),
             .command = QStringLiteral("Parâmetros de sistema"),
             .result = 13,
             .fields = {{QStringLiteral("OFS1"), QStringLiteral("0,0"), QStringLiteral("-0,5")}}}));
    }

    void reportHoldsWhatAnAuditAsks() {
        // A Portuguese document whatever the computer's locale: "seg.", "4,0".
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const auto brazilian =
            qScopeGuard([] { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); });
        const QString pdf = dir.filePath(QStringLiteral("relatorio.pdf"));
        tReportRequest rq;
        rq.controller = ctl;
        rq.fromMs = t0;
        rq.toMs = t0 + 2 * 1440 * minute;
        rq.limits[0] = {0, 80};
        rq.user = QStringLiteral("tecnico");
        rq.generated = QDateTime(QDate(2026, 3, 5), QTime(10, 30));
        QString why;
        QVERIFY2(WriteHistoryReport(store, rq, pdf, &why), qPrintable(why));
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.read(5) == "%PDF-");

        const QString text = PdfText(pdf);
        for (const char *expected : {
                 "Relatório de temperaturas",
                 "Controlador: qx4r 201 em /dev/ttyUSB0 (firmware 1.2)",
                 "de 02/03/2026 00:00 a 04/03/2026 00:00",
                 "Gerado por tecnico em 05/03/2026 10:30:00",
                 "Sensor 1: 0,0 a 8,0 ºC",
                 // Day one of sensor 1: min, mean, max, 20 minutes outside.
                 "02/03/2026 seg. Sensor 1 4,0 ºC 4,2 ºC 9,5 ºC 20 min 1440",
                 "Sensor 2 -7,5 ºC -7,5 ºC -7,5 ºC sem limites",
                 // The excursion: start, end, duration, extreme.
                 "Sensor 1 02/03/2026 15:00 02/03/2026 15:20 20 min acima: 9,5 ºC",
                 // Relay 1 switched on 144 times and off 143 in two days,
                 // half the time on; relay 2 never.
                 "Acionamentos dos relés",
                 "Relé 1 144 143 50,0 %",
                 "Relé 2 0 0 0,0 %",
                 "Parâmetros de sistema OFS1 0,0 -0,5",
                 // Sensor 3 open throughout: its days, without values, and why.
                 "02/03/2026 seg. Sensor 3 — — — — 0",
                 "Falhas de sensor: 02/03/2026 Sensor 3: aberto em 1440 leituras, nenhum valor "
                 "no dia 03/03/2026 Sensor 3: aberto em 1440 leituras, nenhum valor no dia",
                 "Página 1 de",
             })
            QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
        // A sensor still being read gave nothing to say.
        QVERIFY(!text.contains(QStringLiteral("Sensor 4")));
        // The chain's head for the period: the file can be checked against the paper.
        const std::optional<tHistChainLink> head = store.ChainHead(ctl, rq.fromMs, rq.toMs);
        QVERIFY(head);
        const QString printed = QStringLiteral("registro nº %1, SHA-256 %2")
                                    .arg(head->n)
                                    .arg(QString::fromLatin1(head->hash.toHex()));
        QVERIFY2(text.contains(printed), qPrintable(printed));
    }

    // An excursion the period ends in: going on only while readings come;
    // else where the readings stopped, or that it lasts past the period. The
    // time outside ends with the last reading, or with the period.
    void excursionEndSaid_data() {
        QTest::addColumn<int64_t>("toAfterLast");
        QTest::addColumn<int64_t>("generatedAfterLast");
        QTest::addColumn<QString>("excursion");
        QTest::addColumn<QString>("day");
        QTest::newRow("readings stopped long ago")
            << minute << 24 * 60 * minute
            << "Sensor 1 03/03/2026 10:10 03/03/2026 10:14 (fim das leituras) 4 min acima: 9,5 ºC"
            << "9,5 ºC 4 min 15";
        QTest::newRow("still recording")
            << minute << minute << "Sensor 1 03/03/2026 10:10 (em curso) 4 min acima: 9,5 ºC"
            << "9,5 ºC 4 min 15";
        QTest::newRow("readings go on past the period")
            << -2 * minute << minute
            << "Sensor 1 03/03/2026 10:10 após o fim do período 1 min acima: 9,5 ºC"
            << "9,5 ºC 2 min 12";
    }
    void excursionEndSaid() {
        QFETCH(int64_t, toAfterLast);
        QFETCH(int64_t, generatedAfterLast);
        QFETCH(QString, excursion);
        QFETCH(QString, day);
        // 03/03 from 10:00, a reading a minute; at 10:10 the room goes to
        // 9,5 ºC and at 10:14 the readings stop.
        const int64_t start = t0 + (24 + 10) * 60 * minute;
        const int64_t other = store.ControllerId(
            {0, QStringLiteral("/dev/ttyUSB1"), 7, QStringLiteral("qx1r"), QStringLiteral("1.2")});
        if (store.ReadingSpan(other) == std::nullopt)
            for (int64_t m = 0; m < 15; ++m)
                QVERIFY(store.AddReading(other, Reading(start + m * minute, m < 10 ? 40 : 95, 0)));
        const int64_t last = start + 14 * minute;
        tReportRequest rq;
        rq.controller = other;
        rq.fromMs = start;
        rq.toMs = last + toAfterLast;
        rq.limits[0] = {std::nullopt, 80};
        rq.user = QStringLiteral("tecnico");
        rq.generated = QDateTime::fromMSecsSinceEpoch(last + generatedAfterLast);
        const QString pdf = dir.filePath(QStringLiteral("fim.pdf"));
        QString why;
        QVERIFY2(WriteHistoryReport(store, rq, pdf, &why), qPrintable(why));
        const QString text = PdfText(pdf);
        QVERIFY2(text.contains(excursion), qPrintable(text));
        QVERIFY2(text.contains(day), qPrintable(text));
    }

    void failuresAreSaid_data() {
        QTest::addColumn<int64_t>("controller");
        QTest::addColumn<QString>("path");
        QTest::newRow("unknown controller") << int64_t(999) << QStringLiteral("r.pdf");
        QTest::newRow("folder missing") << int64_t(-1) << QStringLiteral("nao/existe/r.pdf");
        QTest::newRow("empty period") << int64_t(-2) << QStringLiteral("r.pdf");
    }
    void failuresAreSaid() {
        QFETCH(int64_t, controller);
        QFETCH(QString, path);
        const QString file = dir.filePath(path);
        const int64_t to = controller == -2 ? t0 : t0 + 60 * minute;
        QString why;
        QVERIFY(
            !WriteHistoryReport(store, controller < 0 ? ctl : controller, t0, to, {}, file, &why));
        QVERIFY(!why.isEmpty());
        QVERIFY(!QFile::exists(file));
    }

    void readingsCsv() {
        const QString csv = dir.filePath(QStringLiteral("leituras.csv"));
        QString why;
        QVERIFY2(WriteReadingsCsv(store, ctl, t0 + 15 * 60 * minute,
                                  t0 + 15 * 60 * minute + 2 * minute, csv, &why),
                 qPrintable(why));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        // As a spreadsheet splitting on every separator at once sees it.
        const QList<QStringList> rows = SpreadsheetRows(QString::fromUtf8(f.readAll()));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].size(), 14);
        QCOMPARE(rows[0][0], QStringLiteral("Data e hora"));
        QCOMPARE(rows[1], (QStringList{"2026-03-02 15:00:00", "2026-03-02T18:00:00.000Z", "9,5",
                                       "-7,5", "Aberto", "Lendo", "ºC", "Desligado", "Desligado",
                                       "", "", "22", "12", ""}));
    }

    // The clock set ten days back in the middle of a recording: the report
    // says where, since its days now hold readings of a day that never was.
    void clockStepSaid() {
        tHistoryStore file;
        QVERIFY(file.Open(dir.filePath(QStringLiteral("relogio.sqlite"))));
        const int64_t c = file.ControllerId({0, QStringLiteral("/dev/ttyUSB0"), 201,
                                             QStringLiteral("qx4r"), QStringLiteral("1.2")});
        const int64_t back = t0 + 15 * 60 * minute - 10 * 1440 * minute;
        for (const int64_t t :
             {t0 + 15 * 60 * minute, t0 + 15 * 60 * minute + minute, back, back + minute})
            QVERIFY(file.AddReading(c, Reading(t, 40, 0)));
        const QString pdf = dir.filePath(QStringLiteral("relogio.pdf"));
        tReportRequest rq;
        rq.controller = c;
        rq.fromMs = back - 1440 * minute;
        rq.toMs = t0 + 1440 * minute;
        rq.user = QStringLiteral("tecnico");
        rq.generated = QDateTime(QDate(2026, 3, 5), QTime(10, 30));
        QString why;
        QVERIFY2(WriteHistoryReport(file, rq, pdf, &why), qPrintable(why));
        const QString text = PdfText(pdf).simplified();
        for (const char *expected : {"o relógio do computador voltou atrás",
                                     "de 02/03/2026 15:01:00 para 20/02/2026 15:00:00"})
            QVERIFY2(text.contains(QString::fromUtf8(expected)), qPrintable(text.left(2000)));
    }

    // The readings as a spreadsheet file: the CSV's columns, each cell of its
    // type, as a spreadsheet reads it back.
    void readingsSheet_data() {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("value");
        QTest::newRow("header") << "A1"
                                << "texto"
                                << "Data e hora";
        QTest::newRow("unit in the header") << "C1"
                                            << "texto"
                                            << "Sensor 1 (ºC)";
        // 02/03/2026 15:00 as a date, in the pt-BR day-month order.
        QTest::newRow("local time") << "A2"
                                    << "data"
                                    << "46083.625";
        QTest::newRow("UTC") << "B2"
                             << "data"
                             << "46083.75";
        QTest::newRow("temperature") << "C2"
                                     << "número"
                                     << "9.5";
        QTest::newRow("negative") << "D2"
                                  << "número"
                                  << "-7.5";
        QTest::newRow("sensor open") << "E2"
                                     << "texto"
                                     << "Aberto";
        QTest::newRow("unit") << "G2"
                              << "texto"
                              << "ºC";
        QTest::newRow("relay") << "H2"
                               << "texto"
                               << "Desligado";
        QTest::newRow("result") << "L2"
                                << "número"
                                << "22";
        QTest::newRow("round trip") << "M2"
                                    << "número"
                                    << "12";
        QTest::newRow("clock") << "N1"
                               << "texto"
                               << "Relógio";
    }
    void readingsSheet() {
        QFETCH(QString, cell);
        QFETCH(QString, kind);
        QFETCH(QString, value);
        const QString xlsx = dir.filePath(QStringLiteral("leituras.xlsx"));
        if (!QFile::exists(xlsx)) {
            QString why;
            QVERIFY2(WriteReadingsSheet(store, ctl, t0 + 15 * 60 * minute,
                                        t0 + 15 * 60 * minute + 2 * minute, xlsx, &why),
                     qPrintable(why));
        }
        const QMap<QString, tSheetCellRead> cells = SheetCells(xlsx);
        QCOMPARE(cells.value(QStringLiteral("O1")).kind, QString()); // the CSV's 14 columns
        QCOMPARE(cells.value(QStringLiteral("A4")).kind, QString()); // two readings
        QCOMPARE(cells.value(cell).kind, kind);
        QCOMPARE(cells.value(cell).value, value);
        if (kind == u"data")
            QCOMPARE(cells.value(cell).format, QStringLiteral("dd/mm/yyyy hh:mm:ss"));
    }
};

QTEST_MAIN(tst_history_report)
#include "tst_history_report.moc"
