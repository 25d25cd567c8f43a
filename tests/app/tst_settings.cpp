// Start-up and exit: the settings file, its fallbacks, the event log file
// and the port chosen on the command line.
#include "app_fixture.h"
#include "app_settings.h"
#include "ini_file.h"
#include "show_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

class tst_settings : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void firstStartUsesDefaultsAndWritesEveryKey();
    void storedValuesFallBack_data();
    void storedValuesFallBack();
    void handEditedFileKeepsItsOtherLines();
    void eventLogFileIsCreatedAnewEachStart();
    void eventLogThatCannotBeCreatedIsReported();
    void portOptionOverridesStoredPosition();
    void styleAppliesToBothWindowsAndIsRemembered();
    void fastReadChoiceReachesTheDriver();
    void recordingBoxesAreKept();
};

void tst_settings::firstStartUsesDefaultsAndWritesEveryKey() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    TfrmMain &w = app.Start();
    QCOMPARE(app.Find<QSpinBox>(QStringLiteral("edtID"))->value(), 201);
    QCOMPARE(app.Find<QSpinBox>(QStringLiteral("spiBaud"))->value(), 7);
    QCOMPARE(app.Find<QSpinBox>(QStringLiteral("spiTimeout"))->value(), 3);
    QCOMPARE(app.Find<QSpinBox>(QStringLiteral("edtLogMax"))->value(), 20);
    QCOMPARE(app.Find<QComboBox>(QStringLiteral("cbxPort"))->currentIndex(), 0);
    QCOMPARE(w.Ondrel().BaudRate(), 7);
    QCOMPARE(w.Ondrel().Timeout(), 3);
    QCOMPARE(w.StyleForm, styleTRANSP);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(app.Find<QComboBox>(QStringLiteral("cbxStyle"))->currentText(), "Transparente");
    QVERIFY(!w.styleSheet().isEmpty());
    QVERIFY(!w.Ondrel().FastRead());
    app.Stop();

    QCOMPARE(app.ReadFile(QStringLiteral("tarvik.ini")),
             QByteArray("[SYSTEM]\r\nSAVE_LOG=0\r\nSTYLE=1\r\nLOG_MAX_READ=20\r\n"
                        "[MODBUS]\r\nSAVE_LOG=0\r\nPORT=0\r\nBAUDRATE=7\r\nADDRESS=201\r\n"
                        "TIMEOUT=3\r\nFAST_READ=0\r\n"
                        "[HISTORY]\r\nRECORD_INTERVAL=60\r\nKEEP_DAYS=0\r\n"));
    QCOMPARE(QDir(app.Path(".")).entryList({"*.log"}, QDir::Files), QStringList());
}

