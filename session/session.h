#pragma once

#include "config_sync.h"
#include "history_tap.h"
#include "identity_cache.h"
#include "task.h"
#include "u_ondrel.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#ifndef Q_MOC_RUN
#include <coroutine>
#endif
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class QTimer;
struct tScanIo;
struct tScanOptions;
struct tScanResult;

// Who asked for a command: a person's action goes before background reads.
enum class tPriority { Person, Background };

// The session with the controllers on one port, for every program: it owns
// the driver (and through it the port), opens sessions with one address or
// goes round several, notices a pulled adapter and opens the port again,
// keeps what identification told (and its cache between runs), the link
// figures and the history tap. What the user should see leaves as signals;
// a window, a test or a command-line run shows it.
//
// Observing the line: every command goes through the driver's observers
// (tOndrelObserver in u_ondrel.h: each exchange with its result and time,
// each write with the values before and after). The session relays them as
// the signals exchanged() and aboutToWrite().
class tSession : public QObject, private tOndrelObserver {
    Q_OBJECT
  public:
    explicit tSession(QObject *parent = nullptr);
    ~tSession() override;

    // The application's copy of the controller's state, which pages and
    // commands read and fill before a write.
    tOndrel &Ondrel() { return *dev; }
    const tOndrel &Ondrel() const { return *dev; }
    bool Connected() const { return dev->Connected(); }

    // The line on a thread of its own, for a program with a window: the
    // port lives there, every exchange and port operation runs there in
    // turn, and its answer is posted back, so the caller's thread never
    // waits on the line. Called once, before the first session. Without it
    // (tarvik-cli, test hosts) everything runs on the caller's thread and
    // every task below is done when it returns.
    void UseLineThread();
    bool HasLineThread() const { return lineThread != nullptr; }
    // Nothing on the line, nothing waiting its turn.
    bool Idle() const { return lineOps == 0 && queue.empty() && !dev->Busy; }
    // Ends once nothing is on the line (at once when so).
    tTask<int32_t> WhenIdle();
    // For a program about to go: nothing more is asked of the line. What
    // waits is dropped, a scan stops at its next address, and every later
    // request is answered at once with 0, unsent; the exchange on the line
    // ends on its own.
    void Stop();
    bool Stopped() const { return stopped; }

    // Opens a session with controller `id` on `port`, the link figures
    // starting afresh; the driver's result. connectionChanged follows,
    // whatever the outcome. With the line thread, after the exchange on the
    // line (a closed session's last) has ended.
    tTask<int32_t> Open(QString port, int32_t id);
    // Ends the open session: said in the reports and the event log, the
    // refresh stopped, requests still waiting dropped (their result 0), the
    // port closed after the exchange on the line. Nothing when none is open.
    void End();

    // The way to the controller for a program with events: the command goes
    // on the line now when the line is free, else it waits its turn, a
    // person's before background reads, each kind in the order asked; the
    // task ends with its answer. Never refused for being busy. A background
    // read asked again while the same one waits shares its answer; once
    // queueBound requests wait, a background read is dropped unsent (its
    // result 0), and a person's takes the place of the newest background one.
    tTask<int32_t> Send(tCommand cmd, tPriority priority = tPriority::Person);
    static constexpr size_t queueBound = 8;
    // Requests waiting their turn.
    size_t Waiting() const { return queue.size(); }
    // The command now, for a program without events (tarvik-cli) or a
    // sequence already given its turn. A failure that reveals a pulled
    // adapter ends the session (portLost).
    int32_t SendCommand(tCommand cmd);
    // True once after the failure that revealed a lost port: that failure
    // has been said already and needs no second report.
    bool TakePortLostSaid();

    // The status refresh, ticking every second exactly while connected (the
    // status pages connect to its timeout). SetRefresh(false) holds it for a
    // long exchange; SetRefresh(true) starts it again only while connected.
    QTimer *timerProcess() const { return timer; }
    void SetRefresh(bool run);
    // The refresh in line with the connection: running while connected.
    void FollowConnection();

    // The copy holds `what` (tKnown bits, all of them) for this session.
    bool IsKnown(uint32_t what) const { return dev->IsKnown(what); }
    // Loads a configuration file into the copy; every page showing one of
    // its blocks shows the file (blockRead). False with the reason in `error`.
    bool LoadConfig(const QString &name, QString *error = nullptr);
    // The configuration as the last file loaded in this session held it,
    // kept apart from the copy that later reads and writes change; nullptr
    // when none was loaded since connecting.
    const tConfigValues *LoadedConfig() const { return loaded ? &*loaded : nullptr; }

    // Every write sent and every event log slot read go to `sink` from now
    // on, whoever sends the command; an empty sink stops the tap.
    void SetHistorySink(tHistorySink sink);

