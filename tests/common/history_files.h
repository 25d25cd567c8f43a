#pragma once

// History files as faults and other programs leave them, for the tests of
// the store and of the commands that read it.

#include "history_store.h"
#include "u_ondrel.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace historyfiles {
constexpr int64_t minute = 60'000;
constexpr int64_t dayStart = 1'780'000'000'000; // a whole minute, in 2026

// A day of readings with one leaf page of the readings' b-tree in the middle
// overwritten, as a disk fault leaves it: a walk of the readings begins
// well and breaks off there.
inline void Damaged(const QString &path) {
    {
        tHistoryStore store;
        QVERIFY(store.Open(path));
        const int64_t ctl = store.ControllerId(
            {0, QStringLiteral("/dev/ttyUSB0"), 201, QStringLiteral("qx4r"), {}});
        QVERIFY(store.Begin());
        for (int m = 0; m < 1440; ++m) {
            tHistReading r{.controller = ctl, .utcMs = dayStart + m * minute, .result = 22};
            r.state = {stsTEMP_OK, stsTEMP_OK, stsTEMP_ERRMAX, stsTEMP_ERRMAX};
            r.value = {m % 100, 40, 0, 0};
            r.relay = {m % 7 < 3, 0, -1, -1};
            QVERIFY(store.AddReading(r));
        }
        QVERIFY(store.Commit());
    }
    qint64 root = 0;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(
            q.exec(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = 'reading'")));
        QVERIFY(q.next());
        root = q.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));
    // The root is an interior page: its cells point at the leaves in order.
    constexpr qint64 page = 4096;
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek((root - 1) * page));
    const QByteArray interior = f.read(page);
    const auto u16 = [&](int at) { return (uchar(interior[at]) << 8) | uchar(interior[at + 1]); };
    QCOMPARE(int(uchar(interior[0])), 0x02); // an index b-tree's interior page
    const int cells = u16(3);
    QVERIFY(cells > 4);
    const int cell = u16(12 + 2 * (cells / 2));
    const qint64 leaf = qint64(uchar(interior[cell])) << 24 |
                        qint64(uchar(interior[cell + 1])) << 16 |
                        qint64(uchar(interior[cell + 2])) << 8 | qint64(uchar(interior[cell + 3]));
    QVERIFY(f.seek((leaf - 1) * page));
    f.write(QByteArray(page, '\x5a'));
}

// Another program's database, in its own journal mode.
inline void Foreign(const QString &path) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE clientes(id INTEGER PRIMARY KEY, nome TEXT)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO clientes VALUES(1, 'Ana')")));
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = 3")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
}

inline QByteArray Bytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace historyfiles
