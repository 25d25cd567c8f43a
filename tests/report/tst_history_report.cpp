// The PDF report and the readings CSV from a small history file: the text a
// reader finds in the PDF, the failures said, and the CSV as a spreadsheet
// splits it.
#include "history_report.h"
#include "readings_csv.h"
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

tHistReading Reading(int64_t ctl, int64_t t, int32_t room, int32_t relay1) {
    tHistReading r{.controller = ctl, .utcMs = t, .offsetSec = -3 * 3600};
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
    // The PDF's ligatures ("ﬁ") read as their letters.
    return QString::fromUtf8(p.readAllStandardOutput())
        .replace(QChar(0xFB01), QLatin1String("fi"))
        .replace(QChar(0xFB02), QLatin1String("fl"))
        .simplified();
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
            QVERIFY(store.AddReading(Reading(ctl, t0 + i * minute, warm ? 95 : 40 + int32_t(i % 3),
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
                 "Relé 1 144 143 50,0 %",
                 "Relé 2 0 0 0,0 %",
                 "Parâmetros de sistema OFS1 0,0 -0,5",
                 "Página 1 de",
             })
            QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
        // The sensors never read in the period have no rows.
        QVERIFY(!text.contains(QStringLiteral("Sensor 3")));
        // The chain's head for the period: the file can be checked against the paper.
        const std::optional<tHistChainLink> head = store.ChainHead(ctl, rq.fromMs, rq.toMs);
        QVERIFY(head);
        const QString printed = QStringLiteral("registro nº %1, SHA-256 %2")
                                    .arg(head->n)
                                    .arg(QString::fromLatin1(head->hash.toHex()));
        QVERIFY2(text.contains(printed), qPrintable(printed));
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
        QCOMPARE(rows[0].size(), 13);
        QCOMPARE(rows[0][0], QStringLiteral("Data e hora"));
        QCOMPARE(rows[1], (QStringList{"2026-03-02 15:00:00", "2026-03-02T18:00:00.000Z", "9,5",
                                       "-7,5", "Aberto", "Lendo", "ºC", "Desligado", "Desligado",
                                       "", "", "22", "12"}));
    }
};

QTEST_MAIN(tst_history_report)
#include "tst_history_report.moc"
