#include "dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTreeView>

QString DialogText(const QString &text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    while (shown.endsWith(u'\n'))
        shown.chop(1);
    return shown;
}

std::unique_ptr<QMessageBox> WarningBox(QWidget *parent, const QString &text,
                                        QMessageBox::StandardButtons buttons) {
    return std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("Tarvik"),
                                         DialogText(text), buttons, parent);
}

namespace {
QMessageBox::StandardButton Ask(QWidget *parent, const QString &text,
                                QMessageBox::StandardButtons buttons) {
    return static_cast<QMessageBox::StandardButton>(WarningBox(parent, text, buttons)->exec());
}
} // namespace

void tWidgetDialogs::Warning(QWidget *parent, const QString &text) {
    Ask(parent, text, QMessageBox::Ok);
}

bool tWidgetDialogs::AskYesNo(QWidget *parent, const QString &text) {
    return Ask(parent, text, QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
}

std::unique_ptr<QFileDialog> FileDialog(QWidget *parent, QFileDialog::AcceptMode mode,
                                        const QString &filter, const QString &name) {
    auto dialog = std::make_unique<QFileDialog>(parent, QString(), name, filter);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                        : QFileDialog::ExistingFile);
    // The caller asks its own overwrite question; the dialog must not ask too.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    if (!name.isEmpty() && mode == QFileDialog::AcceptSave)
        dialog->selectFile(name);
    // Each column at least as wide as its title ("Data de modificação"),
    // the name column the widest, and the dialog wide enough for them all.
    int width = 0;
    if (auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = view->header();
        const QFontMetrics fm(header->font());
        for (int c = 0; c < header->count(); ++c) {
            const QString title =
                view->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
            const int fit = fm.horizontalAdvance(title) + 3 * fm.averageCharWidth() +
                            header->style()->pixelMetric(QStyle::PM_HeaderMarkSize);
            header->resizeSection(c, qMax(c == 0 ? 5 * fit : fit, header->sectionSize(c)));
            width += header->sectionSize(c);
        }
    }
    // The places beside the list wide enough for "Computador".
    constexpr int places = 170;
    if (auto *splitter = dialog->findChild<QSplitter *>(QStringLiteral("splitter")))
        splitter->setSizes({places, width});
    QSize size(qMax(760, width + places + 60), 480);
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    dialog->resize(size);
    return dialog;
}

QString tWidgetDialogs::AskOpenFile(QWidget *parent, const QString &filter,
                                    const QString &startName) {
    const auto dialog = FileDialog(parent, QFileDialog::AcceptOpen, filter, startName);
    return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
}

QString tWidgetDialogs::AskSaveFile(QWidget *parent, const QString &filter,
                                    const QString &proposedName) {
    const auto dialog = FileDialog(parent, QFileDialog::AcceptSave, filter, proposedName);
    return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
}
