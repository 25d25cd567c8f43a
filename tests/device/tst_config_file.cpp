#include "device_fields.h"
#include "file_size_limit.h"
#include "u_ondrel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

namespace {

// Distinct values in every stored field, negatives and wide values included.
void fillConfiguration(tOndrel &dev, const QString &model) {
    dev.Model = model;
    for (int i = 0; i < 17; ++i)
        dev.System[i] = 100 + i;
    dev.System[13] = -1;
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 20; ++k)
            dev.Relay[r].par[k] = 1000 * (r + 1) + k;
    dev.Relay[2].par[3] = -580;
    dev.Relay[3].par[19] = 0x7FFF1234;
}

QByteArray readAll(const QString &name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &name, const QByteArray &bytes) {
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

int32_t record(const QByteArray &bytes, int i) {
    return qFromLittleEndian<int32_t>(bytes.constData() + 4 * i);
}

// Loads `file` into a device holding other values: refused for `want`, with
// a text for the user, and no field touched.
void expectRefused(const QString &file, const QString &model, tConfigError want, QString *error) {
    tOndrel dev;
    fields::scramble(dev);
    dev.Model = model;
    const QStringList before = fields::snapshot(dev);
    tConfigError why = tConfigError::None;
    QVERIFY(!dev.LoadConfig(file, error, &why));
    QCOMPARE(why, want);
    QVERIFY(!error->isEmpty());
    QCOMPARE(fields::changed(before, fields::snapshot(dev)).join("; "), QString());
}

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init() { QVERIFY(dir.isValid()); }
    void savedBytesFollowTheRecordLayout();
    void saveAndLoadRestoreEveryStoredField();
    void loadChecksOnlyTheModelsLowBytes_data();
    void loadChecksOnlyTheModelsLowBytes();
    void filesOfTheWrongSizeChangeNothing_data();
    void filesOfTheWrongSizeChangeNothing();
    void failedSaveKeepsTheEarlierFile_data();
    void failedSaveKeepsTheEarlierFile();

  private:
    QString path(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

void TestConfigFile::savedBytesFollowTheRecordLayout() {
    tOndrel dev;
    fillConfiguration(dev, "qx4r");
    QString error;
    QVERIFY(dev.SaveConfig(path("a.cfg"), &error));
    QVERIFY(error.isEmpty());

    const QByteArray bytes = readAll(path("a.cfg"));
    QCOMPARE(bytes.size(), 404);
    QCOMPARE(bytes.first(16).toHex(' '), "71 00 00 00 78 00 00 00 34 00 00 00 72 00 00 00");
    QCOMPARE(bytes.mid(68, 4).toHex(' '), "ff ff ff ff"); // System[13] = -1
    for (int i = 0; i < 17; ++i)
        QCOMPARE(record(bytes, 4 + i), dev.System[i]);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 20; ++k)
            QCOMPARE(record(bytes, 21 + 20 * r + k), dev.Relay[r].par[k]);
}

void TestConfigFile::saveAndLoadRestoreEveryStoredField() {
    tOndrel saved;
    fillConfiguration(saved, "qx2n");
    QVERIFY(saved.SaveConfig(path("b.cfg")));

    QString error;
    expectRefused(path("b.cfg"), "qx2r", tConfigError::WrongModel, &error);
    QCOMPARE(error, QString::fromUtf8("Arquivo de configuração inválido.\rCheque se o arquivo "
                                      "pertence a esse modelo de Ondrel."));

    tOndrel same;
    fields::scramble(same);
    same.Model = "qx2n";
    const QStringList unstored = fields::snapshot(same);
    tConfigError why = tConfigError::Unreadable;
    QVERIFY(same.LoadConfig(path("b.cfg"), &error, &why));
    QCOMPARE(why, tConfigError::None);
    QCOMPARE(same.System, saved.System);
    QCOMPARE(same.System[13], -1);
    for (int r = 0; r < 4; ++r)
        QCOMPARE(same.Relay[r].par, saved.Relay[r].par);
    // Only System and the relay parameters come from the file, and the copy
    // now holds the system block, the unit and the four relay blocks.
    for (const QString &line : fields::changed(unstored, fields::snapshot(same)))
        QVERIFY2(line.startsWith("System[") || line.contains("].par[") || line.startsWith("Known="),
                 qPrintable(line));
    QVERIFY(same.IsKnown(knownSYSTEM | knownUNIT | knownOPS | knownRelay(0) | knownRelay(1) |
                         knownRelay(2) | knownRelay(3)));
}

void TestConfigFile::loadChecksOnlyTheModelsLowBytes_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("firstRecord");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("high byte ignored") << "qx4r" << 0x00000171 << true;
    QTest::newRow("upper bytes ignored") << "qx4r" << int(0xABCD0071) << true;
    QTest::newRow("other first letter") << "qx4r" << 0x00000051 << false;
    QTest::newRow("model's high byte ignored") << QString(QChar(0x0171)) + "x4r" << 0x71 << true;
}

