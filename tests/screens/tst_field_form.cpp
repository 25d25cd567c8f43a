// The field kinds as the pages use them: what a control shows for a block
// entry, what it writes back, and the rule that a control the user did not
// touch gives back the entry it was filled with (marked when it cannot show
// it).
#include "field_form.h"
#include "number_box.h"
#include "screen_test_host.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTest>

namespace {
using K = tFieldKind;
constexpr tParamField kinds[] = {
    {.index = 0,
     .code = "T",
     .control = "edtT",
     .kind = K::Tenths,
     .lo = tBound::celsius(-50),
     .hi = tBound::celsius(110)},
    {.index = 1,
     .code = "S",
     .control = "spiS",
     .kind = K::Sensor,
     .lo = tBound::fixed(1),
     .hi = tBound::relays()},
    {.index = 2,
     .code = "N",
     .control = "edtN",
     .kind = K::Number,
     .lo = tBound::fixed(0),
     .hi = tBound::fixed(240)},
    {.index = 3, .code = "B", .control = "cbxB", .kind = K::Switch, .caption = "Liga"},
    {.index = 4, .code = "C", .control = "popC", .kind = K::Choice, .choices = "a|b|c"},
    {.index = 5,
     .code = "HM",
     .control = "edtHourHM",
     .minutes = "edtMinHM",
     .kind = K::HoursMinutes,
     .lo = tBound::fixed(1),
     .hi = tBound::fixed(24)},
    {.index = 6,
     .code = "LO",
     .control = "edtLO",
     .kind = K::Tenths,
     .lo = tBound::entry(7),
     .hi = tBound::entry(8)},
    {.index = 9,
     .code = "PAS",
     .control = "edtPAS",
     .toggle = "cbxPAS",
     .kind = K::Number,
     .lo = tBound::fixed(0),
     .hi = tBound::fixed(9999),
     .caption = "Senha",
     .decimals = 0},
    {.index = 10, .control = "TiSet1", .kind = K::SetPoint},
};

// Monday to Friday, enabled, from 07:30 to 08:15.
constexpr int32_t workdays = 190 | 450 << 8 | 495 << 20;
} // namespace

class tst_field_form : public QObject {
    Q_OBJECT

    struct Form {
        QWidget page;
        TFieldForm form{kinds, {&page}};
        std::array<int32_t, 20> block{};
        tOndrel dev;

        Form() {
            dev.nRelay = 4;
            block = {55, 0, 3, 1, 2, 90, 20, -500, 800, 12, workdays};
        }
        template <typename T> T *find(const QString &name) { return page.findChild<T *>(name); }
    };

