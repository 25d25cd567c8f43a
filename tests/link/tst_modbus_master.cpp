// The Modbus master against a scripted line: request frames, every result
// code with its trace line, the length guards, CRC, texts and the trace file.
#include "hex_frame.h"
#include "trace_log.h"
#include "u_modbus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/resource.h>

#include <csignal>
#include <optional>

namespace {

// A port double: the request is recorded, the scripted answer goes on the
// line as the request leaves, and a purge empties the line. `late` bytes come
// on the line of their own once `lateClock` passes `lateAtMs`.
struct tScriptedLine {
    QByteArray sent;
    QByteArray answer;
    QByteArray line;
    QByteArray late;
    QElapsedTimer lateClock;
    qint64 lateAtMs = 0;
    int32_t writeShortBy = 0;
    int purges = 0;
    int reads = 0;
    int readsAtPurge = 0;
    bool lateDueAtSend = false; // the request went out before the late bytes came
    tModBus master{[this](const uint8_t *buffer, int32_t n) {
                       sent = QByteArray(reinterpret_cast<const char *>(buffer), n);
                       lateDueAtSend = !late.isEmpty();
                       line += answer;
                       return n - writeShortBy;
                   },
                   [this](uint8_t &c) {
                       ++reads;
                       if (!late.isEmpty() && lateClock.isValid() &&
                           lateClock.elapsed() >= lateAtMs) {
                           line += late;
                           late.clear();
                       }
                       if (line.isEmpty()) {
                           QThread::msleep(1);
                           return false;
                       }
                       c = uint8_t(line.front());
                       line.remove(0, 1);
                       return true;
                   },
                   [this] {
                       ++purges;
                       readsAtPurge = reads;
                       line.clear();
                   }};
};

const QString goodRead = QStringLiteral("C9 03 0E 71 78 72 34 31 32 00 01 00 02 00 03 00 04 crc");

// The three transactions as the tests run them: slave 201, seven registers
// from 0 (or from 0x20: "read at 20"), register 0x20 := 0x1234, three
// registers from 0xA014.
int32_t transact(tModBus &m, const QString &kind, uint16_t *regs, int32_t slave = 201) {
    static const uint16_t values[] = {12, 34, 56};
    if (kind == QLatin1String("read"))
        return m.Read_Registers(slave, 0, regs, 7);
    if (kind == QLatin1String("read at 20"))
        return m.Read_Registers(slave, 0x20, regs, 7);
    if (kind == QLatin1String("write1"))
        return m.Write_Register(slave, 0x20, 0x1234);
    return m.Write_Registers(slave, 0xA014, values, 3);
}

QList<QByteArray> traceLines(const QString &name) {
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    while (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class tst_ModbusMaster : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

  private Q_SLOTS:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
    }

    void crc_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("poly");
        QTest::addColumn<int>("init");
        QTest::addColumn<int>("crc");
        QTest::newRow("modbus check") << QByteArray("123456789") << 0x8005 << 0xFFFF << 0x4B37;
        QTest::newRow("arc check") << QByteArray("123456789") << 0x8005 << 0x0000 << 0xBB3D;
        QTest::newRow("no data") << QByteArray() << 0x8005 << 0x1234 << 0x1234;
    }
    void crc() {
        QFETCH(QByteArray, data);
        QFETCH(int, poly);
        QFETCH(int, init);
        QFETCH(int, crc);
        const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
        QCOMPARE(crc16_Right(bytes, int32_t(data.size()), uint16_t(poly), uint16_t(init)), crc);
        if (poly == 0x8005 && init == 0xFFFF)
            QCOMPARE(crc16_MODBUS(bytes, int32_t(data.size())), crc);
        QCOMPARE(crc16_Poly(0x8005), 0xA001);
        QCOMPARE(crc16_Poly(0x0001), 0x8000);
    }
    // The Modbus CRC goes by a table: every byte value, after any other, as
    // the plain bit-by-bit routine has it.
    void crcTable() {
        for (int first = 0; first < 256; first += 51)
            for (int b = 0; b < 256; ++b) {
                const uint8_t bytes[] = {uint8_t(first), uint8_t(b)};
                QCOMPARE(crc16_MODBUS(bytes, 2), crc16_Right(bytes, 2, 0x8005, 0xFFFF));
            }
    }

