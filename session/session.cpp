#include "session.h"

#include "port_name.h"

#include "bus_scan.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

tSession::tSession(QObject *parent)
    : QObject(parent), dev(std::make_unique<tOndrel>()), timer(new QTimer(this)) {
    timer->setObjectName(QStringLiteral("timerProcess"));
    timer->setInterval(1000);
    dev->AddObserver(this);
}

tSession::~tSession() {
    // The tap writes what it holds while the driver is still there.
    historyTap.reset();
    if (lineThread) {
        // After the exchange on the line (if any), the port closes on its own
        // thread and its object comes back here, to go with the driver.
        QThread *here = thread();
        QMetaObject::invokeMethod(
            lineObject.get(),
            [this, here] {
                dev->ClosePort();
                dev->MoveLinkTo(here);
            },
            Qt::BlockingQueuedConnection);
        lineThread->quit();
        lineThread->wait();
        dev->SetLinkPoster({}, {});
    }
    dev->RemoveObserver(this);
}

void tSession::UseLineThread() {
    if (lineThread)
        return;
    lineThread = std::make_unique<QThread>();
    lineThread->setObjectName(QStringLiteral("line"));
    lineObject = std::make_unique<QObject>();
    lineObject->moveToThread(lineThread.get());
    dev->MoveLinkTo(lineThread.get());
    lineThread->start();
    dev->SetLinkPoster(
        [this](std::function<void()> f) {
            // The scan's own settings, on the line already, take effect at once.
            if (QThread::currentThread() == lineThread.get()) {
                f();
                return;
            }
            const tTask<int32_t> posted = OnLine(std::move(f));
        },
        [this](std::function<void()> f) {
            QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
        });
}

