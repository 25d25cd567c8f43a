#pragma once

#include "u_ondrel.h"

#include <QString>

#include <cstdint>
#include <initializer_list>

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

    // The connection page's actions, for the pages that end a session in code
    // (factory defaults, clock output) or go back to the connection page.
    virtual void btnCntClick() {}
    virtual void btnMenuMainClick() {}
};

constexpr uint32_t clOK = 0xFF000000;
constexpr uint32_t clERROR = 0xFFFF0000;

// The common shape of a page action: a progress line, the message window,
// the commands in order until the first failure, the message window
// released, a failure handed to ModbusError. Returns the failed command's
// result, or the last command's.
inline int32_t RunCommands(ScreenHost &host, const QString &progress, const QString &popup,
                           std::initializer_list<tCommand> cmds) {
    host.Report(0, progress);
    host.Msg(popup);
    int32_t result = 0;
    for (tCommand cmd : cmds)
        if ((result = host.SendCommand(cmd)) < 0)
            break;
    host.HideMsg();
    if (result < 0)
        host.ModbusError(result);
    return result;
}

inline int32_t RunCommand(ScreenHost &host, const QString &progress, const QString &popup,
                          tCommand cmd) {
    return RunCommands(host, progress, popup, {cmd});
}
