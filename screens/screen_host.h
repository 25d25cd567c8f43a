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

// The common shape of a page action: a progress line, the message window,
// one command, the message window released, a failure handed to
// ModbusError. Returns the command's result.
inline int32_t RunCommand(ScreenHost &host, const QString &progress, const QString &popup,
                          tCommand cmd)
{
    host.Report(0, progress);
    host.Msg(popup);
    const int32_t result = host.SendCommand(cmd);
    host.HideMsg();
    if (result < 0)
        host.ModbusError(result);
    return result;
}
