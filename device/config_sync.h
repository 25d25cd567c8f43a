#pragma once

// A controller's whole configuration as one sequence: reading every block a
// configuration file holds, writing a configuration to the controller, and
// comparing one with the controller's values. The command-line tool and the
// application's "Gravar no Ondrel" both run these, so both read, write and
// name the fields alike. The clock and its calibration are no part of a
// configuration and are never touched here.

#include "task.h"
#include "u_ondrel.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

// How the sequence reaches the controller and tells what it is doing. An
// empty `send` is the driver's own SendCommand (the application passes its
// session, whose answer may come later); `progress`, when set, gets one text
// per step, such as "Gravando parâmetros do relé 2".
struct tSyncIo {
    std::function<tTask<int32_t>(tCommand)> send;
    std::function<void(const QString &)> progress;
};

// The values a configuration is made of: System[0..16] and the parameter
// block of each relay, par[0] (its operation) included.
struct tConfigValues {
    std::array<int32_t, 17> System{};
    std::array<std::array<int32_t, 20>, 4> par{};
};
tConfigValues ConfigOf(const tOndrel &dev);

struct tSyncResult {
    // Positive when every command succeeded; else the failed one's result.
    int32_t result = 1;
    tCommand failed = cmdNONE;
    // The write commands that succeeded, in the order they were sent.
    QList<tCommand> written;
    // The fields that differ, the file's value first:
    // "Relé 2: SP arquivo 5,5 ≠ controlador 6,0".
    QStringList differences;
    bool ok() const { return result > 0 && differences.isEmpty(); }
};

// What a command of the sequence reads or writes, for messages:
// "parâmetros de sistema", "operações dos relés", "parâmetros do relé 2".
QString ConfigBlockName(tCommand cmd);
// The blocks of `cmds` by name, separated by commas.
QString ConfigBlockNames(const QList<tCommand> &cmds);
// True for the sequence's writes, false for its reads (a failure during the
// read-back is a failed check, not a failed write).
bool IsConfigWrite(tCommand cmd);

// Each sequence below is a task (task.h): it ends when its last answer is
// in, at once with a sender that answers at once.

// Reads the system parameters, the operation codes and the parameter blocks
// of the model's relays; with `onlyMissing`, only the blocks the copy does
// not hold yet in this session. Stops at the first failure.
tTask<tSyncResult> ReadConfig(tOndrel &dev, tSyncIo io = {}, bool onlyMissing = false);

// Writes the configuration the copy holds: the system parameters, the
// operation codes, then the parameter blocks of the model's relays. A failure
// stops the sequence, and `written` says which blocks went before it. With
// `verify`, every block is then read back and whatever differs from what was
// written is listed (the copy then holds what the controller kept).
tTask<tSyncResult> WriteConfig(tOndrel &dev, bool verify, tSyncIo io = {});
// The same with `wanted` (a file as it was loaded) put into the copy first,
// whatever was read or written since: written and verified exactly.
tTask<tSyncResult> WriteConfig(tOndrel &dev, tConfigValues wanted, bool verify, tSyncIo io = {});

// Reads every block of the configuration from the controller and lists the
// fields where `wanted` differs from it.
tTask<tSyncResult> CompareConfig(tOndrel &dev, tConfigValues wanted, tSyncIo io = {});

// The fields of the model's first `relays` relays and of the system block
// where `wanted` and `found` differ as the controller holds them (16-bit
// registers, timer set-points 32 bits), named by the codes the pages show;
// an operation as its name, an entry no page shows by its index.
QStringList ConfigDifferences(const tConfigValues &wanted, const tConfigValues &found, int relays);

// The field names the pages, these messages and the history share.
struct tParamField;
// The code a page shows left of a control ("SP", "OFS1"; a timer
// set-point as "Timer 2").
QString FieldCode(const tParamField &f);
// The field that edits System[index], the clock's formats included; nullptr
// for an entry no page shows.
const tParamField *SystemFieldAt(int index);
// The field that edits par[index] of a relay running operation `op`.
const tParamField *RelayFieldAt(int32_t op, int index);
// An operation by its name; a code without one by its number.
QString OperationText(int32_t code);
