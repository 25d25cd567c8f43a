// The message window stays up at least 800 ms and then until the next
// multiple of 800 ms after the latest Msg that follows its release.
#include "show_window.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class tst_message_window : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void hidesOnTheTickAfterRelease_data();
    void hidesOnTheTickAfterRelease();
    void unreleasedMessageStaysUp();
    void everyMessageReadsWhole_data();
    void everyMessageReadsWhole();
};

namespace {
// Records the elapsed time at which the window hides.
class HideWatch : public QObject {
  public:
    HideWatch(QWidget *w, const QElapsedTimer &clock) : clock(clock) {
        w->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Hide && hiddenAt < 0)
            hiddenAt = clock.elapsed();
        return false;
    }
    const QElapsedTimer &clock;
    qint64 hiddenAt = -1;
};
} // namespace

void tst_message_window::hidesOnTheTickAfterRelease_data() {
    QTest::addColumn<int>("secondMsgAt"); // -1: only one Msg
    QTest::addColumn<int>("releaseAt");
    QTest::addColumn<int>("expectedHide");
    QTest::newRow("quick work") << -1 << 100 << 800;
    QTest::newRow("work past the first tick") << -1 << 1000 << 1600;
    QTest::newRow("second message restarts") << 500 << 520 << 1300;
}

void tst_message_window::hidesOnTheTickAfterRelease() {
    QFETCH(int, secondMsgAt);
    QFETCH(int, releaseAt);
    QFETCH(int, expectedHide);
    QWidget owner;
    TfrmShow frmShow(&owner);
    QElapsedTimer clock;
    HideWatch watch(&frmShow, clock);
    clock.start();
    frmShow.Msg(QStringLiteral("primeira"));
    QVERIFY(frmShow.isVisible());
    if (secondMsgAt >= 0)
        QTimer::singleShot(secondMsgAt, &frmShow, [&] { frmShow.Msg(QStringLiteral("segunda")); });
    QTimer::singleShot(releaseAt, &frmShow, [&] { frmShow.HideMsg(); });
    QTRY_VERIFY_WITH_TIMEOUT(!frmShow.isVisible(), 10000);
    // A tick may come a little early or late; it must not be the one before
    // or (within generous slack) the one after.
    QVERIFY2(watch.hiddenAt >= expectedHide - 60, qPrintable(QString::number(watch.hiddenAt)));
    QVERIFY2(watch.hiddenAt < expectedHide + 700, qPrintable(QString::number(watch.hiddenAt)));
    QCOMPARE(frmShow.lblMsg()->text(), secondMsgAt >= 0 ? "segunda" : "primeira");
}

void tst_message_window::unreleasedMessageStaysUp() {
    QWidget owner;
    TfrmShow frmShow(&owner);
    frmShow.HideMsg(); // a release before the message does not carry over
    frmShow.Msg(QStringLiteral("sem fim"));
    QSignalSpy ticks(frmShow.AutoHide(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 10000);
    QVERIFY(frmShow.isVisible());
}

// Every text the program shows in the message window. Each must read whole
// in the 388-pixel window with the fonts the package installs, the first of
// a run included.
void tst_message_window::everyMessageReadsWhole_data() {
    QTest::addColumn<QString>("text");
    for (const char *text : {
             "Lendo temperatura e estados dos reles no Ondrel...",
             "Lendo parâmetros de sistema no Ondrel...",
             "Gravando os parâmetros do sistema no Ondrel...",
             "Lendo parâmetros de data e hora no Ondrel...",
             "Lendo parâmetros de calibração do RTC no Ondrel...",
             "Gravando os novos operadores dos reles no Ondrel...",
             "Lendo parâmetros dos reles no Ondrel...",
             "Gravando parâmetros dos reles no Ondrel...",
             // The configuration sequence, a step per block.
             "Lendo operações dos relés no Ondrel...",
             "Lendo parâmetros do relé 4 no Ondrel...",
             "Gravando parâmetros de sistema no Ondrel...",
             "Gravando operações dos relés no Ondrel...",
             "Gravando parâmetros do relé 4 no Ondrel...",
             "Conferindo parâmetros de sistema no Ondrel...",
             "Conferindo operações dos relés no Ondrel...",
             "Conferindo parâmetros do relé 4 no Ondrel...",
         })
        QTest::newRow(text) << QString::fromUtf8(text);
}

void tst_message_window::everyMessageReadsWhole() {
    QFETCH(QString, text);
    QWidget owner;
    TfrmShow frmShow(&owner);
    frmShow.Msg(text);
    const QLabel *label = frmShow.lblMsg();
    const QRect room = label->contentsRect();
    const int flags = Qt::AlignCenter | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = QFontMetrics(label->font()).boundingRect(room, flags, text);
    QVERIFY2(need.width() <= room.width() && need.height() <= room.height(),
             qPrintable(QStringLiteral("%1x%2 in %3x%4")
                            .arg(need.width())
                            .arg(need.height())
                            .arg(room.width())
                            .arg(room.height())));
    QVERIFY(label->font().pointSize() >= 7);
}

QTEST_MAIN(tst_message_window)
#include "tst_message_window.moc"
