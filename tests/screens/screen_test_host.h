#pragma once

// A page host for tests: a real driver and the real session, optionally
// connected to an in-process simulated controller, that records what the
// pages report and answers their dialogs.

#include "ondrel_sim.h"
#include "screen_host.h"
#include "u_ondrel.h"

#include <QStringList>
#include <QTest>
#include <QTimer>

#include <array>
#include <memory>

class TestHost : public ScreenHost {
  public:
    tSession session;
    tOndrel &dev = session.Ondrel();
    tFirstVisits visits;
    std::unique_ptr<sim::Controller> sim;
    QStringList reports;
    QStringList warnings;
    QStringList questions;
    QList<int32_t> errors;
    bool answer = true;
    int slaveId = 201;
    int popups = 0;

    // Starts a simulator of `model` and opens it by its port name, as a
    // user would. Time-out unit 1 keeps a silent controller's wait short.
    bool Connect(const std::string &model, sim::Options options = {}) {
        options.model = model;
        slaveId = options.slaveId;
        sim = std::make_unique<sim::Controller>(options);
        if (!sim->start())
            return false;
        dev.SetTimeout(1);
        const tTask<int32_t> opening =
            session.Open(QString::fromStdString(sim->portName()), options.slaveId);
        // A session with the line on its own thread answers later.
        return QTest::qWaitFor([&] { return opening.Done(); }, 20000) && opening.Result() >= 0;
    }

    TestHost() {
        QObject::connect(&session, &tSession::connectionChanged, &visits, &tFirstVisits::Clear);
        QObject::connect(
            &session, &tSession::report, &session,
            [this](bool failure, const QString &text) { Report(failure ? clERROR : clOK, text); });
        QObject::connect(&session, &tSession::logLine, &session,
                         [this](const QString &text) { LogLine(text); });
    }

    // Everything the pages asked of the host, in order.
    QStringList events;

    tSession &Session() override { return session; }
    tFirstVisits &Visits() override { return visits; }
    // Every command a page sends, on its way to the session.
    tTask<int32_t> SendCommand(tCommand cmd, tPriority priority = tPriority::Person) override {
        events.append(QStringLiteral("send %1").arg(int(cmd)));
        return ScreenHost::SendCommand(cmd, priority);
    }
    void ModbusError(int32_t code) override {
        errors.append(code);
        Report(0, QStringLiteral("Modbus error %1").arg(code));
        Warning(QString::number(code));
    }
    void Report(uint32_t, const QString &text) override {
        reports.append(text);
        events.append(QStringLiteral("report ") + text);
    }
    // Lines for the application event log file.
    QStringList logLines;
    void LogLine(const QString &text) override { logLines.append(text); }
    void Msg(const QString &text) override {
        ++popups;
        events.append(QStringLiteral("popup ") + text);
    }
    void HideMsg() override {
        --popups;
        events.append(QStringLiteral("popup released"));
    }
    void Warning(const QString &text) override {
        warnings.append(text);
        events.append(QStringLiteral("warning ") + text);
    }
    bool AskYesNo(const QString &text) override {
        questions.append(text);
        events.append(QStringLiteral("question ") + text);
        return answer;
    }
    QString AskOpenFile(const QString &, const QString &) override { return {}; }
    // The save dialog: what it proposed, and the name it answers (empty: cancelled).
    QStringList saveProposals;
    QString saveAnswer;
    QString AskSaveFile(const QString &filter, const QString &proposedName) override {
        saveProposals.append(filter + u' ' + proposedName);
        return saveAnswer;
    }

    // The connect button, done for real on the session: it ends an open
    // session or opens the simulator again.
    QString shownPage;
    void btnCntClick() {
        if (dev.Connected())
            session.End();
        else if (sim)
            (void)session.Open(QString::fromStdString(sim->portName()), slaveId);
    }
    void btnMenuMainClick() override { shownPage = QStringLiteral("pnlConnection"); }
    bool timerRunning() const { return session.timerProcess()->isActive(); }
    bool Visited(tMenu menu) const { return visits.Visited(menu); }
    void SetVisited(tMenu menu, bool v) { visits.SetVisited(menu, v); }

    void Clear() {
        reports.clear();
        warnings.clear();
        questions.clear();
        errors.clear();
        events.clear();
        logLines.clear();
    }
};