    void requestFrames_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("slave");
        QTest::addColumn<QString>("request");
        QTest::newRow("read") << "read" << 201 << "C9 03 00 00 00 07 14 40";
        QTest::newRow("only the low 8 bits of the slave")
            << "read" << 457 << "C9 03 00 00 00 07 14 40";
        QTest::newRow("write single") << "write1" << 201 << "C9 06 00 20 12 34 crc";
        QTest::newRow("write multiple")
            << "writeN" << 201 << "C9 10 A0 14 00 03 06 00 0C 00 22 00 38 crc";
    }
    void requestFrames() {
        QFETCH(QString, kind);
        QFETCH(int, slave);
        QFETCH(QString, request);
        tScriptedLine port;
        uint16_t regs[7] = {};
        transact(port.master, kind, regs, slave);
        QCOMPARE(hexText(port.sent), hexText(hexFrame(request)));
        QCOMPARE(port.purges, 1);
    }

    // Each answer gives its code and its trace line, leaves the registers
    // alone when it fails, and the next transaction works, with the fast read
    // off and on ("[fast]" rows). With it on, every code and trace line is the
    // design's, except where the first bytes the request calls for already
    // form a whole frame with a valid CRC: the fast read ends the answer there
    // and takes that frame, while the design reads on to the silence and
    // finds the CRC of the longer answer wrong. Those rows give both outcomes;
    // the bytes left behind are purged before the next request.
    void resultCodes_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("writeShortBy");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<bool>("differs");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("lastTrace");
        struct tOutcome {
            int code;
            QString lastTrace;
        };
        auto row = [](const QString &name, const QString &kind, const QString &answer,
                      int writeShortBy, const tOutcome &design,
                      const std::optional<tOutcome> &fast = std::nullopt) {
            for (bool on : {false, true}) {
                const tOutcome &o = on && fast ? *fast : design;
                QTest::newRow(qPrintable(on ? name + QStringLiteral(" [fast]") : name))
                    << kind << answer << writeShortBy << on << fast.has_value() << o.code
                    << o.lastTrace;
            }
        };

        row("read", "read", goodRead, 0, {7, "    addr 0x6 = 0x4"});
        for (int c : {1, 2, 3, 4, 5, 6, 12})
            row(QString::asprintf("exception %d", c), "read",
                QString::asprintf("C9 83 %02X crc", c), 0,
                {-c, QString::asprintf("    exception %d", -c)});
        // A gateway's two have codes of their own: -10 and -11 are taken.
        row("gateway exception 10", "read", "C9 83 0A crc", 0, {-16, "    exception -10"});
        row("gateway exception 11", "read", "C9 83 0B crc", 0, {-17, "    exception -11"});
        row("exception code 0", "read", "C9 83 00 crc", 0, {-11, "    exception 0"});
        row("short write", "read", goodRead, 1, {-5, "    err TX"});
        row("long write", "read", goodRead, -1, {-5, "    err TX"});
        row("silence", "read", "", 0, {-6, "    TIMEOUT"});
        row("257 bytes", "read", "C9*300", 0, {-7, "    BUF OVERFLOW"});
        row("256 bytes, bad crc", "read", "C9*256", 0, {-8, "    ERROR CRC"});
        row("bad crc", "read", "C9 03 0E 71 78 72 34 31 32 00 01 00 02 00 03 00 04 00 00", 0,
            {-8, "    ERROR CRC"});
        // 19 bytes whose last two are no CRC, then two that make the 21 whole.
        row("count reached with a bad crc, then more bytes", "read",
            "C9 03 0E 71 78 72 34 31 32 00 01 00 02 00 03 00 04 00 00 crc", 0,
            {-12, "    err len frame 19 <> 21"});
        row("one stray byte", "read", "C9", 0, {-9, "    NO RESPONSE"});
        row("two stray bytes", "read", "C9 03", 0, {-9, "    NO RESPONSE"});
        row("other slave", "read", "07 03 02 00 01 crc", 0, {-10, "    err ADDR"});
        row("other function", "read", "C9 04 02 00 01 crc", 0, {-11, "    err FUNC"});
        row("byte count 12", "read", "C9 03 0C 71 78 72 34 31 32 00 01 00 02 00 03 crc", 0,
            {-12, "    err len bytes rx 14 <> 12"});
        row("count right, frame cut short", "read", "C9 03 0E crc", 0,
            {-12, "    err len frame 19 <> 5"});
        // Marked: a whole valid answer, then bytes the request does not call for
        // (not zeros: a frame with its CRC and then zeros has a valid CRC again).
        row("answer, then one byte more", "read", goodRead + " 5A", 0, {-8, "    ERROR CRC"},
            tOutcome{7, "    addr 0x6 = 0x4"});
        row("exception, then two bytes more", "read", "C9 83 02 crc 5A A5", 0,
            {-8, "    ERROR CRC"}, tOutcome{-2, "    exception -2"});

        row("write single", "write1", "C9 06 00 20 12 34 crc", 0,
            {1, "    [crc msg 0x3F95] [crc calc 0x3F95]"});
        row("write single, other value", "write1", "C9 06 00 20 12 35 crc", 0,
            {-13, "    err value 4660 <> 4661"});
        row("write single, other address", "write1", "C9 06 00 21 12 34 crc", 0,
            {-10, "    err addr 32 <> 33"});
        row("write single, cut short", "write1", "C9 06 00 crc", 0,
            {-12, "    err len frame 8 <> 5"});
        row("write single, exception 2", "write1", "C9 86 02 crc", 0, {-2, "    exception -2"});
        // Marked: the whole echo, then a byte the request does not call for.
        row("write single, then one byte more", "write1", "C9 06 00 20 12 34 crc 5A", 0,
            {-8, "    ERROR CRC"}, tOutcome{1, "    [crc msg 0x3F95] [crc calc 0x3F95]"});

        row("write multiple", "writeN", "C9 10 A0 14 00 03 crc", 0,
            {1, "    [crc msg 0x44F2] [crc calc 0x44F2]"});
        row("write multiple, other quantity", "writeN", "C9 10 A0 14 00 04 crc", 0,
            {-13, "    err qtd 3 <> 4"});
        row("write multiple, other address", "writeN", "C9 10 A0 15 00 03 crc", 0,
            {-10, "    err addr 40980 <> 40981"});
        row("write multiple, other function", "writeN", "C9 06 A0 14 00 03 crc", 0,
            {-11, "    err FUNC"});
    }
    void resultCodes() {
        QFETCH(QString, kind);
        QFETCH(QString, answer);
        QFETCH(int, writeShortBy);
        QFETCH(bool, fast);
        QFETCH(bool, differs);
        QFETCH(int, code);
        QFETCH(QString, lastTrace);

        uint16_t regs[7];
        QList<QByteArray> designTrace;
        if (fast && !differs) {
            // The same answer read the design's way, for its trace.
            tScriptedLine design;
            design.master.SetSaveLog(true);
            design.answer = hexFrame(answer);
            design.writeShortBy = writeShortBy;
            transact(design.master, kind, regs);
            designTrace = traceLines(QStringLiteral("modbus.log")).mid(1);
        }

        tScriptedLine port;
        port.master.SetFastRead(fast);
        port.master.SetSaveLog(true);
        port.answer = hexFrame(answer);
        port.writeShortBy = writeShortBy;
        std::fill(std::begin(regs), std::end(regs), 0xAAAA);
        QCOMPARE(transact(port.master, kind, regs), code);
        const QList<QByteArray> lines = traceLines(QStringLiteral("modbus.log"));
        QVERIFY(!lines.isEmpty());
        QCOMPARE(QString::fromLatin1(lines.back()), lastTrace);
        if (fast && !differs)
            QCOMPARE(lines.mid(1), designTrace);
        if (code < 0)
            for (uint16_t r : regs)
                QCOMPARE(r, 0xAAAA);

        port.answer = hexFrame(goodRead);
        port.writeShortBy = 0;
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), 7);
        QCOMPARE(regs[0], 0x7178);
        QCOMPARE(regs[6], 0x0004);
    }

    // Modbus TCP: the RTU frame without its CRC behind the MBAP header, each
    // request with the next transaction id.
    void mbapRequestFrames_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("request");
        QTest::newRow("read") << "read"
                              << "00 01 00 00 00 06 C9 03 00 00 00 07";
        QTest::newRow("write single") << "write1"
                                      << "00 01 00 00 00 06 C9 06 00 20 12 34";
        QTest::newRow("write multiple")
            << "writeN"
            << "00 01 00 00 00 0D C9 10 A0 14 00 03 06 00 0C 00 22 00 38";
    }
    void mbapRequestFrames() {
        QFETCH(QString, kind);
        QFETCH(QString, request);
        tScriptedLine port;
        port.master.SetFraming(tFraming::Mbap);
        uint16_t regs[7] = {};
        transact(port.master, kind, regs);
        QCOMPARE(hexText(port.sent), hexText(hexFrame(request)));
        transact(port.master, kind, regs);
        QCOMPARE(hexText(port.sent.left(2)), QStringLiteral("00 02"));
    }

    // Each MBAP answer to the first request (transaction 1) gives its code and
    // trace line and leaves the registers alone when it fails; the next
    // transaction works. An answer is taken only with its request's id.
    void mbapAnswers_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("lastTrace");
        const QString pdu = QStringLiteral("03 0E 71 78 72 34 31 32 00 01 00 02 00 03 00 04");
        QTest::newRow("read") << "read"
                              << "00 01 00 00 00 11 C9 " + pdu << 7 << "    addr 0x6 = 0x4";
        QTest::newRow("write single")
            << "write1"
            << "00 01 00 00 00 06 C9 06 00 20 12 34" << 1 << "    rx 0x34";
        QTest::newRow("write multiple")
            << "writeN"
            << "00 01 00 00 00 06 C9 10 A0 14 00 03" << 1 << "    rx 0x3";
        QTest::newRow("an earlier request's answer, late, then this one's")
            << "read"
            << "00 00 00 00 00 11 C9 " + pdu + " 00 01 00 00 00 11 C9 " + pdu << 7
            << "    addr 0x6 = 0x4";
        QTest::newRow("another transaction id")
            << "read"
            << "00 05 00 00 00 11 C9 " + pdu << -18 << "    err transaction 5 <> 1";
        QTest::newRow("another protocol")
            << "read"
            << "00 01 00 01 00 11 C9 " + pdu << -12 << "    err MBAP header";
        QTest::newRow("length 0") << "read"
                                  << "00 01 00 00 00 00 C9" << -12 << "    err MBAP header";
        QTest::newRow("another unit") << "read"
                                      << "00 01 00 00 00 11 07 " + pdu << -10 << "    err ADDR";
        QTest::newRow("byte count 12")
            << "read"
            << "00 01 00 00 00 0F C9 03 0C 71 78 72 34 31 32 00 01 00 02 00 03" << -12
            << "    err len bytes rx 14 <> 12";
        QTest::newRow("exception 2") << "read"
                                     << "00 01 00 00 00 03 C9 83 02" << -2 << "    exception -2";
        QTest::newRow("gateway: no path")
            << "read"
            << "00 01 00 00 00 03 C9 83 0A" << -16 << "    exception -10";
        QTest::newRow("gateway: the controller behind did not answer")
            << "write1"
            << "00 01 00 00 00 03 C9 86 0B" << -17 << "    exception -11";
        QTest::newRow("silence") << "read"
                                 << "" << -6 << "    TIMEOUT";
        QTest::newRow("stops halfway")
            << "read"
            << "00 01 00 00 00 11 C9 03 0E 71" << -6 << "    NO RESPONSE";
    }
    void mbapAnswers() {
        QFETCH(QString, kind);
        QFETCH(QString, answer);
        QFETCH(int, code);
        QFETCH(QString, lastTrace);
        tScriptedLine port;
        port.master.SetFraming(tFraming::Mbap);
        port.master.SetSaveLog(true);
        port.answer = hexFrame(answer);
        uint16_t regs[7];
        std::fill(std::begin(regs), std::end(regs), 0xAAAA);
        QCOMPARE(transact(port.master, kind, regs), code);
        const QList<QByteArray> lines = traceLines(QStringLiteral("modbus.log"));
        QVERIFY(!lines.isEmpty());
        QCOMPARE(QString::fromLatin1(lines.back()).remove(QRegularExpression(R"(\[\d+\] )")),
                 lastTrace);
        if (code < 0)
            for (uint16_t r : regs)
                QCOMPARE(r, 0xAAAA);
        else if (kind == QLatin1String("read"))
            QCOMPARE(regs[0], 0x7178);

        port.answer = hexFrame(QStringLiteral("00 02 00 00 00 11 C9 03 0E 71 78 72 34 31 32 00 "
                                              "01 00 02 00 03 00 05"));
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), 7);
        QCOMPARE(regs[6], 0x0005);
    }

    // Counts that do not fit the frames are refused before anything is sent.
    void lengthGuard_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("len");
        QTest::newRow("read none") << true << 0;
        QTest::newRow("read 126") << true << 126;
        QTest::newRow("write none") << false << 0;
        QTest::newRow("write 124") << false << 124;
    }
    void lengthGuard() {
        QFETCH(bool, read);
        QFETCH(int, len);
        tScriptedLine port;
        uint16_t regs[200] = {};
        const int32_t r = read ? port.master.Read_Registers(201, 0, regs, len)
                               : port.master.Write_Registers(201, 0, regs, len);
        QCOMPARE(r, errMODBUS_ILLEGAL_DATA_VALUE);
        QVERIFY(port.sent.isEmpty());
    }

    void staleBytesArePurged() {
        tScriptedLine port;
        port.line = hexFrame(QStringLiteral("C9 03 02 12 34 crc"));
        port.answer = hexFrame(goodRead);
        uint16_t regs[7] = {};
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), 7);
        QCOMPARE(regs[0], 0x7178);
    }

    // After a time-out the next transaction first lets the line fall silent,
    // so the old request's answer, however late within one more time-out, is
    // thrown away and never read as the answer of a request the slave
    // ignored. Without a time-out nothing is read before the request.
    void lateAnswerIsDiscarded_data() {
        QTest::addColumn<int>("lateMs");
        QTest::newRow("within the byte wait") << 10;
        QTest::newRow("long after the byte wait") << 400;
    }
    void lateAnswerIsDiscarded() {
        QFETCH(int, lateMs);
        tScriptedLine port;
        port.master.SetSaveLog(true);
        uint16_t regs[7] = {};
        port.answer = hexFrame(goodRead);
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), 7);
        const int readsBefore = port.reads;
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), 7);
        QCOMPARE(port.readsAtPurge, readsBefore);

        port.answer.clear();
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), errMODBUS_TIMEOUT);
        port.late =
            hexFrame(QStringLiteral("C9 03 0E 11 11 22 22 33 33 44 44 55 55 66 66 77 77 crc"));
        port.lateAtMs = lateMs;
        port.lateClock.start();
        std::fill(std::begin(regs), std::end(regs), 0xAAAA);
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), errMODBUS_TIMEOUT);
        for (uint16_t r : regs)
            QCOMPARE(r, 0xAAAA);
        QVERIFY(port.late.isEmpty());
        QVERIFY(traceLines(QStringLiteral("modbus.log")).contains("    discarded 19 late bytes"));

        port.answer = hexFrame(goodRead);
        QCOMPARE(port.master.Read_Registers(201, 0, regs, 7), 7);
        QCOMPARE(regs[0], 0x7178);
    }

    // On a bus: after a time-out, a late answer that comes while the next
    // exchange waits for its own is never taken for it. Another slave's, or
    // one for another function, is recognised and set aside, so that request
    // goes out at once and its own answer, behind the late one, is read. Only
    // a request the late answer could pass for an answer to (same slave and
    // function) is held until no late answer can come.
    void lateAnswerOnABus_data() {
        QTest::addColumn<int>("timedOutSlave");
        QTest::addColumn<QString>("nextKind");
        QTest::addColumn<int>("nextSlave");
        QTest::addColumn<QString>("lateAnswer");
        QTest::addColumn<QString>("ownAnswer");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("code");
        const QString late07 = "07 03 0E 11 11 22 22 33 33 44 44 55 55 66 66 77 77 crc";
        const QString late201 = "C9 03 0E 11 11 22 22 33 33 44 44 55 55 66 66 77 77 crc";
        QTest::newRow("another slave's late answer")
            << 7 << "read" << 201 << late07 << goodRead << false << 7;
        QTest::newRow("the same slave's, for another function")
            << 201 << "write1" << 201 << late201 << "C9 06 00 20 12 34 crc" << false << 1;
        QTest::newRow("the same slave's, for the same function")
            << 201 << "read at 20" << 201 << late201 << goodRead << true << 7;
    }
    void lateAnswerOnABus() {
        QFETCH(int, timedOutSlave);
        QFETCH(QString, nextKind);
        QFETCH(int, nextSlave);
        QFETCH(QString, lateAnswer);
        QFETCH(QString, ownAnswer);
        QFETCH(bool, held);
        QFETCH(int, code);
        for (bool fast : {false, true}) {
            tScriptedLine port;
            port.master.SetFastRead(fast);
            port.master.SetSaveLog(true);
            uint16_t regs[7] = {};
            QCOMPARE(port.master.Read_Registers(timedOutSlave, 0, regs, 7), errMODBUS_TIMEOUT);
            // The late answer comes well inside one more time-out, with this
            // request's own answer right behind it unless the request waited.
            port.late = hexFrame(lateAnswer);
            if (held)
                port.answer = hexFrame(ownAnswer);
            else
                port.late += hexFrame(ownAnswer);
            port.lateAtMs = 300;
            port.lateClock.start();
            QCOMPARE(transact(port.master, nextKind, regs, nextSlave), code);
            QCOMPARE(port.lateDueAtSend, !held);
            if (code == 7)
                QCOMPARE(regs[0], 0x7178);
            QVERIFY(
                traceLines(QStringLiteral("modbus.log")).contains("    discarded 19 late bytes"));
            QCOMPARE(port.master.Stats().Of(tOutcome::Late), 1u);
        }
    }

    // A slave that never answers is asked again and again on a bus: once a
    // whole time-out has passed after its time-out with nothing late, it is
    // silent, not slow, and the same request to it is not held either; a
    // request to another slave never is.
    void silentSlaveHoldsNothing() {
        tScriptedLine port;
        uint16_t regs[7] = {};
        auto readsBeforeRequest = [&](int slave, int32_t code) {
            const int before = port.reads;
            port.answer = slave == 201 ? hexFrame(goodRead) : QByteArray();
            const int32_t r = port.master.Read_Registers(slave, 0, regs, 7);
            return r == code ? port.readsAtPurge - before : -1;
        };
        QCOMPARE(readsBeforeRequest(7, errMODBUS_TIMEOUT), 0);
        for (int round = 0; round < 3; ++round) {
            const int toOther = readsBeforeRequest(201, 7);
            QVERIFY2(toOther >= 0 && toOther < 100, qPrintable(QString::number(toOther)));
            const int again = readsBeforeRequest(7, errMODBUS_TIMEOUT);
            QVERIFY(again >= 0);
            // A whole time-out is 864 reads of the scripted line and more.
            if (round > 0)
                QVERIFY2(again < 100, qPrintable(QString::number(again)));
        }
    }

    // An answer that stops in the middle and goes on after a pause, as behind
    // a USB adapter's timer or on a loaded computer. With the fast read, an
    // answer begun as the request's waits for its rest up to the response
    // time-out (864 ms here); the design's silence ends any answer early, and
    // so does the fast read when the beginning is not the request's.
    void pauseInsideAnswer_data() {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("splitAt");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("code");
        QTest::newRow("read, fast") << true << "read" << goodRead << 9 << 200 << 7;
        QTest::newRow("read, design") << false << "read" << goodRead << 9 << 200 << -8;
        QTest::newRow("read after its function byte, fast")
            << true << "read" << goodRead << 2 << 200 << 7;
        QTest::newRow("write multiple, fast") << true << "writeN"
                                              << "C9 10 A0 14 00 03 crc" << 4 << 200 << 1;
        QTest::newRow("exception, fast") << true << "read"
                                         << "C9 83 02 crc" << 3 << 200 << -2;
        QTest::newRow("pause past the time-out, fast")
            << true << "read" << goodRead << 9 << 1300 << -8;
        QTest::newRow("another slave's answer, fast")
            << true << "read"
            << "07 03 0E 71 78 72 34 31 32 00 01 00 02 00 03 00 04 crc" << 9 << 200 << -8;
        QTest::newRow("another byte count, fast")
            << true << "read"
            << "C9 03 0C 71 78 72 34 31 32 00 01 00 02 00 03 crc" << 9 << 200 << -8;
    }
    void pauseInsideAnswer() {
        QFETCH(bool, fast);
        QFETCH(QString, kind);
        QFETCH(QString, answer);
        QFETCH(int, splitAt);
        QFETCH(int, pauseMs);
        QFETCH(int, code);
        tScriptedLine port;
        port.master.SetFastRead(fast);
        QCOMPARE(port.master.Timeout(), 1);
        const QByteArray whole = hexFrame(answer);
        port.answer = whole.left(splitAt);
        port.late = whole.mid(splitAt);
        port.lateAtMs = pauseMs;
        uint16_t regs[7] = {};
        port.lateClock.start();
        QCOMPARE(transact(port.master, kind, regs), code);
        if (code == 7)
            QCOMPARE(regs[6], 0x0004);
    }

    void strerror_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("-1") << -1 << "ILLEGAL FUNCTION";
        QTest::newRow("-2") << -2 << "ILLEGAL DATA ADDRESS";
        QTest::newRow("-3") << -3 << "ILLEGAL DATA VALUE";
        QTest::newRow("-4") << -4 << "SLAVE DEVICE FAILURE";
        QTest::newRow("-5") << -5 << "Unknow -5";
        QTest::newRow("-6") << -6 << "TIMEOUT";
        QTest::newRow("-8") << -8 << "Unknow -8";
        QTest::newRow("-15") << -15 << "Unknow -15";
        QTest::newRow("-16") << -16 << "gateway sem caminho";
        QTest::newRow("-17") << -17 << "o controlador atrás do gateway não respondeu";
        QTest::newRow("-18") << -18 << "resposta de outra transação";
        QTest::newRow("-200") << -200 << "Unknow -200";
    }
    void strerror() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(modbus_strerror(code), text);
    }

    void traceHeaderAndEncoding() {
        tTraceLog log;
        QVERIFY(log.Open(QStringLiteral("plain.log"), QStringLiteral("INICIAÇÃO DO LOG X")));
        log.Line(QStringLiteral("Ação"));
        log.Close();
        QFile f(QStringLiteral("plain.log"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        static const QRegularExpression header(QStringLiteral(
            "^ >>>>>>>>> INICIA\\x{C7}\\x{C3}O DO LOG X - Data: \\d\\d/\\d\\d/\\d{4} "
            "Hora:\\d\\d:\\d\\d:\\d\\d <<<<<<<< \\r\\nA\\x{E7}\\x{E3}o\\r\\n$"));
        QVERIFY2(header.match(QString::fromLatin1(bytes)).hasMatch(), bytes.constData());
    }

    // A log that cannot be written says so once, closes, and ignores the rest.
    void traceFailureReportedOnce_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("opens");
        QTest::newRow("disk full") << "/dev/full" << false;
        QTest::newRow("no such folder") << "missing/x.log" << false;
    }
    void traceFailureReportedOnce() {
        QFETCH(QString, target);
        QFETCH(bool, opens);
        QFile::remove(QStringLiteral("broken.log"));
        QVERIFY(QFile::link(target, QStringLiteral("broken.log")));
        tTraceLog log;
        QStringList reports;
        log.OnError = [&reports](const QString &why) { reports << why; };
        QCOMPARE(log.Open(QStringLiteral("broken.log"), QStringLiteral("T")), opens);
        log.Line(QStringLiteral("more"));
        log.Line(QStringLiteral("and more"));
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].contains(QStringLiteral("broken.log")));
        QVERIFY(!log.IsOpen());
    }

    // The disk fills in the middle of a transaction: the answer still counts,
    // tracing stops, and the master says so once.
    void traceFailsMidTransaction() {
        tScriptedLine port;
        int reports = 0;
        port.master.OnTraceError = [&reports](const QString &) { ++reports; };
        port.master.SetSaveLog(true);
        const auto size = QFileInfo(QStringLiteral("modbus.log")).size();

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit tight = old;
        tight.rlim_cur = rlim_t(size + 200);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        port.answer = hexFrame(goodRead);
        uint16_t regs[7] = {};
        const int32_t r = port.master.Read_Registers(201, 0, regs, 7);
        const int32_t again = port.master.Read_Registers(201, 0, regs, 7);
        setrlimit(RLIMIT_FSIZE, &old);

        QCOMPARE(r, 7);
        QCOMPARE(again, 7);
        QCOMPARE(reports, 1);
        QVERIFY(QFileInfo(QStringLiteral("modbus.log")).size() <= size + 200);
    }
};

QTEST_GUILESS_MAIN(tst_ModbusMaster)
#include "tst_modbus_master.moc"
