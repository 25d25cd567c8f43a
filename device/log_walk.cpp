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
    const int32_t infoResult = co_await info;
    if (infoResult < 0)
        co_return failed(cmdGET_LOG_INFO, infoResult, -1);
    // A request dropped unsent (result 0): the program is going.
    if (infoResult == 0) {
        out.end = tLogWalkEnd::Cancelled;
        co_return out;
    }
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
        const int32_t selectResult = co_await select;
        if (selectResult < 0)
            co_return failed(cmdSET_LOG_READ, selectResult, slot);
        if (selectResult == 0) {
            out.end = tLogWalkEnd::Cancelled;
            break;
        }
        if (walk.selected)
            walk.selected(slot);
        tTask<int32_t> read = walk.send(cmdGET_LOG_READ);
        const int32_t readResult = co_await read;
        if (readResult < 0)
            co_return failed(cmdGET_LOG_READ, readResult, slot);
        if (readResult == 0) {
            out.end = tLogWalkEnd::Cancelled;
            break;
        }
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
