// Readings waiting for the broker in the history file: the message a stored
// reading gives, what a restarted publisher finds, a backlog longer than the
// memory window, a file that refuses, and retention.
#include "publisher.h"
#include "status_readings.h"
#include "store_buffer.h"
#include "topics.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {

const QString port = QStringLiteral("/dev/ttyUSB0");
const QString broker = QStringLiteral("mqtt://127.0.0.1:1883");
const QString prefix = QStringLiteral("loja7");

tStatusReading qx4r(int second, const QTimeZone &zone = QTimeZone(-10800)) {
    return Qx4rReading(
        port, QDateTime(QDate(2024, 5, 1), QTime(12, second / 60, second % 60, 417), zone));
}

struct tOpened {
    std::shared_ptr<tPublishStore> store;
    std::unique_ptr<tStoreBuffer> buffer;
};

// A publisher's start: the file opened, the buffer of address 201.
tOpened open(const QString &path, const QString &to = broker) {
    QString error;
    tOpened o;
    o.store = tPublishStore::Open(path, error);
    if (!o.store)
        qWarning() << error;
    else
        o.buffer = tStoreBuffer::Make(o.store, to, prefix, port, 201, error);
    if (!o.buffer)
        qWarning() << error;
    return o;
}

QList<QByteArray> messages(const std::vector<tPending> &pending) {
    QList<QByteArray> out;
    for (const tPending &p : pending)
        out << StatePayload(p.reading);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(tStatusReading)

class TestStoreBuffer : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void storedReadingGivesTheLiveMessage_data();
    void storedReadingGivesTheLiveMessage();
    void restartFindsWhatTheBrokerDidNotAcknowledge();
    void backlogLongerThanTheWindowComesBackInOrder_data();
    void backlogLongerThanTheWindowComesBackInOrder();
    void fileThatRefusesTakesTheReadingsLater_data();
    void fileThatRefusesTakesTheReadingsLater();
    void retentionSaysWhatItRemovedUnpublished();

  private:
    std::unique_ptr<QTemporaryDir> dir;
    QString path() const { return dir->filePath(QStringLiteral("historico.sqlite")); }
};

