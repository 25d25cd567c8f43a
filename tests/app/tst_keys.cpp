// The window from the keyboard: shortcuts, the menu's Alt+letters, and Tab
// in reading order.
#include "app_fixture.h"

#include <QCheckBox>
#include <QShortcut>
#include <QStackedWidget>

class tst_keys : public QObject {
    Q_OBJECT

    static QString CurrentPage(const App &app) {
        QWidget *page = app.w->CurrentPage();
        return page ? page->objectName() : QString();
    }

  private Q_SLOTS:
    void keyDoesItsAction_data() {
        QTest::addColumn<QString>("menu"); // pressed first
        QTest::addColumn<QString>("keys");
        // "sent": the controller is asked; "nothing": it is not; "save:" or
        // "open:" a file dialog; "page:" a page shown; "closed".
        QTest::addColumn<QString>("expect");
        QTest::newRow("F5 reads Ajustes") << "btnMenuPAR"
                                          << "F5"
                                          << "sent";
        QTest::newRow("F5 reads the operations") << "btnMenuSetOP"
                                                 << "F5"
                                                 << "sent";
        QTest::newRow("F5 reads relay 1") << "btnMenuRelay1"
                                          << "F5"
                                          << "sent";
        QTest::newRow("F5 on Conexão reads nothing") << "btnMenuMain"
                                                     << "F5"
                                                     << "nothing";
        QTest::newRow("Ctrl+S from Ajustes") << "btnMenuPAR"
                                             << "Ctrl+S"
                                             << "save:";
        QTest::newRow("Ctrl+O from Status") << "btnMenuStatus"
                                            << "Ctrl+O"
                                            << "open:";
        QTest::newRow("Alt+L") << "btnMenuMain"
                               << "Alt+L"
                               << "page:pnlLogRelays";
        QTest::newRow("Alt+2") << "btnMenuMain"
                               << "Alt+2"
                               << "page:pnlDefrost";
        QTest::newRow("Ctrl+Q") << "btnMenuMain"
                                << "Ctrl+Q"
                                << "closed";
    }

    void keyDoesItsAction() {
        QFETCH(QString, menu);
        QFETCH(QString, keys);
        QFETCH(QString, expect);
        Sim sim("qx2r");
        QVERIFY(sim.started);
        App app;
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        app.Click("btnCnt");
        QVERIFY(w.Ondrel().Connected());
        app.Click(menu);
        app.dialogs->shown.clear();
        const int before = sim.controller->requestCount();
        const QKeySequence sequence(keys);
        QTest::keySequence(&w, sequence);
        if (w.isVisible())
            app.Settle();

        if (expect == "sent" || expect == "nothing")
            QCOMPARE(sim.controller->requestCount() > before, expect == "sent");
        else if (expect == "closed")
            QVERIFY(!w.isVisible());
        else if (expect.startsWith("page:"))
            QTRY_COMPARE(CurrentPage(app), expect.mid(5)); // a mnemonic clicks after a flash
        else {
            QCOMPARE(app.dialogs->shown.size(), 1);
            QVERIFY2(app.dialogs->shown[0].startsWith(expect), qPrintable(app.dialogs->shown[0]));
        }
        if (expect != "closed")
            QVERIFY(w.isVisible());
    }

    // Each menu button has an Alt+letter of its own, said in its tooltip,
    // and its caption reads as before without the marker.
    void menuLettersDiffer() {
        App app;
        TfrmMain &w = app.Start();
        QMap<QString, QString> seen;
        for (QPushButton *b : w.findChildren<QPushButton *>()) {
            if (!b->objectName().startsWith("btnMenu"))
                continue;
            const QString keys = QKeySequence::mnemonic(b->text()).toString();
            QVERIFY2(!keys.isEmpty(), qPrintable(b->objectName()));
            QVERIFY2(!seen.contains(keys),
                     qPrintable(b->objectName() + " " + keys + " " + seen.value(keys)));
            seen.insert(keys, b->objectName());
            QVERIFY2(b->toolTip().contains("Atalho: " + keys), qPrintable(b->toolTip()));
            QVERIFY(!QString(b->text()).remove(u'&').contains(u'&'));
        }
        QCOMPARE(QString(app.Find<QPushButton>("btnMenuRelay3")->text()).remove(u'&'),
                 QStringLiteral("Ajustar Rele 3"));
    }

    void tabFollowsRows_data() {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("tick"); // a switch turned on first
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("then");
        // Not connected: the file's buttons are off, so the left column ends
        // at "Conectar" and the right one follows: the tabs of the line's
        // figures and the scan ("Zerar" is off), then the memo.
        QTest::newRow("Conexão: rows of boxes, one column after the other")
            << "btnMenuMain"
            << ""
            << "cbxPort"
            << QStringList{"btnUpDatePorts", "edtID",  "btnScan", "spiBaud", "spiTimeout",
                           "cbxFastRead",    "btnCnt", "tabLink", "memoLog", "btnClear"};
        QTest::newRow("Ajustes: a switch before the value it switches on")
            << "btnMenuPAR"
            << "cbxSetPass1"
            << "edtOffSet4" << QStringList{"cbxSetPass1", "edtSetPass1", "cbxSetPass2",
                                           "cbxSetDelay", "cbxAL",       "popSetTemp"};
        QTest::newRow("the frame: down the left menu, through the page, along the bottom")
            << "btnMenuLog"
            << ""
            << "btnMenuHist"
            << QStringList{"btnMenuAbout", "btnMenuSair", "tabLogRelay",  "stgRL1",
                           "edtLogMax",    "btnLogGet",   "btnLogCancel", "btnLogClear",
                           "btnLogExport", "btnLogXlsx",  "btnMenuPAR",   "btnMenuRTC"};
    }

    void tabFollowsRows() {
        QFETCH(QString, menu);
        QFETCH(QString, tick);
        QFETCH(QString, first);
        QFETCH(QStringList, then);
        Sim sim("qx4r");
        QVERIFY(sim.started);
        App app;
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        if (menu != "btnMenuMain") {
            app.Click("btnCnt");
            app.Click(menu);
            // The message window of the visit's read took the focus.
            w.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&w));
        }
        if (!tick.isEmpty())
            app.Find<QCheckBox>(tick)->setChecked(true);
        QWidget *from = app.Find<QWidget>(first);
        from->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), from);
        QStringList visited;
        QVERIFY(QApplication::focusWidget());
        for (qsizetype i = 0; i < then.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *at = QApplication::focusWidget();
            // The box of a spin box's editor.
            while (at && (at->objectName().isEmpty() || at->objectName().startsWith("qt_")))
                at = at->parentWidget();
            visited << (at ? at->objectName() : QString());
        }
        QCOMPARE(visited, then);
    }
};

QTEST_MAIN(tst_keys)
#include "tst_keys.moc"
