#pragma once

#include "u_ondrel.h"

#include <QString>

#include <cstdint>

// What every page needs from the main window: the device, the command
// wrapper, the report channels, the message window and the dialog seam.
// Pages talk to the controller only through SendCommand.
class ScreenHost {
public:
    virtual ~ScreenHost() = default;

    virtual tOndrel &Ondrel() = 0;
    virtual int32_t SendCommand(tCommand cmd) = 0;
    virtual void ModbusError(int32_t code) = 0;
    virtual void Report(uint32_t color, const QString &text) = 0;
    // A line for the application event log file (written only while it is on).
    virtual void LogLine(const QString &text) = 0;
    virtual void Msg(const QString &s) = 0;
    virtual void HideMsg() = 0;

    // Dialog seam: every modal dialog goes through these, so tests can
    // answer them. Multi-line texts separate lines with "\r".
    virtual void Warning(const QString &text) = 0;
    virtual bool AskYesNo(const QString &text) = 0;
    virtual QString AskOpenFile(const QString &filter, const QString &startName) = 0;
    virtual QString AskSaveFile(const QString &filter, const QString &proposedName) = 0;
};

constexpr uint32_t clOK = 0xFF000000;
constexpr uint32_t clERROR = 0xFFFF0000;
