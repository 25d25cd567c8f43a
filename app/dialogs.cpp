#include "dialogs.h"

#include <QFileDialog>

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

QString tWidgetDialogs::AskOpenFile(QWidget *parent, const QString &filter,
                                    const QString &startName) {
    return QFileDialog::getOpenFileName(parent, QString(), startName, filter);
}

QString tWidgetDialogs::AskSaveFile(QWidget *parent, const QString &filter,
                                    const QString &proposedName) {
    // The caller asks its own overwrite question; the dialog must not ask too.
    return QFileDialog::getSaveFileName(parent, QString(), proposedName, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}
