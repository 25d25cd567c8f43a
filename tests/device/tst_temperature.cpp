#include "temperature.h"
#include "u_ondrel.h"

#include <QTest>

class TestTemperature : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void convParRelayConverts_data();
    void convParRelayConverts();
    void celsiusCountsSurviveARoundTrip();
    void changeTypeTempConvertsOnlyTemperatureIndices();
    void celsiusBoundsFollowTheDeviceUnit_data();
    void celsiusBoundsFollowTheDeviceUnit();
    void boxValuesRoundToTenths_data();
    void boxValuesRoundToTenths();
    void logWordsAsText_data();
    void logWordsAsText();
    void countsAsTheStatusScreenWritesThem_data();
    void countsAsTheStatusScreenWritesThem();
};

void TestTemperature::convParRelayConverts_data() {
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("expected");
    const struct {
        int direction, count, expected;
    } rows[] = {
        {1, 250, 770},   {1, -500, -580}, {1, 1100, 2300}, {1, 0, 320},
        {1, 1, 322},     {1, 55, 419},    {1, -400, -400}, {0, 770, 250},
        {0, -580, -500}, {0, 2300, 1100}, {0, 320, 0},     {0, 322, 1},
        {0, 321, 1},     {0, 0, -178},    {2, 770, 250},   {-1, 322, 1},
    };
    for (const auto &r : rows)
        QTest::addRow("%s %d", r.direction == 1 ? "toF" : "toC", r.count)
            << r.direction << r.count << r.expected;
}

void TestTemperature::convParRelayConverts() {
    QFETCH(int, direction);
    QFETCH(int, count);
    QFETCH(int, expected);
    tOndrel dev;
    dev.Relay[2].par[5] = count;
    convParRelay(dev, 2, 5, direction);
    QCOMPARE(dev.Relay[2].par[5], expected);
}

void TestTemperature::celsiusCountsSurviveARoundTrip() {
    tOndrel dev;
    for (int t = -500; t <= 1100; ++t) {
        dev.Relay[0].par[1] = t;
        convParRelay(dev, 0, 1, 1);
        convParRelay(dev, 0, 1, 0);
        if (dev.Relay[0].par[1] != t)
            QFAIL(qPrintable(QString("%1 came back as %2").arg(t).arg(dev.Relay[0].par[1])));
    }
    // The reverse trip is not exact: 32.1 ºF lands on 0.1 ºC and then 32.2 ºF.
    dev.Relay[0].par[1] = 321;
    convParRelay(dev, 0, 1, 0);
    convParRelay(dev, 0, 1, 1);
    QCOMPARE(dev.Relay[0].par[1], 322);
}

void TestTemperature::changeTypeTempConvertsOnlyTemperatureIndices() {
    tOndrel dev;
    dev.nRelay = 1; // every relay record is converted, whatever the model
    for (auto &relay : dev.Relay)
        for (int k = 0; k < 20; ++k)
            relay.par[k] = k;

    ChangeTypeTemp(dev, 1);
    const int toF[] = {322, 324, 325, 327, 329, 331, 333};
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 20; ++k)
            QCOMPARE(dev.Relay[r].par[k], k >= 1 && k <= 7 ? toF[k - 1] : k);

    ChangeTypeTemp(dev, 0);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 20; ++k)
            QCOMPARE(dev.Relay[r].par[k], k);
}

void TestTemperature::celsiusBoundsFollowTheDeviceUnit_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("expected");
    const struct {
        int unit;
        double celsius, expected;
    } rows[] = {
        {1, -50, -58}, {1, 0, 32},    {1, 0.1, 32.18}, {1, 1, 33.8},  {1, 20, 68},
        {1, 50, 122},  {1, 110, 230}, {0, 110, 110},   {2, 110, 110}, {-1, -50, -50},
    };
    for (const auto &r : rows)
        QTest::addRow("unit %d, %g", r.unit, r.celsius) << r.unit << r.celsius << r.expected;
}

void TestTemperature::celsiusBoundsFollowTheDeviceUnit() {
    QFETCH(int, unit);
    QFETCH(double, celsius);
    QFETCH(double, expected);
    tOndrel dev;
    dev.System[6] = unit;
    QCOMPARE(convCelcius2Ondrel(dev, celsius), expected);
}

void TestTemperature::boxValuesRoundToTenths_data() {
    QTest::addColumn<double>("box");
    QTest::addColumn<int>("tenths");
    QTest::newRow("positive") << 25.0 << 250;
    QTest::newRow("negative") << -50.0 << -500;
    QTest::newRow("one tenth") << 0.1 << 1;
    QTest::newRow("sum with binary noise") << 0.1 + 0.2 << 3;
    QTest::newRow("just under a tenth") << -3.0999999999 << -31;
}

void TestTemperature::boxValuesRoundToTenths() {
    QFETCH(double, box);
    QFETCH(int, tenths);
    QCOMPARE(boxToTenths(box), tenths);
    QCOMPARE(boxToTenths(tenthsToBox(tenths)), tenths);
}

void TestTemperature::logWordsAsText_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("text");
    const struct {
        int word;
        const char *comma, *point;
    } rows[] = {
        {0x907D, "-12,5 ºF", "-12.5 ºF"},
        {0x0000, "0,0 ºC", "0.0 ºC"},
        {0x0FFF, "409,5 ºC", "409.5 ºC"},
        {0x8001, "-0,1 ºC", "-0.1 ºC"},
        {0x6000, "Inicializando", "Inicializando"},
        {0x7000, "Inicializando", "Inicializando"},
        {0x4000, "Aberto", "Aberto"},
        {0xD000, "Aberto", "Aberto"},
        {0x2000, "Em curto", "Em curto"},
    };
    for (const auto &r : rows) {
        QTest::addRow("0x%04X comma", r.word) << "pt_BR" << r.word << QString::fromUtf8(r.comma);
        QTest::addRow("0x%04X point", r.word) << "C" << r.word << QString::fromUtf8(r.point);
    }
}

void TestTemperature::logWordsAsText() {
    QFETCH(QString, locale);
    QFETCH(int, word);
    QFETCH(QString, text);
    QCOMPARE(logTempText(uint16_t(word), QLocale(locale)), text);

    // Without an explicit locale the user's settings apply.
    const QLocale saved;
    QLocale::setDefault(QLocale(locale));
    const QString byDefault = logTempText(uint16_t(word));
    QLocale::setDefault(saved);
    QCOMPARE(byDefault, text);
}

void TestTemperature::countsAsTheStatusScreenWritesThem_data() {
    QTest::addColumn<int>("tenths");
    QTest::addColumn<QString>("text");
    QTest::newRow("decimal") << 235 << "23,5";
    QTest::newRow("whole") << 230 << "23";
    QTest::newRow("below one") << -5 << "-0,5";
    QTest::newRow("no group separator") << 12345 << "1234,5";
}

void TestTemperature::countsAsTheStatusScreenWritesThem() {
    QFETCH(int, tenths);
    QFETCH(QString, text);
    QCOMPARE(tenthsText(tenths, QLocale(QLocale::Portuguese, QLocale::Brazil)), text);
}

QTEST_GUILESS_MAIN(TestTemperature)
#include "tst_temperature.moc"