    // Going round the addresses of a bus, each reached in turn on one port.
    // How an address is reached when the session is with another one:
    enum class tReach {
        Identify, // identified afresh
        Cached,   // without an exchange when the cache (or `model`) knows it
        InRun,    // identified once in this run and again after any failure
    };
    // A session with `id` on `port`; the driver's result (1 when already
    // there). errMODBUS_OPEN_UART: the port cannot be opened (PortGone()).
    int32_t Reach(const QString &port, int32_t id, tReach how, const QString &model = {});
    // The exchange with `id` failed: whatever answers there next is
    // identified again; the port counts as gone when it failed under it.
    void Failed(const QString &port, int32_t id);
    // The port cannot be opened now, or failed under a command.
    bool PortGone() const { return portGone; }
    // The port opened at least once since this session was made.
    bool PortOpened() const { return portOpened; }
    // The identity cache, read on first use; Save writes it back.
    tIdentityCache &Identities();
    void SaveIdentities();

    // Rounds over the addresses, one every `seconds`, until `hooks` stop
    // them. A port that vanishes is said once and tried again every
    // reopenSeconds; the rounds go on once it is back. A port that never
    // opened ends the rounds (a wrong name, not a loss).
    using tClock = std::chrono::steady_clock;
    struct tPollHooks {
        // Before each round.
        std::function<void()> round = {};
        // One address of a round; false ends the rounds at once.
        std::function<bool(int32_t id)> each = {};
        // Waits until the deadline; false: stop.
        std::function<bool(tClock::time_point)> waitUntil = {};
        // A line for the user.
        std::function<void(const QString &)> message = {};
    };
    static constexpr int reopenSeconds = 3;
    void Poll(const QString &port, const QList<int> &ids, double seconds, const tPollHooks &hooks);

    // The bus scan through this session's driver (bus_scan.h). With the
    // line thread it runs there as one job once the line is idle, `io`'s
    // progress and finds posted back, and CancelScan stops it (io.cancelled
    // is not asked there).
    tTask<tScanResult> Scan(tScanOptions options, tScanIo io);
    void CancelScan() { scanCancel = true; }

  Q_SIGNALS:
    // A line for the status line and the event memo (`failure` for one that
    // says something went wrong), and one for the application event log file.
    void report(bool failure, const QString &text);
    void logLine(const QString &text);
    // After every connection attempt and every end of a session.
    void connectionChanged(bool connected);
    // The adapter of `port` was pulled out; the session has ended.
    void portLost(const QString &port);
    // The copy received `blocks` (tKnown bits) from the controller or a
    // file: every page showing one of them shows them again, so a write
    // never sends a page that shows something else.
    void blockRead(uint32_t blocks);
    // The driver's observations, relayed.
    void exchanged(const tExchange &exchange);
    void aboutToWrite(const tWrite &write);

  private:
    struct tAnswer {
        bool done = false;
        int32_t result = 0;
        // Everyone waiting for it (a background read asked twice).
        std::vector<std::coroutine_handle<>> waiters;
    };
    struct tRequest {
        tCommand cmd;
        tPriority priority;
        std::shared_ptr<tAnswer> answer;
    };
    struct tAnswerAwait {
        std::shared_ptr<tAnswer> answer;
        bool await_ready() const noexcept { return answer->done; }
        void await_suspend(std::coroutine_handle<> h) { answer->waiters.push_back(h); }
        int32_t await_resume() const noexcept { return answer->result; }
    };
    struct tIdleAwait {
        tSession *session;
        bool await_ready() const noexcept { return session->lineOps == 0; }
        void await_suspend(std::coroutine_handle<> h) { session->idleWaiters.push_back(h); }
        void await_resume() const noexcept {}
    };
    std::shared_ptr<tAnswer> Enqueue(tCommand cmd, tPriority priority);
    // On the line thread after everything posted before, the line's state
    // handed back after it; done when it has run.
    tTask<int32_t> OnLine(std::function<void()> f);
    // One command on the line thread; `settle`: as SendCommand ends one.
    void RunOnLine(tCommand cmd, const std::shared_ptr<tAnswer> &answer, bool settle);
    // What follows a command's end, for the session: a lost port said, the
    // blocks read announced.
    int32_t Settle(tCommand cmd, int32_t result);
    void LineFreed();
    static void Answer(const std::shared_ptr<tAnswer> &answer, int32_t result);
    // The next request waiting goes on the line, from the event loop: never
    // inside another's wait.
    void ScheduleNext();
    void RunNext();

    void AboutToWrite(const tWrite &w) override;
    void Exchanged(const tExchange &e) override;
    void PortLost();

    std::unique_ptr<tOndrel> dev;
    QTimer *timer;
    bool lostPortSaid = false;
    std::optional<tConfigValues> loaded;
    std::unique_ptr<tHistoryTap> historyTap;
    std::optional<tIdentityCache> cache;
    int32_t reached = 0; // the address the session is open with; 0: none
    bool portOpened = false;
    bool portGone = false;
    QSet<int32_t> identifiedInRun; // identified in this run, with no failure since
    std::deque<tRequest> queue;
    bool nextScheduled = false;
    std::unique_ptr<QThread> lineThread;
    std::unique_ptr<QObject> lineObject; // lives there; posted functions run in its name
    int32_t lineOps = 0;                 // posted to the line, not yet back
    std::vector<std::coroutine_handle<>> idleWaiters;
    std::atomic<bool> scanCancel = false;
    bool stopped = false;
};
