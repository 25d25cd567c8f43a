#include "store_buffer.h"

#include "publisher.h"
#include "u_ondrel.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

std::shared_ptr<tPublishStore> tPublishStore::Open(const QString &path, QString &error) {
    auto store = std::make_shared<tPublishStore>();
    store->FPath = path;
    if (!store->FWriter.Open(path)) {
        error = store->FWriter.Message();
        return nullptr;
    }
    if (store->FWriter.ReadOnly()) {
        error = store->FWriter.Message();
        return nullptr;
    }
    return store;
}

tHistoryStore *tPublishStore::Reader(QString &error) {
    if (!FReader) {
        auto reader = std::make_unique<tHistoryStore>();
        if (!reader->Open(FPath)) {
            error = reader->Message();
            return nullptr;
        }
        FReader = std::move(reader);
    }
    return FReader.get();
}

std::unique_ptr<tStoreBuffer> tStoreBuffer::Make(std::shared_ptr<tPublishStore> store,
                                                 const QString &broker, const QString &prefix,
                                                 const QString &port, int address, QString &error) {
    tHistoryStore &file = store->Writer();
    int64_t done = 0, last = 0;
    const int64_t target = file.PublishTarget(broker, prefix, port, address, &done);
    const int64_t waiting =
        target ? file.QueuedCount(target, done, std::numeric_limits<int64_t>::max(), &last) : -1;
    if (waiting < 0) {
        error = file.Message();
        return nullptr;
    }
    std::unique_ptr<tStoreBuffer> b(
        new tStoreBuffer(std::move(store), target, done, waiting, last));
    if (waiting > 0)
        b->FNotices << QStringLiteral("endereço %1: %2 leitura(s) de antes esperam no histórico e "
                                      "são publicadas primeiro")
                           .arg(address)
                           .arg(waiting);
    return b;
}

tStoreBuffer::tStoreBuffer(std::shared_ptr<tPublishStore> store, int64_t target, int64_t done,
                           int64_t waiting, int64_t last)
    : FStore(std::move(store)), FTarget(target), FDone(done), FFileOnly(waiting), FLastId(last) {}

size_t tStoreBuffer::kept() const {
    return size_t(FFileOnly) + FWindow.size() - FMemoryAlone;
}

QString tStoreBuffer::describe() const {
    return QStringLiteral("no histórico %1 (sem limite além do espaço em disco)")
        .arg(FStore->Path());
}

void tStoreBuffer::fileFailed(const QString &what, const QString &why) {
    FNotices << QStringLiteral("histórico %1: %2 (%3)").arg(FStore->Path(), what, why);
}

tHistoryStore *tStoreBuffer::reader() {
    QString error;
    tHistoryStore *r = FStore->Reader(error);
    if (!r && !std::exchange(FReaderFailed, true))
        fileFailed(QStringLiteral("as leituras guardadas não puderam ser lidas"), error);
    return r;
}

bool tStoreBuffer::fileRefused() {
    tHistoryStore &file = FStore->Writer();
    while (!FRefusedReadings.empty()) {
        const tRefused &r = FRefusedReadings.front();
        auto it = std::lower_bound(FWindow.begin(), FWindow.end(), r.seq,
                                   [](const tItem &i, uint64_t s) { return i.seq < s; });
        if (it != FWindow.end() && it->seq == r.seq) {
            // The broker still needs it: an entry, after every one before.
            const int64_t id = file.AddQueued(FTarget, {.reading = r.reading});
            if (!id)
                return false;
            it->id = id;
            FLateSeq[id] = r.seq;
            FLastId = id;
            --FMemoryAlone;
        } else {
            // Published already, or given up for the broker: the history
            // still gets it.
            const tStatusReading &h = r.reading;
            const int64_t controller =
                file.ControllerId({0, h.port, h.address, h.model, h.firmware});
            if (!controller || !file.AddReading(controller, h))
                return false;
        }
        FRefusedReadings.pop_front();
    }
    return true;
}

void tStoreBuffer::append(const tStatusReading &reading) {
    // Tried for every reading: a file that refused (disk full, locked too
    // long by another program) takes them again as soon as it can, those it
    // refused first.
    const int64_t id =
        fileRefused() ? FStore->Writer().AddQueued(FTarget, {.reading = reading}) : int64_t(0);
    if (id) {
        FWindow.push_back({.seq = seqOfId(id), .id = id, .reading = reading});
        FLastId = id;
        FMemoryCount = 0;
        if (std::exchange(FRefused, false))
            FNotices
                << QStringLiteral("histórico %1: volta a guardar as leituras").arg(FStore->Path());
    } else {
        if (!std::exchange(FRefused, true))
            fileFailed(QStringLiteral("recusou a leitura; enquanto recusar, as leituras esperam "
                                      "na memória, até %1 por controlador, e vão para o "
                                      "histórico quando ele voltar a aceitar; se o programa "
                                      "parar antes, se perdem")
                           .arg(memoryBufferReadings),
                       FStore->Writer().Message());
        const uint64_t seq = seqOfId(FLastId) + ++FMemoryCount;
        FWindow.push_back({.seq = seq, .id = 0, .reading = reading});
        FRefusedReadings.push_back({.seq = seq, .reading = reading});
        ++FMemoryAlone;
        if (FRefusedReadings.size() > memoryBufferReadings) {
            FRefusedReadings.pop_front();
            ++FNotStored;
        }
    }
    // Readings in the file leave memory from the front (the file gives them
    // back); a reading in memory alone that reaches the front of a full
    // window is lost for the broker, as in the memory buffer.
    while (FWindow.size() >
           (FMemoryAlone ? windowReadings + memoryBufferReadings : windowReadings)) {
        if (FWindow.front().id) {
            ++FFileOnly;
        } else {
            ++FLost;
            --FMemoryAlone;
        }
        FWindow.pop_front();
    }
}

