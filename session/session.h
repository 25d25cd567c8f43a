#pragma once

#include "config_sync.h"
#include "u_ondrel.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class QTimer;

// The menu buttons; each carries a first-visit flag.
enum class tMenu : int {
    Main,
    Status,
    Log,
    Hist,
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

// Colours of a report line.
constexpr uint32_t clOK = 0xFF000000;
constexpr uint32_t clERROR = 0xFFFF0000;

// The session with one controller, without a window: the device, the
// command wrapper with the lost-port check, the first-visit flags, the
// status refresh timer, the end of a session and the blocks the copy holds.
// What the user should see leaves as signals; a window (or a test, or a
// recorder) shows it.
//
// Observing the line: every command goes through the driver's observers
// (tOndrelObserver in u_ondrel.h: each exchange with its result and time,
// each write with the values before and after). The session relays them as
// the signals exchanged() and aboutToWrite(), for observers that live with
// a window; the command-line tool attaches to the driver directly.
class tSession : public QObject, private tOndrelObserver {
    Q_OBJECT
  public:
    explicit tSession(tOndrel &dev, QObject *parent = nullptr);
    ~tSession() override;

    tOndrel &Ondrel() { return dev; }
    const tOndrel &Ondrel() const { return dev; }
    bool Connected() const { return dev.Connected(); }

    // Opens a session with controller `id` on `port`; the driver's result.
    // connectionChanged follows, whatever the outcome.
    int32_t Open(const QString &port, int32_t id);
    // Ends the open session: said in the reports and the event log, the
    // refresh stopped, every page due for a read again. Nothing when none
    // is open.
    void End();

    // The screens' one way to the controller. The driver refuses a command
    // (-15) only while a handler runs inside the wait of another
    // transaction, which cannot go on before that handler returns: waiting
    // here would never end, so the refusal goes back like any failure. A
    // failure that reveals a pulled adapter ends the session (portLost).
    int32_t SendCommand(tCommand cmd);
    // True once after the failure that revealed a lost port: that failure
    // has been said already and needs no second report.
    bool TakePortLostSaid();

    // First-visit flags: true once the menu's page has read since connecting.
    bool Visited(tMenu menu) const { return visited[size_t(menu)]; }
    void SetVisited(tMenu menu, bool on);

    // The status refresh, ticking every second exactly while connected (the
    // status pages connect to its timeout). SetRefresh(false) holds it for a
    // long exchange; SetRefresh(true) starts it again only while connected.
    QTimer *timerProcess() const { return timer; }
    void SetRefresh(bool run);
    // The refresh and the first-visit flags in line with the connection:
    // running and kept while connected, stopped and cleared otherwise.
    void FollowConnection();

    // The copy holds `what` (tKnown bits, all of them) for this session.
    bool IsKnown(uint32_t what) const { return dev.IsKnown(what); }
    // Loads a configuration file into the copy; every page showing one of
    // its blocks shows the file (blockRead). False with the reason in `error`.
    bool LoadConfig(const QString &name, QString *error = nullptr);
    // The configuration as the last file loaded in this session held it,
    // kept apart from the copy that later reads and writes change; nullptr
    // when none was loaded since connecting.
    const tConfigValues *LoadedConfig() const { return loaded ? &*loaded : nullptr; }

  Q_SIGNALS:
    // A line for the status line and the event memo, and one for the
    // application event log file.
    void report(uint32_t color, const QString &text);
    void logLine(const QString &text);
    // After every connection attempt and every end of a session.
    void connectionChanged(bool connected);
    // The adapter of `port` was pulled out; the session has ended.
    void portLost(const QString &port);
    // The copy received `blocks` (tKnown bits) from the controller or a
    // file: every page showing one of them shows them again, so a write
    // never sends a page that shows something else.
    void blockRead(uint32_t blocks);
    void visitedChanged(tMenu menu, bool visited);
    // The driver's observations, relayed.
    void exchanged(const tExchange &exchange);
    void aboutToWrite(const tWrite &write);

  private:
    void AboutToWrite(const tWrite &w) override;
    void Exchanged(const tExchange &e) override;
    void PortLost();

    tOndrel &dev;
    QTimer *timer;
    std::array<bool, tMenuCount> visited{};
    bool lostPortSaid = false;
    std::optional<tConfigValues> loaded;
};
