#include "log_walk.h"

#include "event_log.h"

tTask<tLogWalkResult> WalkLog(tOndrel &dev, tLogWalk walk) {
    tLogWalkResult out;
    auto failed = [&](tCommand cmd, int32_t result, int32_t slot) {
        out.end = tLogWalkEnd::Failed;
        out.failed = cmd;
        out.result = result;
        out.failedSlot = slot;
        return out;
    };
    dev.LogLastSlot = -1;
    tTask<int32_t> info = walk.send(cmdGET_LOG_INFO);
    if (const int32_t r = co_await info; r < 0)
        co_return failed(cmdGET_LOG_INFO, r, -1);
    if (walk.info)
        walk.info();
    const std::vector<int32_t> order = LogSlotOrder(dev.LogCountSlots, dev.LogLastSlot, walk.limit);
    out.total = int(order.size());
    if (order.empty())
        co_return out; // Empty
    // Walked to the end of the order: the limit, unless the ring was shorter.
    out.end = out.total < walk.limit + 1 ? tLogWalkEnd::EndOfLog : tLogWalkEnd::Limit;
    for (int32_t slot : order) {
        if (!dev.Connected()) {
            out.end = tLogWalkEnd::Disconnected;
            break;
        }
        if (walk.cancelled && walk.cancelled()) {
            out.end = tLogWalkEnd::Cancelled;
            break;
        }
        if (walk.progress)
            walk.progress(out.walked, out.total);
        dev.LogSlotRead = slot;
        tTask<int32_t> select = walk.send(cmdSET_LOG_READ);
        if (const int32_t r = co_await select; r < 0)
            co_return failed(cmdSET_LOG_READ, r, slot);
        if (walk.selected)
            walk.selected(slot);
        tTask<int32_t> read = walk.send(cmdGET_LOG_READ);
        if (const int32_t r = co_await read; r < 0)
            co_return failed(cmdGET_LOG_READ, r, slot);
        ++out.walked;
        // The ring fills in order: a slot never written has nothing older behind it.
        if (!LogSlotWritten(dev.Log)) {
            out.end = tLogWalkEnd::EndOfLog;
            break;
        }
        if (walk.slotRead && !walk.slotRead(slot, dev.Log)) {
            out.end = tLogWalkEnd::Stopped;
            break;
        }
        ++out.events;
    }
    co_return out;
}

QString LogWalkEndText(tLogWalkEnd end) {
    switch (end) {
    case tLogWalkEnd::Empty:
        return QStringLiteral("LOG vazio");
    case tLogWalkEnd::EndOfLog:
        return QStringLiteral("fim do LOG");
    case tLogWalkEnd::Limit:
        return QStringLiteral("limite");
    case tLogWalkEnd::Stopped:
        return QStringLiteral("já lido");
    case tLogWalkEnd::Cancelled:
        return QStringLiteral("cancelado");
    case tLogWalkEnd::Disconnected:
        return QStringLiteral("conexão encerrada");
    case tLogWalkEnd::Failed:
        return QStringLiteral("falha");
    }
    return {};
}