size_t tStoreBuffer::storeWaiting() {
    fileRefused();
    return FRefusedReadings.size() + size_t(FNotStored);
}

uint64_t tStoreBuffer::seqOf(int64_t id) const {
    const auto late = FLateSeq.find(id);
    return late != FLateSeq.end() ? late->second : seqOfId(id);
}

int64_t tStoreBuffer::fileOnlyBefore() const {
    // The window holds the newest readings: those in the file first, then
    // any the file refused.
    if (FWindow.empty())
        return 0;
    return FWindow.front().id ? FWindow.front().id : FLastId + 1;
}

std::vector<tPending> tStoreBuffer::from(uint64_t first, size_t count) {
    std::vector<tPending> out;
    const uint64_t windowStart = FWindow.empty() ? 0 : FWindow.front().seq;
    if (FFileOnly > 0 && (windowStart == 0 || first < windowStart)) {
        tHistoryStore *file = reader();
        // An entry stored late was sent under an earlier number: from
        // idFrom(first) on, some may come before `first`, and are skipped.
        int64_t next = std::max(idFrom(first), FDone + 1);
        const int64_t before = fileOnlyBefore();
        while (file && out.size() < count) {
            const std::vector<tHistQueued> rows =
                file->Queued(FTarget, next, before, int32_t(count - out.size()));
            if (file->LastFailed() && !std::exchange(FReaderFailed, true))
                fileFailed(QStringLiteral("as leituras guardadas não puderam ser lidas"),
                           file->Message());
            if (rows.empty()) {
                // Nothing left between the mark and the window: another
                // program's retention limit removed what was counted.
                if (next == FDone + 1 && !file->LastFailed())
                    FFileOnly = 0;
                break;
            }
            for (const tHistQueued &e : rows) {
                if (!e.gone && seqOf(e.id) >= first)
                    out.push_back({.seq = seqOf(e.id), .reading = e.reading});
                else if (e.id > FGoneSeen) {
                    // Removed by the retention limit before the broker had it.
                    FGoneSeen = e.id;
                    ++FLost;
                }
            }
            next = rows.back().id + 1;
        }
    }
    auto it = std::lower_bound(FWindow.begin(), FWindow.end(), first,
                               [](const tItem &i, uint64_t s) { return i.seq < s; });
    for (; it != FWindow.end() && out.size() < count; ++it)
        out.push_back({.seq = it->seq, .reading = it->reading});
    return out;
}

void tStoreBuffer::acknowledge(uint64_t seq) {
    int64_t mark = 0;
    if (FFileOnly > 0) {
        // The newest entry sent under `seq` or before; the entries held by
        // the file alone all come before the window.
        int64_t upTo = int64_t(seq >> idShift);
        for (const auto &[id, sentAs] : FLateSeq)
            if (sentAs <= seq)
                upTo = std::max(upTo, id);
        if (const int64_t before = fileOnlyBefore())
            upTo = std::min(upTo, before - 1);
        if (upTo > FDone) {
            const int64_t n = reader() ? reader()->QueuedCount(FTarget, FDone, upTo) : -1;
            if (n >= 0) {
                FFileOnly = std::max<int64_t>(0, FFileOnly - n);
                mark = upTo;
            }
        }
    }
    while (!FWindow.empty() && FWindow.front().seq <= seq) {
        if (FWindow.front().id)
            mark = std::max(mark, FWindow.front().id);
        else
            --FMemoryAlone;
        FWindow.pop_front();
    }
    if (mark <= FDone)
        return;
    FDone = mark;
    FLateSeq.erase(FLateSeq.begin(), FLateSeq.upper_bound(FDone));
    tHistoryStore *file = reader();
    if (file && file->SetPublished(FTarget, mark))
        return;
    if (!std::exchange(FMarkFailed, true))
        fileFailed(QStringLiteral("não guardou o que o broker confirmou; depois de reiniciar, "
                                  "leituras já publicadas podem ser publicadas de novo"),
                   file ? file->Message() : QString());
}
