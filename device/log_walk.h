#pragma once

// The walk through the controller's event log, newest slot first, written
// once for every reader: the log page, tarvik-cli and a background recorder
// that reads back only to the newest slot it already holds.

#include "task.h"
#include "u_ondrel.h"

#include <QString>

#include <functional>

enum class tLogWalkEnd {
    Empty,        // the controller holds no log: nothing after the information read
    EndOfLog,     // a slot never written, or every slot of the ring read
    Limit,        // the number of slots asked for was read
    Stopped,      // the caller's stop condition held for a slot
    Cancelled,    // the caller cancelled between slots, or a request was dropped
    Disconnected, // the session closed between slots
    Failed,       // a command failed; see `result` and `failed`
};

struct tLogWalk {
    std::function<tTask<int32_t>(tCommand)> send;
    // At most limit + 1 slots, and never one slot twice.
    int32_t limit = 20;
    // After the information read, before any slot.
    std::function<void()> info = {};
    // Before each slot: its place in the walk and the most the walk reads.
    std::function<void(int index, int total)> progress = {};
    // A slot selected, before it is read.
    std::function<void(int32_t slot)> selected = {};
    // Each slot holding an event, newest first; false ends the walk as
    // Stopped without going on (a recorder reached what it already holds).
    std::function<bool(int32_t slot, const tSlotLog &log)> slotRead = {};
    // Asked before each slot; true ends the walk as Cancelled.
    std::function<bool()> cancelled = {};
};

struct tLogWalkResult {
    tLogWalkEnd end = tLogWalkEnd::Empty;
    int32_t result = 0;                // the failed command's result
    tCommand failed = cmdGET_LOG_INFO; // the command that failed
    int32_t failedSlot = -1;           // the slot it was for; -1 for the information read
    int walked = 0;                    // slots read, the empty one that ended the walk included
    int events = 0;                    // slots read that hold an event
    int total = 0;                     // the most slots the walk would read
};

// GET_LOG_INFO, then the slots from the newest backwards. The driver's
// LogCountSlots, LogLastSlot, LogSlotRead and Log hold what was read. A
// task (task.h): it ends with the last answer.
tTask<tLogWalkResult> WalkLog(tOndrel &dev, tLogWalk walk);

// Why a walk ended, in words: "fim do LOG", "limite", "cancelado", "falha"...
QString LogWalkEndText(tLogWalkEnd end);
