#pragma once

// Readings that wait for the broker in the history file: each reading the
// publisher takes is recorded there as a reading of its controller, with an
// entry in a queue per broker, topic prefix and controller, and the file
// keeps how far the broker has acknowledged. A publisher started again after
// a crash or a reboot during an outage finds the readings it had not
// delivered and sends them first, in order, each with its own time.
//
// A reading the file refuses (disk full, locked too long) waits in memory,
// is published from there meanwhile, and goes into the file, in its place,
// as soon as the file takes a write again.
//
// Threads: the file is reached through two connections, one opened on the
// thread that appends (the reading thread) and one opened by the network
// thread at its first need, let go in threadEnds. The newest readings are
// also kept in a small window in memory, so the network thread reads the
// file only for a backlog.

#include "buffer.h"
#include "history_store.h"

#include <QStringList>

#include <deque>
#include <map>
#include <memory>

// The history file as the buffers of one publisher share it.
class tPublishStore {
  public:
    // Opens the file on the calling thread, the one that will append; empty,
    // with the reason in `error`, when it cannot be written.
    static std::shared_ptr<tPublishStore> Open(const QString &path, QString &error);

    QString Path() const { return FPath; }
    tHistoryStore &Writer() { return FWriter; }
    // The network thread's connection, opened at its first use; nullptr,
    // with the reason in `error`, when the file cannot be opened there.
    tHistoryStore *Reader(QString &error);
    void ReleaseReader() { FReader.reset(); }

  private:
    QString FPath;
    tHistoryStore FWriter;
    std::unique_ptr<tHistoryStore> FReader;
};

class tStoreBuffer : public tReadingBuffer {
  public:
    // The buffer of `port`/`address` towards `broker` under `prefix`, with
    // whatever an earlier run left undelivered; nullptr, with the reason in
    // `error`, when the file refuses.
    static std::unique_ptr<tStoreBuffer> Make(std::shared_ptr<tPublishStore> store,
                                              const QString &broker, const QString &prefix,
                                              const QString &port, int address, QString &error);

    void append(const tStatusReading &reading) override;
    std::vector<tPending> from(uint64_t from, size_t count) override;
    void acknowledge(uint64_t seq) override;
    size_t size() const override { return size_t(FFileOnly) + FWindow.size(); }
    size_t kept() const override;
    uint64_t takeLost() override { return std::exchange(FLost, 0); }
    QString describe() const override;
    QStringList takeNotices() override { return std::exchange(FNotices, {}); }
    void threadEnds() override { FStore->ReleaseReader(); }
    size_t storeWaiting() override;

    // Readings kept in memory besides the file: the newest, so that the
    // network thread seldom reads the file.
    static constexpr size_t windowReadings = 256;

  private:
    tStoreBuffer(std::shared_ptr<tPublishStore> store, int64_t target, int64_t done,
                 int64_t waiting, int64_t last);
    tHistoryStore *reader();
    void fileFailed(const QString &what, const QString &why);
    // The readings the file refused, in order, as far as it takes them now;
    // whether none waits any more.
    bool fileRefused();
    // The sequence number the broker knows the entry `id` by.
    uint64_t seqOf(int64_t id) const;
    // The entry the file-only ones all come before (0: no end).
    int64_t fileOnlyBefore() const;

    // Sequence numbers: a queue entry's id shifted left, so that readings
    // the file refused fit between the entry before them and the next one
    // (id << idShift, then + 1, + 2...), and order holds when the file
    // takes readings again.
    static constexpr int idShift = 24;
    static uint64_t seqOfId(int64_t id) { return uint64_t(id) << idShift; }
    // The first id whose sequence number is `seq` or more.
    static int64_t idFrom(uint64_t seq) {
        return int64_t((seq + (uint64_t(1) << idShift) - 1) >> idShift);
    }

    struct tItem {
        uint64_t seq;
        int64_t id; // the file's queue entry; 0: in memory alone
        tStatusReading reading;
    };
    // A reading the file refused, waiting to go in: with a queue entry if
    // the broker still needs it (it is in the window), as a reading of the
    // history alone if the broker has it already.
    struct tRefused {
        uint64_t seq;
        tStatusReading reading;
    };

    std::shared_ptr<tPublishStore> FStore;
    int64_t FTarget;
    int64_t FDone;             // the last entry the broker acknowledged, as the file keeps it
    int64_t FFileOnly;         // entries waiting in the file and not in the window
    int64_t FLastId;           // the newest entry of this target
    uint64_t FMemoryCount = 0; // readings in memory alone since entry FLastId
    size_t FMemoryAlone = 0;   // of the window, the readings the file refused
    int64_t FGoneSeen = 0;
    std::deque<tItem> FWindow;
    std::deque<tRefused> FRefusedReadings;
    // Entries stored after the file refused them, by id: the sequence
    // number they were sent under meanwhile.
    std::map<int64_t, uint64_t> FLateSeq;
    bool FRefused = false; // the file refuses readings: they wait in memory
    bool FReaderFailed = false;
    bool FMarkFailed = false;
    uint64_t FLost = 0;
    uint64_t FNotStored = 0; // refused readings given up for room
    QStringList FNotices;
};
