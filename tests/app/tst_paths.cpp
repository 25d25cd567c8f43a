// Where the settings file and the logs go: beside a portable copy, in the
// user's folders for an installed one, and the logs in the folder chosen.
#include "app_fixture.h"
#include "app_paths.h"
#include "app_settings.h"

class tst_paths : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void choice_data();
    void choice();
    void logsGoToTheLogFolder();
};

void tst_paths::choice_data() {
    QTest::addColumn<QString>("exeDir");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QString>("installBinDir");
    QTest::addColumn<QString>("settingsFile");
    QTest::addColumn<QString>("logFolder");
    const QString user = QStringLiteral("/home/u/.config/tarvik/tarvik.ini");
    const QString userLogs = QStringLiteral("/home/u/.local/share/tarvik");
    // A writable folder keeps everything as a copy run from anywhere always
    // had it: the settings beside it, the logs in the current directory.
    QTest::newRow("portable copy") << "/media/pen/tarvik" << true << "/usr/bin"
                                   << "/media/pen/tarvik/tarvik.ini" << QString();
    QTest::newRow("build tree, no install folder")
        << "/src/build/app" << true << QString() << "/src/build/app/tarvik.ini" << QString();
    QTest::newRow("read-only folder") << "/usr/bin" << false << "/usr/bin" << user << userLogs;
    QTest::newRow("read-only elsewhere") << "/opt/t/bin" << false << "/usr/bin" << user << userLogs;
    // Root may write the package's folder; its files must not land there.
    QTest::newRow("package folder, root") << "/usr/bin" << true << "/usr/bin" << user << userLogs;
    QTest::newRow("package folder spelt with a slash")
        << "/usr/bin" << true << "/usr/bin/" << user << userLogs;
}

void tst_paths::choice() {
    QFETCH(QString, exeDir);
    QFETCH(bool, writable);
    QFETCH(QString, installBinDir);
    tAppPlace place;
    place.exeDir = exeDir;
    place.baseName = QStringLiteral("tarvik");
    place.exeDirWritable = writable;
    place.installBinDir = installBinDir;
    place.userConfigHome = QStringLiteral("/home/u/.config");
    place.userDataHome = QStringLiteral("/home/u/.local/share");
    const tAppPaths paths = ChooseAppPaths(place);
    QTEST(paths.settingsFile, "settingsFile");
    QTEST(paths.logFolder, "logFolder");
}

// The event log and both traces are created in the log folder, none in the
// current directory.
void tst_paths::logsGoToTheLogFolder() {
    App app;
    app.logFolder = app.Path(QStringLiteral("logs"));
    QVERIFY(QDir().mkpath(app.logFolder));
    app.WriteIni("[SYSTEM]\nSAVE_LOG=1\n[MODBUS]\nSAVE_LOG=1\n");
    app.Start();
    app.Stop();
    const QStringList logs{AppBaseName() + QStringLiteral(".log"), QStringLiteral("commands.log"),
                           QStringLiteral("modbus.log")};
    QStringList expected = logs;
    expected.sort();
    QCOMPARE(QDir(app.logFolder).entryList({"*.log"}, QDir::Files, QDir::Name), expected);
    QCOMPARE(QDir(app.Path(".")).entryList({"*.log"}, QDir::Files), QStringList());
    QVERIFY(app.ReadFile(QStringLiteral("logs/modbus.log")).startsWith(" >>>>>>>>> INICIA"));
}

QTEST_MAIN(tst_paths)
#include "tst_paths.moc"
