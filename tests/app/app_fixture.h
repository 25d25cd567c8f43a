#pragma once

#include "dialogs.h"
#include "main_window.h"
#include "ondrel_sim.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>
#include <memory>

// Dialogs answered by the test: each one is recorded as "kind: text" with
// "\r" kept; questions take the next scripted answer (Yes when none is left).
class ScriptedDialogs : public tDialogs {
  public:
    QStringList shown;
    std::deque<bool> answers;

    void Warning(QWidget *, const QString &text) override {
        shown << QStringLiteral("warning: ") + text;
    }
    bool AskYesNo(QWidget *, const QString &text) override {
        shown << QStringLiteral("question: ") + text;
        if (answers.empty())
            return true;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    // File dialogs answer with the next of `files` (cancelled when none is
    // left) and are recorded with the name they proposed.
    std::deque<QString> files;
    QString AskOpenFile(QWidget *, const QString &filter, const QString &start) override {
        shown << QStringLiteral("open: %1 %2").arg(filter, start);
        return NextFile();
    }
    QString AskSaveFile(QWidget *, const QString &filter, const QString &proposed) override {
        shown << QStringLiteral("save: %1 %2").arg(filter, proposed);
        return NextFile();
    }
    QString NextFile() {
        if (files.empty())
            return {};
        const QString f = files.front();
        files.pop_front();
        return f;
    }
};

// The main window on settings in a temporary folder, which is also the
// current folder (where the logs go unless `logFolder` is set), with scripted
// dialogs.
class App {
  public:
    App() {
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    ~App() {
        w.reset();
        QDir::setCurrent(previousDir);
    }

    QString Path(const QString &name) const { return dir.filePath(name); }
    QString IniPath() const { return Path(QStringLiteral("tarvik.ini")); }
    void WriteIni(const QByteArray &text) const {
        QFile f(IniPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray ReadFile(const QString &name) const {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TfrmMain &Start(const QString &port = QString()) {
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        tStartOptions options;
        options.settingsPath = IniPath();
        options.logFolder = logFolder;
        options.port = port;
        options.dialogs = std::move(scripted);
        w = std::make_unique<TfrmMain>(std::move(options));
        return *w;
    }
    // Runs the exit sequence (settings written, device released).
    void Stop() {
        w.reset();
        dialogs = nullptr;
    }

    // A control by name; a page not opened yet is built for it (without
    // the read a visit runs), as the window builds a page on first need.
    template <class T> T *Find(const QString &name) const {
        T *child = w->findChild<T *>(name);
        if (!child) {
            for (int menu = 0; menu < tMenuCount; ++menu)
                w->Target(tMenu(menu));
            child = w->findChild<T *>(name);
        }
        if (!child)
            qWarning("no %s", qPrintable(name));
        return child;
    }
    QStringList MemoLines() const {
        return Find<QPlainTextEdit>(QStringLiteral("memoLog"))->toPlainText().split(u'\n');
    }
    QString Status() const { return Find<QLabel>(QStringLiteral("lblStatus"))->text(); }
    // A click whose exchanges have ended: the line answers after the click
    // returns.
    void Click(const QString &button) const {
        Press(button);
        Settle();
    }
    void Press(const QString &button) const { Find<QPushButton>(button)->click(); }
    // Until nothing is on the line or waits for it.
    void Settle() const { QTRY_VERIFY_WITH_TIMEOUT(w->Session().Idle(), 20000); }

    std::unique_ptr<TfrmMain> w;
    ScriptedDialogs *dialogs = nullptr;
    QString logFolder; // empty: the logs go to the current (temporary) folder

  private:
    QTemporaryDir dir;
    QString previousDir;
};

// A simulated controller whose port is the only extra port offered.
class Sim {
  public:
    explicit Sim(const std::string &model = "qx4r") {
        sim::Options options;
        options.model = model;
        controller = std::make_unique<sim::Controller>(options);
        started = controller->start();
        if (started)
            qputenv("TARVIK_PORTS", Port().toLocal8Bit());
    }
    ~Sim() { qunsetenv("TARVIK_PORTS"); }
    QString Port() const { return QString::fromStdString(controller->portName()); }

    std::unique_ptr<sim::Controller> controller;
    bool started = false;
};