void tst_settings::storedValuesFallBack_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("written");
    // Values that are kept, then values that are not numbers or are out of
    // the range their control accepts, which take the default.
    QTest::newRow("timeout 10") << QByteArray("[MODBUS]\nTIMEOUT=10") << "MODBUS"
                                << "TIMEOUT"
                                << "10";
    QTest::newRow("speed 3") << QByteArray("[modbus]\r\nbaudrate = 3\r\n") << "MODBUS"
                             << "BAUDRATE"
                             << "3";
    QTest::newRow("address 0") << QByteArray("[MODBUS]\nADDRESS=0") << "MODBUS"
                               << "ADDRESS"
                               << "0";
    QTest::newRow("log max 1000") << QByteArray("[SYSTEM]\nLOG_MAX_READ=1000") << "SYSTEM"
                                  << "LOG_MAX_READ"
                                  << "1000";
    QTest::newRow("style 2") << QByteArray("[SYSTEM]\nSTYLE=2") << "SYSTEM"
                             << "STYLE"
                             << "2";
    QTest::newRow("trace on as 7") << QByteArray("[MODBUS]\nSAVE_LOG=7") << "MODBUS"
                                   << "SAVE_LOG"
                                   << "1";
    QTest::newRow("timeout 0") << QByteArray("[MODBUS]\nTIMEOUT=0") << "MODBUS"
                               << "TIMEOUT"
                               << "3";
    QTest::newRow("timeout 11") << QByteArray("[MODBUS]\nTIMEOUT=11") << "MODBUS"
                                << "TIMEOUT"
                                << "3";
    QTest::newRow("timeout text") << QByteArray("[MODBUS]\nTIMEOUT=abc") << "MODBUS"
                                  << "TIMEOUT"
                                  << "3";
    QTest::newRow("speed 0") << QByteArray("[MODBUS]\nBAUDRATE=0") << "MODBUS"
                             << "BAUDRATE"
                             << "7";
    QTest::newRow("speed 9") << QByteArray("[MODBUS]\nBAUDRATE=9") << "MODBUS"
                             << "BAUDRATE"
                             << "7";
    QTest::newRow("address 10000") << QByteArray("[MODBUS]\nADDRESS=10000") << "MODBUS"
                                   << "ADDRESS"
                                   << "201";
    QTest::newRow("address empty") << QByteArray("[MODBUS]\nADDRESS=") << "MODBUS"
                                   << "ADDRESS"
                                   << "201";
    QTest::newRow("log max -1") << QByteArray("[SYSTEM]\nLOG_MAX_READ=-1") << "SYSTEM"
                                << "LOG_MAX_READ"
                                << "20";
    QTest::newRow("style 3") << QByteArray("[SYSTEM]\nSTYLE=3") << "SYSTEM"
                             << "STYLE"
                             << "1";
    QTest::newRow("port beyond list") << QByteArray("[MODBUS]\nPORT=99") << "MODBUS"
                                      << "PORT"
                                      << "0";
    QTest::newRow("log on as yes") << QByteArray("[SYSTEM]\nSAVE_LOG=yes") << "SYSTEM"
                                   << "SAVE_LOG"
                                   << "0";
    QTest::newRow("fast read on") << QByteArray("[MODBUS]\nFAST_READ=1") << "MODBUS"
                                  << "FAST_READ"
                                  << "1";
    QTest::newRow("record interval 5") << QByteArray("[HISTORY]\nRECORD_INTERVAL=5") << "HISTORY"
                                       << "RECORD_INTERVAL"
                                       << "5";
    QTest::newRow("record interval 0") << QByteArray("[HISTORY]\nRECORD_INTERVAL=0") << "HISTORY"
                                       << "RECORD_INTERVAL"
                                       << "60";
    QTest::newRow("record interval over a day")
        << QByteArray("[HISTORY]\nRECORD_INTERVAL=86401") << "HISTORY"
        << "RECORD_INTERVAL"
        << "60";
    QTest::newRow("keep 365 days") << QByteArray("[HISTORY]\nKEEP_DAYS=365") << "HISTORY"
                                   << "KEEP_DAYS"
                                   << "365";
    QTest::newRow("keep -1 days") << QByteArray("[HISTORY]\nKEEP_DAYS=-1") << "HISTORY"
                                  << "KEEP_DAYS"
                                  << "0";
    QTest::newRow("key in other section") << QByteArray("[SYSTEM]\nTIMEOUT=9") << "MODBUS"
                                          << "TIMEOUT"
                                          << "3";
    QTest::newRow("binary garbage") << QByteArray("\xff\xfe[\0\0=\x01", 8) << "MODBUS"
                                    << "ADDRESS"
                                    << "201";
}

void tst_settings::storedValuesFallBack() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, written);
    Sim sim;
    QVERIFY(sim.started);
    App app;
    app.WriteIni(stored);
    TfrmMain &w = app.Start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    app.Stop();
    QCOMPARE(tIniFile(app.IniPath()).ReadString(section, key, QStringLiteral("missing")), written);
}

void tst_settings::handEditedFileKeepsItsOtherLines() {
    App app;
    app.WriteIni(
        "; notes of the site\r\n[MODBUS]\r\nADDRESS=17\r\nEXTRA=x\r\n\r\n[OTHER]\r\nA=1\r\n");
    app.Start();
    app.Stop();
    const QString text = QString::fromLatin1(app.ReadFile(QStringLiteral("tarvik.ini")));
    QVERIFY2(text.startsWith("; notes of the site\r\n[MODBUS]\r\nADDRESS=17\r\nEXTRA=x\r\n"),
             qPrintable(text));
    QVERIFY(text.contains("[OTHER]\r\nA=1\r\n"));
    QVERIFY(text.contains("[SYSTEM]\r\nSAVE_LOG=0\r\nSTYLE=1\r\nLOG_MAX_READ=20\r\n"));
    QCOMPARE(text.count("ADDRESS="), 1);
}

void tst_settings::eventLogFileIsCreatedAnewEachStart() {
    Sim sim;
    QVERIFY(sim.started);
    App app;
    app.WriteIni("[SYSTEM]\nSAVE_LOG=1\n");
    const QString logName = AppBaseName() + QStringLiteral(".log");
    for (int run = 0; run < 2; ++run) {
        app.Start(sim.Port());
        if (run == 0)
            app.Click(QStringLiteral("btnCnt"));
        app.Stop();
        const QByteArray log = app.ReadFile(logName);
        QVERIFY2(log.startsWith(" >>>>>>>>> INICIA\xc7\xc3O DO SISTEMA - Data: "), log.constData());
        QVERIFY(log.contains(" Hora:"));
        // The second start truncated the lines of the first session.
        QCOMPARE(log.contains("ABRINDO CONEX\xc3O\r\n  Conectando ao Ondrel id 201 porta "),
                 run == 0);
    }
    QVERIFY(app.ReadFile(QStringLiteral("tarvik.ini")).contains("[SYSTEM]\r\nSAVE_LOG=1\r\n"));
}

