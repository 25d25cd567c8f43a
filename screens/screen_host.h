#pragma once

#include "u_ondrel.h"

#include <QString>

#include <cstdint>

// The twelve menu buttons; each carries a first-visit flag.
enum class tMenu : int {
    Main,
    Status,
    Log,
    PAR,
    RTC,
    SetOP,
    Relay1,
    Relay2,
    Relay3,
    Relay4,
    About,
    Sair,
};
constexpr int tMenuCount = int(tMenu::Sair) + 1;

// What every page needs from the main window: the device, the command
// wrapper, the report channels, the message window, the dialog seam and the
// few window actions a page may start. Pages talk to the controller only
// through SendCommand.
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

    // The connect button (it disconnects an open session) and the
    // connection page, for actions that end a session in code.
    virtual void btnCntClick() = 0;
    virtual void btnMenuMainClick() = 0;
    // The status refresh: stopped for a long exchange; started again only
    // while a connection is open.
    virtual void SetTimerProcess(bool run) = 0;
    // Every parameter page shows the device's values again, without traffic.
    virtual void RefillPages() = 0;
    // First-visit flags of the menu buttons: true once the page's read ran.
    virtual bool Visited(tMenu menu) const = 0;
    virtual void SetVisited(tMenu menu, bool visited) = 0;
};

constexpr uint32_t clOK = 0xFF000000;
constexpr uint32_t clERROR = 0xFFFF0000;
