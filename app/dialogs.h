#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include <memory>

// Every modal dialog of the application goes through one of these, so tests
// can answer them. Texts separate lines with "\r".
class tDialogs {
  public:
    virtual ~tDialogs() = default;
    virtual void Warning(QWidget *parent, const QString &text) = 0;
    virtual bool AskYesNo(QWidget *parent, const QString &text) = 0;
    // An empty result means the user cancelled.
    virtual QString AskOpenFile(QWidget *parent, const QString &filter,
                                const QString &startName) = 0;
    virtual QString AskSaveFile(QWidget *parent, const QString &filter,
                                const QString &proposedName) = 0;
};

// The real dialogs: warning message boxes and the file dialogs.
class tWidgetDialogs : public tDialogs {
  public:
    void Warning(QWidget *parent, const QString &text) override;
    bool AskYesNo(QWidget *parent, const QString &text) override;
    QString AskOpenFile(QWidget *parent, const QString &filter, const QString &startName) override;
    QString AskSaveFile(QWidget *parent, const QString &filter,
                        const QString &proposedName) override;
};

// "\r" separates lines in the texts; the message box wants "\n".
QString DialogText(const QString &text);

// The file dialog AskOpenFile and AskSaveFile show: Qt's own (the same
// translated dialog on every desktop), at a size where its column titles fit.
std::unique_ptr<QFileDialog> FileDialog(QWidget *parent, QFileDialog::AcceptMode mode,
                                        const QString &filter, const QString &name);

// The warning box every message of the program is shown in.
std::unique_ptr<QMessageBox> WarningBox(QWidget *parent, const QString &text,
                                        QMessageBox::StandardButtons buttons);
