// Standard dialogs speak the application's language: Qt's own Brazilian
// Portuguese translation is loaded at start.
#include "dialogs.h"
#include "translations.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QtTest>

class tst_dialogs : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() { QVERIFY(InstallTranslations(*QCoreApplication::instance())); }

    void questionButtons() {
        const auto box = WarningBox(nullptr, QStringLiteral("Deseja continuar?\r"),
                                    QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box->button(QMessageBox::Yes)->text().remove(u'&'), QStringLiteral("Sim"));
        QCOMPARE(box->button(QMessageBox::No)->text().remove(u'&'), QStringLiteral("Não"));
        QCOMPARE(box->text(), QStringLiteral("Deseja continuar?"));
    }

    void fileDialogButtons_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("accept");
        QTest::newRow("open") << int(QFileDialog::AcceptOpen) << "Abrir";
        QTest::newRow("save") << int(QFileDialog::AcceptSave) << "Salvar";
    }
    void fileDialogButtons() {
        QFETCH(int, mode);
        QFETCH(QString, accept);
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptMode(mode));
        auto *buttons = dialog.findChild<QDialogButtonBox *>();
        QVERIFY(buttons);
        QStringList texts;
        for (QAbstractButton *b : buttons->buttons())
            texts << b->text().remove(u'&');
        QVERIFY2(texts.contains(accept), qPrintable(texts.join(u',')));
        QVERIFY2(texts.contains(QStringLiteral("Cancelar")), qPrintable(texts.join(u',')));
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
