#pragma once

// A page host for tests: a real driver, optionally connected to an
// in-process simulated controller, that records what the pages report and
// answers their dialogs.

#include "ondrel_sim.h"
#include "screen_host.h"
#include "u_ondrel.h"

#include <QStringList>
#include <QTest>

#include <memory>

class TestHost : public ScreenHost {
  public:
    tOndrel dev;
    std::unique_ptr<sim::Controller> sim;
    QStringList reports;
    QStringList warnings;
    QStringList questions;
    QList<int32_t> errors;
    bool answer = true;
    int popups = 0;

    // Starts a simulator of `model` and opens it by its port name, as a
    // user would. Time-out unit 1 keeps a silent controller's wait short.
    bool Connect(const std::string &model, sim::Options options = {}) {
        options.model = model;
        sim = std::make_unique<sim::Controller>(options);
        if (!sim->start())
            return false;
        dev.SetTimeout(1);
        return dev.OpenConnection(QString::fromStdString(sim->portName()), options.slaveId) >= 0;
    }

    tOndrel &Ondrel() override { return dev; }
    int32_t SendCommand(tCommand cmd) override { return dev.SendCommand(cmd); }
    void ModbusError(int32_t code) override {
        errors.append(code);
        Report(0, QStringLiteral("Modbus error %1").arg(code));
        Warning(QString::number(code));
    }
    void Report(uint32_t, const QString &text) override { reports.append(text); }
    void LogLine(const QString &) override {}
    void Msg(const QString &) override { ++popups; }
    void HideMsg() override { --popups; }
    void Warning(const QString &text) override { warnings.append(text); }
    bool AskYesNo(const QString &text) override {
        questions.append(text);
        return answer;
    }
    QString AskOpenFile(const QString &, const QString &) override { return {}; }
    QString AskSaveFile(const QString &, const QString &) override { return {}; }

    void Clear() {
        reports.clear();
        warnings.clear();
        questions.clear();
        errors.clear();
    }
};
