// What the log page and the command-line tool share: which slots hold
// events, and how a field travels in a CSV line.
#include "event_log.h"

#include <QTest>

class TestEventLog : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void slotWritten_data() {
        QTest::addColumn<QList<int>>("words"); // event, sensors, year, month, day, hour, min, sec
        QTest::addColumn<bool>("written");
        QTest::newRow("new or cleared ring") << QList<int>{0, 0, 0, 0, 0, 0, 0, 0, 0} << false;
        QTest::newRow("erased memory")
            << QList<int>{0xFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} << false;
        QTest::newRow("an event without a date")
            << QList<int>{0x11, 0x32, 0, 0, 0, 0, 0, 0, 0} << true;
        QTest::newRow("operation 0 at a sensor reading")
            << QList<int>{0, 0x32, 0, 0, 0, 0, 0, 0, 0} << true;
        QTest::newRow("an invalid date and time")
            << QList<int>{0x11, 0x32, 0, 2024, 13, 5, 24, 0, 0} << true;
        QTest::newRow("almost erased")
            << QList<int>{0xFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0} << true;
    }
    void slotWritten() {
        QFETCH(QList<int>, words);
        const tSlotLog slot{uint8_t(words[0]),  uint16_t(words[1]), uint16_t(words[2]),
                            uint16_t(words[3]), uint8_t(words[4]),  uint8_t(words[5]),
                            uint8_t(words[6]),  uint8_t(words[7]),  uint8_t(words[8])};
        QTEST(LogSlotWritten(slot), "written");
    }

    // Quoted wherever any separator a spreadsheet may tick would split it.
    void csvFields_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << QStringList{"1", "Refrigeração", "-5 ºC"}
                               << QByteArray("1;Refrigera\xC3\xA7\xC3\xA3o;-5 \xC2\xBA"
                                             "C\r\n");
        QTest::newRow("decimal comma") << QStringList{"-5,0", "ºC"}
                                       << QByteArray("\"-5,0\";\xC2\xBA"
                                                     "C\r\n");
        QTest::newRow("separator inside") << QStringList{"a;b", "c"} << QByteArray("\"a;b\";c\r\n");
        QTest::newRow("tab inside") << QStringList{"a\tb"} << QByteArray("\"a\tb\"\r\n");
        QTest::newRow("quote inside") << QStringList{"5\" x", ""} << QByteArray("\"5\"\" x\";\r\n");
        QTest::newRow("line break inside") << QStringList{"a\r\nb"} << QByteArray("\"a\r\nb\"\r\n");
    }
    void csvFields() {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, line);
        QCOMPARE(CsvLine(fields), line);
        // Into a pipe only the line end differs.
        QCOMPARE(CsvLine(fields, tCsvTarget::Stream), line.chopped(2) + '\n');
    }
};

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_event_log.moc"
