#pragma once

#include "menu.h"
#include "session.h"

#include <QString>

#include <cstdint>

// What every page needs from the window it sits in: the session, the
// report channels, the message window, the dialog seam and page switching.
// The session (device, commands, refresh, known blocks)
// lives without a window; pages talk to the controller only through
// SendCommand.
class ScreenHost {
  public:
    virtual ~ScreenHost() = default;

    virtual tSession &Session() = 0;
    // The menus' first-visit flags, cleared at every connection change.
    virtual tFirstVisits &Visits() = 0;
    tOndrel &Ondrel() { return Session().Ondrel(); }
    // The screens' way to the controller; a test host may put a fault in
    // the way of one command.
    virtual int32_t SendCommand(tCommand cmd) { return Session().SendCommand(cmd); }

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

    // The connection page, for an action that ends the session in code.
    virtual void btnMenuMainClick() = 0;
};
