// What a screen reader says of the window's inputs: each input of every
// page has a name of its own.
#include "app_fixture.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QStackedWidget>

class tst_accessible : public QObject {
    Q_OBJECT

    // An input the user types into, picks or ticks; the line edit inside a
    // spin or combo box is its box's.
    static bool IsInput(QWidget *w) {
        if (qobject_cast<QLineEdit *>(w))
            return !qobject_cast<QAbstractSpinBox *>(w->parentWidget()) &&
                   !qobject_cast<QComboBox *>(w->parentWidget());
        if (qobject_cast<QHeaderView *>(w))
            return false;
        if (auto *view = qobject_cast<QAbstractItemView *>(w))
            return view->editTriggers() != QAbstractItemView::NoEditTriggers &&
                   !qobject_cast<QComboBox *>(view->parentWidget()->parentWidget());
        return qobject_cast<QAbstractSpinBox *>(w) || qobject_cast<QComboBox *>(w) ||
               qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w);
    }

    static QString NameOf(QWidget *w) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        return a ? a->text(QAccessible::Name).trimmed() : QString();
    }

  private Q_SLOTS:
    // Every page is shown (a relay's pages by every operation the window
    // built), connected, so that the tables hold their rows.
    void everyInputHasItsOwnName() {
        Sim sim;
        QVERIFY(sim.started);
        App app;
        TfrmMain &w = app.Start(sim.Port());
        w.show();
        app.Click("btnCnt");
        QVERIFY(w.Ondrel().Connected());
        for (const char *menu : {"btnMenuStatus", "btnMenuLog", "btnMenuPAR", "btnMenuRTC",
                                 "btnMenuSetOP", "btnMenuRelay1", "btnMenuRelay2", "btnMenuRelay3",
                                 "btnMenuRelay4", "btnMenuAbout", "btnMenuMain"})
            app.Click(QLatin1String(menu));
        auto *host = app.Find<QStackedWidget>("pnlMain");
        QStringList faults;
        int inputs = 0;
        for (int i = 0; i < host->count(); ++i) {
            QWidget *page = host->widget(i);
            host->setCurrentWidget(page);
            QMap<QString, QString> seen; // name -> objectName
            for (QWidget *input : page->findChildren<QWidget *>()) {
                if (!IsInput(input) || !input->isVisibleTo(&w))
                    continue;
                ++inputs;
                const QString where = page->objectName() + u'/' + input->objectName() + u' ' +
                                      QLatin1String(input->metaObject()->className());
                const QString name = NameOf(input);
                if (name.isEmpty())
                    faults << where + QStringLiteral(": no name");
                else if (seen.contains(name))
                    faults << where + QStringLiteral(": \"%1\" as %2").arg(name, seen[name]);
                else
                    seen.insert(name, input->objectName());
            }
        }
        for (const QString &fault : faults)
            qWarning("%s", qPrintable(fault));
        QVERIFY(inputs > 0);
        QCOMPARE(faults, QStringList());
    }
};

QTEST_MAIN(tst_accessible)
#include "tst_accessible.moc"