void TestStoreBuffer::init() {
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestStoreBuffer::storedReadingGivesTheLiveMessage_data() {
    QTest::addColumn<tStatusReading>("reading");
    QTest::newRow("qx4r, every sensor state, relays with operations") << qx4r(3);
    tStatusReading f = qx4r(4, QTimeZone(19800)); // +05:30
    f.model = QStringLiteral("qx2n");
    f.unit = tempFAHRENHEIT;
    f.sensors = f.relays = 2;
    f.state = {1, 1, -1, -1};
    f.value = {392, 1004, 0, 0};
    f.min = {380, 990, 0, 0};
    f.max = {411, 1100, 0, 0};
    f.relay = {0, 1, -1, -1};
    f.operation = {2, 5, -1, -1};
    QTest::newRow("qx2n in Fahrenheit, half-hour offset") << f;
    tStatusReading failed = qx4r(5);
    failed.result = -110;
    failed.sensors = failed.relays = 0;
    QTest::newRow("failed reading of a known controller") << failed;
    failed.model.clear();
    failed.firmware.clear();
    failed.SetAt(QDateTime(QDate(2024, 11, 3), QTime(1, 30), QTimeZone("America/New_York")));
    QTest::newRow("never identified, in a named zone") << failed;
}

// The message of a reading read back from the file by a publisher started
// again is the message it would have had at once.
void TestStoreBuffer::storedReadingGivesTheLiveMessage() {
    QFETCH(tStatusReading, reading);
    {
        tOpened first = open(path());
        QVERIFY(first.buffer);
        first.buffer->append(reading);
    }
    tOpened again = open(path());
    QVERIFY(again.buffer);
    const std::vector<tPending> got = again.buffer->from(0, 10);
    QCOMPARE(got.size(), size_t(1));
    QCOMPARE(StatePayload(got[0].reading), StatePayload(reading));
}

void TestStoreBuffer::restartFindsWhatTheBrokerDidNotAcknowledge() {
    std::vector<uint64_t> seqs;
    {
        tOpened o = open(path());
        QVERIFY(o.buffer);
        QVERIFY(o.buffer->describe().contains(path()));
        for (int s = 0; s < 5; ++s)
            o.buffer->append(qx4r(s));
        for (const tPending &p : o.buffer->from(0, 10))
            seqs.push_back(p.seq);
        QCOMPARE(seqs.size(), size_t(5));
        o.buffer->acknowledge(seqs[1]);
        QCOMPARE(o.buffer->size(), size_t(3));
        QVERIFY(o.buffer->takeNotices().isEmpty());
        o.buffer->threadEnds();
    } // killed: nothing more reaches the file

    tOpened o = open(path());
    QVERIFY(o.buffer);
    QCOMPARE(o.buffer->size(), size_t(3));
    QVERIFY(o.buffer->takeNotices().join(u'\n').contains(QStringLiteral("3 leitura(s) de antes")));
    o.buffer->append(qx4r(5));
    o.buffer->append(qx4r(6));
    // The three left over first, then the new ones, each with its own time.
    QCOMPARE(messages(o.buffer->from(0, 10)),
             (QList<QByteArray>{StatePayload(qx4r(2)), StatePayload(qx4r(3)), StatePayload(qx4r(4)),
                                StatePayload(qx4r(5)), StatePayload(qx4r(6))}));
    // From the middle of the left-over ones (a reconnection resumes there).
    QCOMPARE(messages(o.buffer->from(seqs[3], 2)),
             (QList<QByteArray>{StatePayload(qx4r(3)), StatePayload(qx4r(4))}));

    // Another broker does not receive readings taken for this one.
    tOpened other = open(path(), QStringLiteral("mqtts://outro:8883"));
    QVERIFY(other.buffer);
    QCOMPARE(other.buffer->size(), size_t(0));

    // Every reading is in the history as a reading of its controller.
    tHistoryStore &file = o.store->Writer();
    const std::vector<tHistController> controllers = file.Controllers();
    QCOMPARE(controllers.size(), size_t(1));
    QCOMPARE(controllers[0].model, QStringLiteral("qx4r"));
    const std::vector<tStatusReading> stored =
        file.Readings(controllers[0].id, 0, std::numeric_limits<int64_t>::max());
    QCOMPARE(stored.size(), size_t(7));
    QCOMPARE(stored[2].value[0], 235);
    QCOMPARE(stored[2].roundTripMs, 12);

    const std::vector<tPending> all = o.buffer->from(0, 10);
    o.buffer->acknowledge(all.back().seq);
    QCOMPARE(o.buffer->size(), size_t(0));
    o.buffer->threadEnds();
    other.buffer->threadEnds();
    QCOMPARE(open(path()).buffer->size(), size_t(0));
}

void TestStoreBuffer::backlogLongerThanTheWindowComesBackInOrder_data() {
    QTest::addColumn<int>("refusedAt"); // -1: the file takes every reading
    QTest::newRow("every reading in the file") << -1;
    QTest::newRow("two refused after the window filled") << int(tStoreBuffer::windowReadings) + 40;
}

// A long outage: the oldest readings leave memory but not the file, and come
// back in order, none twice, none missing, as the publisher drains them,
// also around readings the file refused for a while.
void TestStoreBuffer::backlogLongerThanTheWindowComesBackInOrder() {
    QFETCH(int, refusedAt);
    tOpened o = open(path());
    QVERIFY(o.buffer);
    const int count = 2 * int(tStoreBuffer::windowReadings) + 100;
    for (int s = 0; s < count; ++s) {
        if (s == refusedAt)
            o.store->Writer().Close();
        if (s == refusedAt + 2)
            QVERIFY(o.store->Writer().Open(path()));
        o.buffer->append(qx4r(s));
    }
    QCOMPARE(o.buffer->size(), size_t(count));
    QCOMPARE(o.buffer->kept(), size_t(count)); // those refused went in later
    int next = 0;
    uint64_t seq = 0;
    while (o.buffer->size() > 0) {
        const std::vector<tPending> batch = o.buffer->from(seq, 20);
        QVERIFY(!batch.empty());
        for (const tPending &p : batch)
            QCOMPARE(StatePayload(p.reading), StatePayload(qx4r(next++)));
        seq = batch.back().seq + 1;
        o.buffer->acknowledge(batch.back().seq);
    }
    QCOMPARE(next, count);
    QCOMPARE(o.buffer->takeLost(), uint64_t(0));
    o.buffer->threadEnds();
    QCOMPARE(open(path()).buffer->size(), size_t(0));
}

void TestStoreBuffer::fileThatRefusesTakesTheReadingsLater_data() {
    QTest::addColumn<int>("ackedWhileRefused"); // readings the broker had before the file was back
    QTest::addColumn<QList<int>>("afterRestart"); // what a restarted publisher still sends
    QTest::newRow("the file back first") << 1 << QList<int>{2, 3};
    QTest::newRow("the broker first") << 3 << QList<int>{3};
}

// Readings the file refuses wait in memory, in their place among the others,
// are published from there, and go into the file, in their place, as soon as
// it takes a write again; none is sent twice after a restart.
void TestStoreBuffer::fileThatRefusesTakesTheReadingsLater() {
    QFETCH(int, ackedWhileRefused);
    QFETCH(QList<int>, afterRestart);
    tOpened o = open(path());
    QVERIFY(o.buffer);
    o.buffer->append(qx4r(0));
    o.store->Writer().Close(); // as a file gone bad under the publisher
    o.buffer->append(qx4r(1));
    o.buffer->append(qx4r(2));
    QString said = o.buffer->takeNotices().join(u'\n');
    QVERIFY2(said.contains(QStringLiteral("recusou")) && said.contains(QStringLiteral("memória")),
             qPrintable(said));
    QVERIFY(o.buffer->takeNotices().isEmpty()); // said once
    QCOMPARE(o.buffer->kept(), size_t(1));
    std::vector<tPending> all = o.buffer->from(0, 10);
    QCOMPARE(messages(all), (QList<QByteArray>{StatePayload(qx4r(0)), StatePayload(qx4r(1)),
                                               StatePayload(qx4r(2))}));
    if (ackedWhileRefused == 3)
        o.buffer->acknowledge(all[2].seq);
    QCOMPARE(o.buffer->storeWaiting(), size_t(2)); // the file still refuses
    QVERIFY(o.store->Writer().Open(path()));
    o.buffer->append(qx4r(3));
    said = o.buffer->takeNotices().join(u'\n');
    QVERIFY2(said.contains(QStringLiteral("volta a guardar")), qPrintable(said));
    QCOMPARE(o.buffer->storeWaiting(), size_t(0));
    QCOMPARE(o.buffer->kept(), size_t(4 - (ackedWhileRefused == 3 ? 3 : 0)));
    all = o.buffer->from(0, 10);
    QCOMPARE(int(all.size()), 4 - (ackedWhileRefused == 3 ? 3 : 0));
    if (ackedWhileRefused == 1)
        o.buffer->acknowledge(all[1].seq);
    o.buffer->threadEnds();

    // Every reading is in the history, in the order taken.
    tHistoryStore &file = o.store->Writer();
    QList<int64_t> stored;
    for (const tStatusReading &r :
         file.Readings(file.Controllers().at(0).id, 0, std::numeric_limits<int64_t>::max()))
        stored << r.utcMs;
    QList<int64_t> taken;
    for (int s = 0; s <= 3; ++s)
        taken << qx4r(s).utcMs;
    QCOMPARE(stored, taken);

    tOpened again = open(path());
    QVERIFY(again.buffer);
    QList<QByteArray> expected;
    for (int s : afterRestart)
        expected << StatePayload(qx4r(s));
    QCOMPARE(messages(again.buffer->from(0, 10)), expected);
    again.buffer->threadEnds();
}

// The retention limit (applied by the window or the recorder) counts the
// readings it removed before a broker had them, so that it can say so; a
// publisher waiting for them stops counting them.
void TestStoreBuffer::retentionSaysWhatItRemovedUnpublished() {
    {
        tOpened first = open(path());
        QVERIFY(first.buffer);
        for (int s = 0; s < 4; ++s)
            first.buffer->append(qx4r(s));
        first.buffer->acknowledge(first.buffer->from(0, 1)[0].seq);
        first.buffer->threadEnds();
    }
    tOpened o = open(path());
    QVERIFY(o.buffer);
    QCOMPARE(o.buffer->size(), size_t(3));
    tHistoryStore recorder;
    QVERIFY(recorder.Open(path()));
    // Recorded on to June (a reading a day), so the limit reaches May's.
    const int64_t controller = recorder.Controllers().at(0).id;
    for (int day = 2; day <= 31; ++day)
        QVERIFY(recorder.AddReading(
            controller,
            {.utcMs = QDateTime(QDate(2024, 5, day), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch(),
             .result = -2}));
    const int64_t now = QDateTime(QDate(2024, 6, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    int64_t unpublished = -1;
    // The four queued and the readings of 2 to 23 May.
    QCOMPARE(recorder.ApplyRetention(7, now, &unpublished), int64_t(4 + 22));
    QCOMPARE(unpublished, int64_t(3));
    QVERIFY(o.buffer->from(0, 10).empty());
    QCOMPARE(o.buffer->size(), size_t(0));
    o.buffer->threadEnds();
}

QTEST_GUILESS_MAIN(TestStoreBuffer)
#include "tst_store_buffer.moc"
