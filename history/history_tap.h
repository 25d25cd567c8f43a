#pragma once

// What a controller was told and what its event log held, recorded into the
// history as it happens: a tap attached to a driver sees every write (the
// window's pages, tarvik-cli, a configuration sent whole) and every event
// log slot read, whoever sent the command.
//
// The tap only describes; where the records go is the owner's sink: a
// history file opened on first need (tHistoryFileSink), or a writer that
// stores them elsewhere or later. A record that could not be stored never
// holds up the write it describes.

#include "history_store.h"
#include "u_ondrel.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>

// Where a tap's records go. The controller comes as the driver knows it
// (its id is found by whoever stores); the record's `controller` is 0.
// Called inside the driver's SendCommand, once the exchange has ended: a
// sink sends no command.
struct tHistorySink {
    std::function<void(const tHistController &, const tHistAudit &)> audit;
    std::function<void(const tHistController &, const tHistLogSlot &)> slot;
};

class tHistoryTap : public tOndrelObserver {
  public:
    // Attaches to `dev` until destroyed.
    tHistoryTap(tOndrel &dev, tHistorySink sink);
    ~tHistoryTap() override;
    tHistoryTap(const tHistoryTap &) = delete;
    tHistoryTap &operator=(const tHistoryTap &) = delete;

    // The name written as the audit's user; the operating system's by default.
    void SetUser(const QString &user) { FUser = user; }

    void AboutToWrite(const tWrite &w) override;
    void Exchanged(const tExchange &e) override;

  private:
    tOndrel &FDev;
    tHistorySink FSink;
    QString FUser;
    std::optional<tWrite> FWrite; // announced, its exchange not ended yet
    int32_t FSelecting = -1;      // the log slot a selection being sent asks for
    int32_t FSelected = -1;       // the log slot the controller shows now
    // Each relay as last seen, by a status read or a switching sent,
    // whichever came last (1 on, 0 off, -1 not seen).
    std::array<int32_t, 4> FRelays{-1, -1, -1, -1};
    // The unit each relay's block was last read or written in (-1: not yet).
    std::array<int32_t, 4> FRelayUnit{-1, -1, -1, -1};
};

// The operating-system user running this program, as the audit trail and
// the report name it.
QString OsUserName();

// A write as the audit trail keeps it: what the command was, and each field
// it sends by its code, the value before (as last seen in the session;
// "desconhecido" when never seen) and after, as the pages show them. Fields
// whose value was seen and is sent unchanged are left out. Nothing for a
// write that is no user's act (selecting a log slot to read).
std::optional<tHistAudit> AuditOf(const tWrite &w, const tOndrel &dev);

class tHistoryWriter;

// The sink of a writer thread (the window's): each record is queued and
// stored there in order with the readings; a file that refuses is said once
// by the writer and the record is tried again later. `writer` is asked for
// at the first record, so the writer can be made on first need.
tHistorySink WriterSink(std::function<tHistoryWriter &()> writer);

// The usual sink: a history file opened when the first record comes (a
// program that writes nothing never opens it), each record stored at once.
// A file that cannot be opened or refuses a record is said through `report`
// once; the next success clears it, so a later failure is said again.
class tHistoryFileSink {
  public:
    using tReport = std::function<void(const QString &text)>;
    // `store` gives the file, opening it on the first call (it may say
    // nothing when that fails: the sink does).
    tHistoryFileSink(std::function<tHistoryStore &()> store, tReport report);

    tHistorySink Sink();
    bool Failing() const { return FFailing; }

  private:
    bool Ready();
    void Stored(bool ok);

    std::function<tHistoryStore &()> FStore;
    tReport FReport;
    bool FFailing = false;
};