  private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QStringLiteral("pt_BR"))); }

    // entry: the block's value at fill; edit: what the user puts in the
    // control (an invalid variant: nothing); shown and marked: the control
    // after the fill; stored: the entry collected afterwards.
    void fillAndCollect_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QVariant>("edit");
        QTest::addColumn<QVariant>("shown");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<int>("stored");
        const QVariant none;
        QTest::newRow("T shown in degrees")
            << "edtT" << 0 << 55 << none << QVariant(5.5) << false << 55;
        QTest::newRow("T typed, halves to even up")
            << "edtT" << 0 << 55 << QVariant(5.55) << QVariant(5.5) << false << 56;
        QTest::newRow("T typed, halves to even down")
            << "edtT" << 0 << 55 << QVariant(5.45) << QVariant(5.5) << false << 54;
        QTest::newRow("T negative")
            << "edtT" << 0 << 55 << QVariant(-12.3) << QVariant(5.5) << false << -123;
        QTest::newRow("T above its bound, kept")
            << "edtT" << 0 << 1200 << none << QVariant(110.0) << true << 1200;
        QTest::newRow("T above its bound, edited")
            << "edtT" << 0 << 1200 << QVariant(100.0) << QVariant(110.0) << true << 1000;
        QTest::newRow("T bounds from the block")
            << "edtLO" << 6 << -600 << none << QVariant(-50.0) << true << -600;
        QTest::newRow("S from 1") << "spiS" << 1 << 0 << none << QVariant(1) << false << 0;
        QTest::newRow("S chosen") << "spiS" << 1 << 0 << QVariant(3) << QVariant(1) << false << 2;
        QTest::newRow("S beyond the relays, kept")
            << "spiS" << 1 << 6 << none << QVariant(4) << true << 6;
        QTest::newRow("N typed 2.5")
            << "edtN" << 2 << 3 << QVariant(2.5) << QVariant(3.0) << false << 2;
        QTest::newRow("N typed 3.5")
            << "edtN" << 2 << 3 << QVariant(3.5) << QVariant(3.0) << false << 4;
        QTest::newRow("B on") << "cbxB" << 3 << 1 << none << QVariant(true) << false << 1;
        QTest::newRow("B 2 is on, kept") << "cbxB" << 3 << 2 << none << QVariant(true) << true << 2;
        QTest::newRow("B switched off")
            << "cbxB" << 3 << 2 << QVariant(false) << QVariant(true) << true << 0;
        QTest::newRow("C item") << "popC" << 4 << 2 << none << QVariant(2) << false << 2;
        QTest::newRow("C past the list, kept")
            << "popC" << 4 << 7 << none << QVariant(-1) << true << 7;
        QTest::newRow("C chosen") << "popC" << 4 << 7 << QVariant(1) << QVariant(-1) << true << 1;
        QTest::newRow("HM 90 is 1:30")
            << "edtHourHM" << 5 << 90 << none << QVariant(1.0) << false << 90;
        QTest::newRow("HM 1440 is 24:0")
            << "edtHourHM" << 5 << 1440 << none << QVariant(24.0) << false << 1440;
        QTest::newRow("HM hours typed")
            << "edtHourHM" << 5 << 90 << QVariant(2.5) << QVariant(1.0) << false << 150;
        QTest::newRow("HM under an hour, kept")
            << "edtHourHM" << 5 << 30 << none << QVariant(1.0) << true << 30;
        QTest::newRow("toggle on") << "edtPAS" << 9 << 12 << none << QVariant(12.0) << false << 12;
        QTest::newRow("toggle -1, kept")
            << "edtPAS" << 9 << -1 << none << QVariant(0.0) << true << -1;
        QTest::newRow("set-point untouched")
            << "TiSet1" << 10 << workdays << none << QVariant(true) << false << workdays;
        QTest::newRow("set-point disabled") << "TiSet1" << 10 << workdays << QVariant(false)
                                            << QVariant(true) << false << (workdays & ~0x80);
    }
    void fillAndCollect() {
        QFETCH(QString, control);
        QFETCH(int, index);
        QFETCH(int, entry);
        QFETCH(QVariant, edit);
        QFETCH(QVariant, shown);
        QFETCH(bool, marked);
        QFETCH(int, stored);
        Form f;
        f.block[size_t(index)] = entry;
        f.form.Fill(f.block.data(), f.dev);
        QObject *w = f.form.Control(index);
        QVERIFY(w);
        const char *property = qobject_cast<QCheckBox *>(w)   ? "checked"
                               : qobject_cast<QComboBox *>(w) ? "currentIndex"
                                                              : "value";
        QCOMPARE(w->property(property), shown);
        QCOMPARE(f.form.OutOfRange(index), marked);
        QCOMPARE(w->property(outOfRangeProperty).toBool(), marked);
        if (edit.isValid()) {
            w->setProperty(property, edit);
            // Edited, the control is the user's value and loses its mark.
            QVERIFY(!f.form.OutOfRange(index));
        }
        QCOMPARE(f.form.Edited(index), edit.isValid());
        auto collected = f.block;
        collected.fill(-7);
        f.form.Collect(collected.data());
        QCOMPARE(collected[size_t(index)], stored);
        Q_UNUSED(control);
    }

    // A whole block filled and collected without edits comes back as it was,
    // and a set-point row follows its enable box.
    void untouchedBlockRoundTrips() {
        Form f;
        f.form.Fill(f.block.data(), f.dev);
        auto back = f.block;
        f.form.Collect(back.data());
        QCOMPARE(back, f.block);
        QVERIFY(f.find<QWidget>("edtTiSet1HourInit")->isEnabled());
        QCOMPARE(f.find<TNumberBox>("edtTiSet1MinEnd")->value(), 15.0);
        QVERIFY(f.find<QCheckBox>("cbxTiSet1Mon")->isChecked());
        QVERIFY(!f.find<QCheckBox>("cbxTiSet1Sum")->isChecked());
        f.find<QCheckBox>("cbxTiSet1EN")->setChecked(false);
        QVERIFY(!f.find<QWidget>("edtTiSet1HourInit")->isEnabled());
        QVERIFY(!f.find<QWidget>("cbxTiSet1Sat")->isEnabled());
    }

    // The check box of a switched number: the box is enabled exactly while
    // it is checked, and switching it off writes 0.
    void toggleGovernsItsBox() {
        Form f;
        f.form.Fill(f.block.data(), f.dev);
        auto *box = f.find<TNumberBox>("edtPAS");
        auto *toggle = f.find<QCheckBox>("cbxPAS");
        QVERIFY(toggle->isChecked() && box->isEnabled());
        toggle->setChecked(false);
        QVERIFY(!box->isEnabled());
        QCOMPARE(box->value(), 0.0);
        auto back = f.block;
        f.form.Collect(back.data());
        QCOMPARE(back[9], 0);

        f.block[9] = 0;
        f.form.Fill(f.block.data(), f.dev);
        QVERIFY(!toggle->isChecked() && !box->isEnabled());
    }

    // Fahrenheit bounds are kept exactly, where a one-decimal box would
    // round 32.18 to 32.2 and refuse its own bound.
    void boundsKeepTheirDigits() {
        TNumberBox box;
        box.setRange(32.18, 68.0);
        QCOMPARE(box.minimum(), 32.18);
        box.setValue(32.18);
        QCOMPARE(box.value(), 32.18);
        QCOMPARE(box.text(), QStringLiteral("32,18"));
        box.setValue(40.5);
        QCOMPARE(box.text(), QStringLiteral("40,5"));
    }
};

QTEST_MAIN(tst_field_form)
#include "tst_field_form.moc"