void tst_settings::eventLogThatCannotBeCreatedIsReported() {
    App app;
    app.WriteIni("[SYSTEM]\nSAVE_LOG=1\n");
    // A folder where the log file should go makes its creation fail.
    QVERIFY(QDir(app.Path(".")).mkdir(AppBaseName() + QStringLiteral(".log")));
    app.Start();
    QVERIFY(app.MemoLines().filter("Não foi possível criar o arquivo de LOG").size() == 1);
    app.Stop();
    QVERIFY(app.ReadFile(QStringLiteral("tarvik.ini")).contains("[SYSTEM]\r\nSAVE_LOG=1\r\n"));
}

void tst_settings::portOptionOverridesStoredPosition() {
    Sim first;
    Sim second;
    QVERIFY(first.started && second.started);
    qputenv("TARVIK_PORTS", (first.Port() + ":" + second.Port()).toLocal8Bit());
    App app;
    app.Start(second.Port());
    auto *ports = app.Find<QComboBox>(QStringLiteral("cbxPort"));
    QCOMPARE(ports->currentText(), second.Port());
    const int index = ports->currentIndex();
    app.Stop();
    QVERIFY(app.ReadFile(QStringLiteral("tarvik.ini"))
                .contains(QByteArray("PORT=") + QByteArray::number(index)));

    app.Start(QStringLiteral("/dev/no-such-port"));
    QCOMPARE(app.Find<QComboBox>(QStringLiteral("cbxPort"))->currentIndex(), index);
    QVERIFY(app.MemoLines().contains("Porta /dev/no-such-port não encontrada"));
}

void tst_settings::styleAppliesToBothWindowsAndIsRemembered() {
    App app;
    TfrmMain &w = app.Start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *styles = app.Find<QComboBox>(QStringLiteral("cbxStyle"));
    const QString transparente = w.styleSheet();
    styles->setCurrentIndex(styleJET);
    const QString jet = w.styleSheet();
    QVERIFY(!jet.isEmpty() && jet != transparente);
    QCOMPARE(w.frmShow()->styleSheet(), jet);
    styles->setCurrentIndex(styleWINDOWS);
    QVERIFY(w.styleSheet().isEmpty() && w.frmShow()->styleSheet().isEmpty());
    styles->setCurrentIndex(styleJET);
    app.Stop();

    TfrmMain &again = app.Start();
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.StyleForm, styleJET);
    QCOMPARE(again.styleSheet(), jet);
    QCOMPARE(again.frmShow()->styleSheet(), jet);
}

// The fast-read box starts from the file, drives the master at once and is
// written back.
void tst_settings::fastReadChoiceReachesTheDriver() {
    App app;
    app.WriteIni("[MODBUS]\nFAST_READ=1\n");
    TfrmMain &w = app.Start();
    auto *box = app.Find<QCheckBox>(QStringLiteral("cbxFastRead"));
    QVERIFY(box->isChecked());
    QVERIFY(w.Ondrel().FastRead());
    box->click();
    QVERIFY(!w.Ondrel().FastRead());
    app.Stop();
    QCOMPARE(tIniFile(app.IniPath()).ReadString("MODBUS", "FAST_READ", "missing"), "0");
}

// The Histórico page's recording boxes start from the file and are written
// back.
void tst_settings::recordingBoxesAreKept() {
    App app;
    app.WriteIni("[HISTORY]\nRECORD_INTERVAL=5\nKEEP_DAYS=30\n");
    app.Start();
    auto *interval = app.Find<QSpinBox>(QStringLiteral("edtRecInterval"));
    auto *keep = app.Find<QSpinBox>(QStringLiteral("edtHistKeep"));
    QCOMPARE(interval->value(), 5);
    QCOMPARE(keep->value(), 30);
    interval->setValue(120);
    keep->setValue(0);
    QCOMPARE(keep->text(), QStringLiteral("sempre"));
    app.Stop();
    const tIniFile ini(app.IniPath());
    QCOMPARE(ini.ReadString("HISTORY", "RECORD_INTERVAL", "missing"), "120");
    QCOMPARE(ini.ReadString("HISTORY", "KEEP_DAYS", "missing"), "0");
}

QTEST_MAIN(tst_settings)
#include "tst_settings.moc"
