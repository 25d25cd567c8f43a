#pragma once

// The window's recording of its session into the history file, without a
// window: every status read of the session (whichever page asked for it, or
// the recorder's own watch when none does) becomes a reading, kept for the
// live view here and handed to the writer thread, which decides what goes
// into the file and writes it. Nothing here waits for the file.
//
// The writer and its file are made on first need (a connection, or the
// history page asking for the file), so the database engine is no part of
// the window's start.

#include "history_store.h"
#include "history_writer.h"
#include "recorder.h"

#include <QObject>

#include <deque>
#include <memory>

class QTimer;
class tSession;
struct tExchange;

class tSessionRecorder : public QObject {
    Q_OBJECT
  public:
    // `report`: a line for the status line and memo.
    tSessionRecorder(tSession &session, QString path, tRecorder::tReport report,
                     QObject *parent = nullptr);
    ~tSessionRecorder() override;

    void SetInterval(int32_t seconds); // below 1: the recorder's default
    int32_t Interval() const { return FIntervalSec; }
    void SetRetention(int32_t days); // 0: keep everything
    int32_t Retention() const { return FKeepDays; }

    // The writer thread, made on first call: the seam for other records.
    tHistoryWriter &Writer();
    // Stops the writer (if one was made), trying a refusing file for a
    // while; the readings and records the file never got.
    // Said once: 0 when called again.
    size_t FinishWriting();
    QString Path() const { return FPath; }
    // A connection of this thread to the file, for reading (the history
    // page); opened on first call.
    tHistoryStore &Reader();

    // The connected controller as the file knows it: id 0 while not
    // connected, or until the file has stored it.
    const tHistController &Recorded() const { return FRecorded; }
    // The connected controller's readings of the last hour, oldest first;
    // whose they are in the file is Recorded().
    const std::deque<tStatusReading> &Live() const { return FLive; }

  Q_SIGNALS:
    // The connection changed, or the file has just stored the controller
    // connected: Recorded() and Live() start anew.
    void recordedChanged();
    // A reading of the connected controller, as it was taken, once the
    // file knows the controller (`controller`, its id).
    void reading(int64_t controller, const tStatusReading &reading);

  private:
    void ConnectionChanged();
    void Exchanged(const tExchange &exchange);
    void Watch();
    // The watch's next read: a period after its own last one, or a little
    // more than a period after someone else's, so it never doubles them.
    void ArmWatch();

    tSession &FSession;
    QString FPath;
    tRecorder::tReport FReport;
    bool FFinished = false;
    int32_t FIntervalSec = tRecorder::defaultIntervalSec;
    int32_t FKeepDays = 0;
    std::unique_ptr<tHistoryWriter> FWriter;
    std::unique_ptr<tHistoryStore> FReader;
    QTimer *FWatch;
    tHistController FRecorded;
    tHistController FConnected; // id unused
    std::deque<tStatusReading> FLive;
    int64_t FLastReadMs = 0;
    int64_t FOwnIssuedMs = 0; // when the watch asked for its last read
    bool FOwnPending = false; // the watch's read is under way
    bool FOwnLast = false;    // the last read was the watch's
    // Bumped at each connection: an answer about an earlier one is stale.
    uint64_t FGeneration = 0;
};
