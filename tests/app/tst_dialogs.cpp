// Standard dialogs speak the application's language: Qt's own Brazilian
// Portuguese translation is loaded at start.
#include "dialogs.h"
#include "translations.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
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

    // The dialog the program shows names a folder in Portuguese and gives
    // every column title its whole width. TARVIK_DIALOG_SHOT=FILE.png saves
    // a picture of it.
    void fileDialogSpeaksAndFits() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("camaras")));
        const auto dialog =
            FileDialog(nullptr, QFileDialog::AcceptSave, QStringLiteral("Planilha CSV (*.csv)"),
                       dir.filePath(QStringLiteral("qx4r-LOG.csv")));
        dialog->show();
        auto *model = dialog->findChild<QFileSystemModel *>();
        QVERIFY(model);
        QTRY_COMPARE(model->index(dir.filePath(QStringLiteral("camaras")), 2).data().toString(),
                     QStringLiteral("Pasta"));
        auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(view);
        const QHeaderView *header = view->header();
        const QFontMetrics fm(header->font());
        for (int c = 0; c < header->count(); ++c) {
            const QString title = model->headerData(c, Qt::Horizontal).toString();
            QVERIFY2(header->sectionSize(c) > fm.horizontalAdvance(title), qPrintable(title));
        }
        if (const QString shot = qEnvironmentVariable("TARVIK_DIALOG_SHOT"); !shot.isEmpty())
            dialog->grab().save(shot);
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