void TestConfigFile::loadChecksOnlyTheModelsLowBytes() {
    QFETCH(QString, model);
    QFETCH(int, firstRecord);
    QFETCH(bool, accepted);
    tOndrel src;
    fillConfiguration(src, "qx4r");
    QVERIFY(src.SaveConfig(path("c.cfg")));
    QByteArray bytes = readAll(path("c.cfg"));
    qToLittleEndian<int32_t>(firstRecord, bytes.data());
    writeAll(path("c.cfg"), bytes);

    tOndrel dev;
    dev.Model = model;
    QCOMPARE(dev.LoadConfig(path("c.cfg")), accepted);
    QCOMPARE(dev.System[13], accepted ? -1 : 0);
}

void TestConfigFile::filesOfTheWrongSizeChangeNothing_data() {
    QTest::addColumn<int>("size"); // -1: no file at all, -2: a folder of that name
    QTest::addColumn<tConfigError>("why");
    for (int size : {0, 1, 403, 405, 808})
        QTest::addRow("%d bytes", size) << size << tConfigError::WrongSize;
    QTest::newRow("missing") << -1 << tConfigError::Unreadable;
    QTest::newRow("folder") << -2 << tConfigError::Unreadable;
}

void TestConfigFile::filesOfTheWrongSizeChangeNothing() {
    QFETCH(int, size);
    QFETCH(tConfigError, why);
    tOndrel src;
    fillConfiguration(src, "qx4r");
    QVERIFY(src.SaveConfig(path("d.cfg")));
    const QByteArray good = readAll(path("d.cfg"));
    const QString name = path(QTest::currentDataTag());
    if (size >= 0)
        writeAll(name, (good + good).left(size));
    if (size == -2)
        QVERIFY(QDir().mkdir(name));
    QString error;
    expectRefused(name, "qx4r", why, &error);
}

void TestConfigFile::failedSaveKeepsTheEarlierFile_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QString>("reason"); // part of the message after the first line
    QTest::newRow("folder missing") << "missing/f.cfg" << false << "";
    QTest::newRow("folder is a file") << "plain.txt/f.cfg" << false << "";
    QTest::newRow("disk full") << "f.cfg" << true << "";
    QTest::newRow("a folder") << "dir" << false << "é uma pasta";
    QTest::newRow("a pipe") << "fifo" << false << "é um pipe (FIFO)";
    QTest::newRow("a device") << "/dev/null" << false << "/dev/null não é um arquivo comum";
}

// Whatever stops the save, the message says why after its first line, and
// nothing that was there before is replaced or changed in kind.
void TestConfigFile::failedSaveKeepsTheEarlierFile() {
    QFETCH(QString, target);
    QFETCH(bool, diskFull);
    QFETCH(QString, reason);
    writeAll(path("plain.txt"), "not a folder");
    const QByteArray earlier = QByteArray(404, '\x5A');
    writeAll(path("f.cfg"), earlier);
    QVERIFY(QDir().mkpath(path("dir")));
    if (!QFileInfo::exists(path("fifo")))
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    const QString name = target.startsWith(u'/') ? target : path(target);

    tOndrel dev;
    fillConfiguration(dev, "qx4r");
    QString error;
    tConfigError why = tConfigError::None;
    bool saved = true;
    if (diskFull) {
        FileSizeLimit limit(100);
        QVERIFY(limit.ok);
        saved = dev.SaveConfig(name, &error, &why);
    } else {
        saved = dev.SaveConfig(name, &error, &why);
    }
    QVERIFY(!saved);
    QCOMPARE(why, tConfigError::Unwritable);
    const QStringList lines = error.split(u'\r');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], "Não foi possível salvar o arquivo de configuração.");
    QVERIFY2(!lines[1].isEmpty() && lines[1].contains(reason), qPrintable(lines[1]));
    QCOMPARE(readAll(path("f.cfg")), earlier);
    QCOMPARE(readAll(path("plain.txt")), "not a folder");
    QVERIFY(QFileInfo(path("dir")).isDir());
    QVERIFY(!QFileInfo(path("fifo")).isFile() && QFileInfo::exists(path("fifo")));
    QVERIFY(!QFileInfo("/dev/null").isFile());
    QVERIFY(!QFile::exists(name) || !QFileInfo(name).isFile() || target == "f.cfg");
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_config_file.moc"
