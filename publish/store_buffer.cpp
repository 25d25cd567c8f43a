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

void tStoreBuffer::append(const tStatusReading &reading) {
    // Tried for every reading: a file that refused (disk full, locked too
    // long by another program) takes them again as soon as it can.
    if (const int64_t id = FStore->Writer().AddQueued(FTarget, {.reading = reading})) {
        FWindow.push_back({.seq = seqOfId(id), .stored = true, .reading = reading});
        FLastId = id;
        FMemoryCount = 0;
        if (std::exchange(FRefused, false))
            FNotices
                << QStringLiteral("histórico %1: volta a guardar as leituras").arg(FStore->Path());
    } else {
        if (!std::exchange(FRefused, true))
            fileFailed(QStringLiteral("recusou a leitura; enquanto recusar, as leituras esperam "
                                      "na memória, até %1 por controlador, e se perdem se o "
                                      "programa parar")
                           .arg(memoryBufferReadings),
                       FStore->Writer().Message());
        FWindow.push_back(
            {.seq = seqOfId(FLastId) + ++FMemoryCount, .stored = false, .reading = reading});
        ++FMemoryAlone;
    }
    // Readings in the file leave memory from the front (the file gives them
    // back); a reading in memory alone that reaches the front of a full
    // window is lost, as in the memory buffer.
    while (FWindow.size() >
           (FMemoryAlone ? windowReadings + memoryBufferReadings : windowReadings)) {
        if (FWindow.front().stored) {
            ++FFileOnly;
        } else {
            ++FLost;
            --FMemoryAlone;
        }
        FWindow.pop_front();
    }
}

std::vector<tPending> tStoreBuffer::from(uint64_t first, size_t count) {
    std::vector<tPending> out;
    const uint64_t windowStart = FWindow.empty() ? 0 : FWindow.front().seq;
    if (FFileOnly > 0 && (windowStart == 0 || first < windowStart)) {
        tHistoryStore *file = reader();
        int64_t next = std::max(idFrom(first), FDone + 1);
        // Entries held by the file alone all come before the window.
        const int64_t before = windowStart ? idFrom(windowStart) : 0;
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
                if (!e.gone)
                    out.push_back({.seq = seqOfId(e.id), .reading = e.reading});
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
        // The entries held by the file alone all come before the window.
        int64_t upTo = int64_t(seq >> idShift);
        if (!FWindow.empty())
            upTo = std::min(upTo, idFrom(FWindow.front().seq) - 1);
        if (upTo > FDone) {
            const int64_t n = reader() ? reader()->QueuedCount(FTarget, FDone, upTo) : -1;
            if (n >= 0) {
                FFileOnly = std::max<int64_t>(0, FFileOnly - n);
                mark = upTo;
            }
        }
    }
    while (!FWindow.empty() && FWindow.front().seq <= seq) {
        if (FWindow.front().stored)
            mark = int64_t(FWindow.front().seq >> idShift);
        else
            --FMemoryAlone;
        FWindow.pop_front();
    }
    if (mark <= FDone)
        return;
    FDone = mark;
    tHistoryStore *file = reader();
    if (file && file->SetPublished(FTarget, mark))
        return;
    if (!std::exchange(FMarkFailed, true))
        fileFailed(QStringLiteral("não guardou o que o broker confirmou; depois de reiniciar, "
                                  "leituras já publicadas podem ser publicadas de novo"),
                   file ? file->Message() : QString());
}