tTask<int32_t> tSession::OnLine(std::function<void()> f) {
    if (!lineThread) {
        f();
        co_return 1;
    }
    auto answer = std::make_shared<tAnswer>();
    ++lineOps;
    QMetaObject::invokeMethod(
        lineObject.get(),
        [this, f = std::move(f), answer] {
            f();
            const tLinkState state = dev->LinkState();
            QMetaObject::invokeMethod(
                this,
                [this, state, answer] {
                    --lineOps;
                    dev->SetLinkState(state);
                    Answer(answer, 1);
                    LineFreed();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    tAnswerAwait done{answer};
    co_return co_await done;
}

void tSession::RunOnLine(tCommand cmd, const std::shared_ptr<tAnswer> &answer, bool settle) {
    auto job = std::make_shared<tOndrelJob>(dev->Begin(cmd));
    ++lineOps;
    QMetaObject::invokeMethod(
        lineObject.get(),
        [this, job, answer, settle] {
            dev->Transact(*job);
            const tLinkState state = dev->LinkState();
            QMetaObject::invokeMethod(
                this,
                [this, job, answer, settle, state] {
                    --lineOps;
                    dev->SetLinkState(state);
                    const bool current = job->epoch == dev->Epoch();
                    int32_t result = dev->Finish(*job);
                    if (settle && current) {
                        lostPortSaid = false;
                        result = Settle(job->cmd, result);
                    }
                    Answer(answer, result);
                    LineFreed();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void tSession::LineFreed() {
    if (lineOps == 0)
        for (const std::coroutine_handle<> waiter : std::exchange(idleWaiters, {}))
            waiter.resume();
    ScheduleNext();
}

void tSession::Stop() {
    stopped = true;
    scanCancel = true;
    timer->stop();
    for (const tRequest &r : std::exchange(queue, {}))
        Answer(r.answer, 0);
}

tTask<int32_t> tSession::WhenIdle() {
    tIdleAwait idle{this};
    co_await idle;
    co_return 1;
}

tTask<int32_t> tSession::Open(QString port, int32_t id) {
    // The link figures are the session's, its identification included.
    dev->ResetLinkStats();
    int32_t result = 0;
    if (!lineThread) {
        result = dev->OpenConnection(port, id);
    } else {
        tTask<int32_t> idle = WhenIdle();
        co_await idle;
        tOpenJob job = dev->OpenBegin(port, id);
        tTask<int32_t> opening = OnLine([this, &job] { dev->OpenLink(job); });
        co_await opening;
        result = dev->OpenEnd(job);
        if (result >= 0) {
            auto answer = std::make_shared<tAnswer>();
            RunOnLine(cmdGET_INFO, answer, false);
            tAnswerAwait identified{answer};
            result = co_await identified;
            if (result > 0) {
                dev->Identified();
                result = 1;
            }
        }
    }
    FollowConnection();
    Q_EMIT connectionChanged(dev->Connected());
    // The identification brought the operation codes: a page still showing
    // another session's shows this one's.
    if (dev->Connected())
        Q_EMIT blockRead(dev->Known);
    co_return result;
}

void tSession::End() {
    if (!dev->Connected())
        return;
    Q_EMIT report(false, QStringLiteral("Saúde da comunicação: ") + dev->LinkStats().Summary());
    dev->CloseConnection();
    reached = 0;
    // What waits was asked of this session; the exchange on the line ends
    // on its own, unread.
    if (lineThread)
        for (const tRequest &r : std::exchange(queue, {}))
            Answer(r.answer, 0);
    Q_EMIT logLine(QStringLiteral("FECHANDO CONEXÃO"));
    Q_EMIT report(false, QStringLiteral("Desconectado do dispositivo"));
    FollowConnection();
    Q_EMIT connectionChanged(false);
}

tTask<int32_t> tSession::Send(tCommand cmd, tPriority priority) {
    // A free line takes the command now unless one asked before it, or of
    // higher rank, still waits: background reads never hold up a person.
    if (stopped)
        co_return 0;
    const bool ahead = std::any_of(queue.begin(), queue.end(), [&](const tRequest &r) {
        return r.priority == tPriority::Person || priority == tPriority::Background;
    });
    if (!lineThread && !dev->Busy && !ahead)
        co_return SendCommand(cmd);
    // Every await here and in the sequences is of a named task: GCC 12
    // destroys a temporary inside a co_await expression twice.
    tAnswerAwait answer{Enqueue(cmd, priority)};
    co_return co_await answer;
}

std::shared_ptr<tSession::tAnswer> tSession::Enqueue(tCommand cmd, tPriority priority) {
    auto answer = std::make_shared<tAnswer>();
    const auto background = [](const tRequest &r) { return r.priority == tPriority::Background; };
    if (priority == tPriority::Background) {
        for (const tRequest &r : queue)
            if (background(r) && r.cmd == cmd)
                return r.answer;
        if (queue.size() >= queueBound) {
            answer->done = true;
            return answer;
        }
        queue.push_back({cmd, priority, answer});
    } else {
        if (queue.size() >= queueBound) {
            const auto newest = std::find_if(queue.rbegin(), queue.rend(), background);
            if (newest != queue.rend()) {
                const std::shared_ptr<tAnswer> dropped = newest->answer;
                queue.erase(std::next(newest).base());
                Answer(dropped, 0);
            }
        }
        // Before the first background read waiting.
        queue.insert(std::find_if(queue.begin(), queue.end(), background), {cmd, priority, answer});
    }
    ScheduleNext();
    return answer;
}

void tSession::Answer(const std::shared_ptr<tAnswer> &answer, int32_t result) {
    answer->done = true;
    answer->result = result;
    for (const std::coroutine_handle<> waiter : std::exchange(answer->waiters, {}))
        waiter.resume();
}

void tSession::ScheduleNext() {
    if (queue.empty() || nextScheduled)
        return;
    nextScheduled = true;
    QMetaObject::invokeMethod(this, &tSession::RunNext, Qt::QueuedConnection);
}

void tSession::RunNext() {
    nextScheduled = false;
    // Still inside an exchange's wait: its end schedules the next.
    if (queue.empty() || dev->Busy || lineOps > 0 || !idleWaiters.empty())
        return;
    const tRequest next = queue.front();
    queue.pop_front();
    if (lineThread) {
        RunOnLine(next.cmd, next.answer, true);
        return;
    }
    Answer(next.answer, SendCommand(next.cmd));
    ScheduleNext();
}

int32_t tSession::SendCommand(tCommand cmd) {
    lostPortSaid = false;
    const int32_t result = dev->SendCommand(cmd);
    ScheduleNext();
    return Settle(cmd, result);
}

int32_t tSession::Settle(tCommand cmd, int32_t result) {
    if (result < 0) {
        if (result != errMODBUS_BUSY && dev->PortLost())
            PortLost();
        return result;
    }
    const tCommandShape shape = CommandShape(cmd);
    if (shape.kind == readREGS && shape.known)
        Q_EMIT blockRead(shape.known);
    return result;
}

void tSession::PortLost() {
    const QString port = dev->PortName();
    const QString lost = dev->PortLostText();
    Q_EMIT report(true, lost);
    Q_EMIT logLine(lost);
    End();
    Q_EMIT portLost(port);
    lostPortSaid = true;
}

bool tSession::TakePortLostSaid() {
    return std::exchange(lostPortSaid, false);
}

void tSession::SetRefresh(bool run) {
    if (!run)
        timer->stop();
    else if (dev->Connected() && !timer->isActive())
        timer->start();
}

void tSession::FollowConnection() {
    if (dev->Connected()) {
        SetRefresh(true);
        return;
    }
    timer->stop();
    loaded.reset();
}

bool tSession::LoadConfig(const QString &name, QString *error) {
    if (!dev->LoadConfig(name, error))
        return false;
    loaded = ConfigOf(*dev);
    Q_EMIT blockRead(knownSYSTEM | knownUNIT | knownOPS | knownRelay(0) | knownRelay(1) |
                     knownRelay(2) | knownRelay(3));
    return true;
}

void tSession::SetHistorySink(tHistorySink sink) {
    historyTap.reset();
    if (sink.audit || sink.slot)
        historyTap = std::make_unique<tHistoryTap>(*dev, std::move(sink));
}

tIdentityCache &tSession::Identities() {
    if (!cache)
        cache.emplace();
    return *cache;
}

void tSession::SaveIdentities() {
    if (cache)
        cache->Save();
}

// Several addresses share the port: another address is a new session on
// it, identified afresh unless its identification is known. A session that
// failed is identified again too.
int32_t tSession::Reach(const QString &port, int32_t id, tReach how, const QString &model) {
    if (reached == id && dev->Connected())
        return 1;
    reached = 0;
    std::optional<tIdentity> known;
    if (how == tReach::InRun && identifiedInRun.contains(id))
        known = Identities().Find(port, id);
    if (how == tReach::Cached) {
        known = Identities().Find(port, id);
        // A model given: the operation codes too when the cache has that
        // model there; otherwise they are not known and show as such.
        if (!model.isEmpty() && (!known || known->model != model))
            known = tIdentity{model, QString(), {-1, -1, -1, -1}};
    }
    const int32_t r = known ? dev->OpenIdentified(port, id, *known) : dev->OpenConnection(port, id);
    if (r == errMODBUS_OPEN_UART) {
        portGone = true;
        return r;
    }
    portOpened = true;
    if (r < 0) {
        Failed(port, id);
        return r;
    }
    if (!known) {
        Identities().Store(port, id, dev->Identification());
        identifiedInRun.insert(id);
    }
    reached = id;
    return r;
}

void tSession::Failed(const QString &port, int32_t id) {
    reached = 0;
    Identities().Forget(port, id);
    identifiedInRun.remove(id);
    if (!dev->PortActive())
        portGone = true;
}

void tSession::Poll(const QString &port, const QList<int> &ids, double seconds,
                    const tPollHooks &hooks) {
    const auto period =
        std::chrono::duration_cast<tClock::duration>(std::chrono::duration<double>(seconds));
    auto say = [&](const QString &text) {
        if (hooks.message)
            hooks.message(text);
    };
    // A connection to a gateway drops and comes back as an adapter does.
    const bool network = ParsePortName(port).network();
    auto next = tClock::now();
    for (;;) {
        if (portGone) {
            if (!portOpened)
                return;
            say((network ? QStringLiteral("a conexão com %1 caiu; nova tentativa a cada %2 s, "
                                          "até ela voltar")
                         : QStringLiteral("a porta %1 sumiu; nova tentativa a cada %2 s, até "
                                          "ela voltar"))
                    .arg(port)
                    .arg(reopenSeconds));
            while (portGone) {
                if (!hooks.waitUntil(tClock::now() + std::chrono::seconds(reopenSeconds)))
                    return;
                const int32_t first = ids.first();
                const int32_t r = dev->OpenConnection(port, first);
                if (r == errMODBUS_OPEN_UART)
                    continue;
                portGone = false;
                reached = r > 0 ? first : 0;
                say((network ? QStringLiteral("conexão com %1 refeita")
                             : QStringLiteral("porta %1 reaberta"))
                        .arg(port));
            }
            next = tClock::now();
        }
        if (hooks.round)
            hooks.round();
        for (int id : ids) {
            if (portGone)
                break;
            if (!hooks.each(id))
                return;
        }
        if (portGone)
            continue;
        next += period;
        if (next < tClock::now())
            next = tClock::now(); // a slow round delays the next, it does not crowd them
        if (!hooks.waitUntil(next))
            return;
    }
}

tTask<tScanResult> tSession::Scan(tScanOptions options, tScanIo io) {
    reached = 0;
    if (!lineThread)
        co_return ScanBus(*dev, options, io);
    tTask<int32_t> idle = WhenIdle();
    co_await idle;
    scanCancel = false;
    // What the scan tells comes back here in the order told, before its end.
    const tScanIo onLine{
        .progress =
            [this, io](int32_t id, int32_t speed, int32_t done, int32_t total) {
                if (io.progress)
                    QMetaObject::invokeMethod(
                        this, [io, id, speed, done, total] { io.progress(id, speed, done, total); },
                        Qt::QueuedConnection);
            },
        .found =
            [this, io](const tFoundController &f) {
                if (io.found)
                    QMetaObject::invokeMethod(
                        this, [io, f] { io.found(f); }, Qt::QueuedConnection);
            },
        .cancelled = [this] { return scanCancel.load(); }};
    tScanResult result;
    tTask<int32_t> scanning =
        OnLine([this, &options, &onLine, &result] { result = ScanBus(*dev, options, onLine); });
    co_await scanning;
    co_return result;
}

void tSession::AboutToWrite(const tWrite &w) {
    Q_EMIT aboutToWrite(w);
}

void tSession::Exchanged(const tExchange &e) {
    Q_EMIT exchanged(e);
}
