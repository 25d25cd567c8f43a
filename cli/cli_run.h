#pragma once

// The run of one tarvik-cli command: the port and the session on it, shared
// by every address the command serves, and the services a command's
// handler uses (connecting, reporting a failure, results and messages).

#include "cli_args.h"
#include "config_sync.h"
#include "csv.h"
#include "history_store.h"
#include "history_tap.h"
#include "session.h"
#include "std_output.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class tCliRun {
  public:
    explicit tCliRun(const tCliArgs &args);
    ~tCliRun();
    // Runs the command the arguments name; returns the exit status.
    int exec();

    using tPerAddress = int (*)(tCliRun &, int id);
    // `run` for each address in turn, the worst status of them; stops early
    // once the port is gone, as every address would fail alike.
    int each(tPerAddress run);
    // The session with `id`, identified afresh when another address or a
    // failure came in between; exitOK or the status to return.
    int connect(int id);
    // As connect, but without the identification exchange when the model is
    // known: given with --modelo, or kept from an earlier identification at
    // this port and address while that controller keeps answering.
    int connectKnown(int id);
    // For the long-running commands that go round the addresses: each
    // controller identified once in the run and again after any failure of
    // it, so switching addresses costs no exchange.
    int connectInRun(int id);
    // Reports the failure of `what` at `id` (or the port's loss); exitDEVICE.
    int fail(int id, const QString &what, int32_t code);
    // The sequence's sender, with its steps shown when someone watches.
    tSyncIo io(int id);
    // The line's figures for the whole run: on stderr, and with --json as
    // a last line on stdout.
    void reportStats();
    // ARQUIVO with %a replaced by `id`.
    QString fileFor(int id) const;
    // fileFor(id) into the copy; a refused file is bad usage.
    int loadFile(int id);
    const tCliArgs &args;
    const QString port;
    const tOutputKind output; // what standard output is
    // CSV for a spreadsheet into a file; plain lines into a terminal or pipe.
    const tCsvTarget csv;
    tSession session;
    // The session's copy of the controller's state, read for the results.
    tOndrel &dev;
    // With --xlsx: the rows gathered, and the header when not the CSV's.
    QList<QStringList> sheet;
    QStringList sheetHeader;

  private:
    int opened(int id, int32_t r);

    // Every write sent and every event log slot read go into the history
    // file, opened at the first of them.
    std::unique_ptr<tHistoryStore> history;
    tHistoryFileSink historySink;
};

// A command's run that serves each address in turn with `PerAddress`.
template <tCliRun::tPerAddress PerAddress> int EachAddress(tCliRun &run) {
    return run.each(PerAddress);
}

// A round of `perAddress` over the addresses every `seconds` until Ctrl+C,
// SIGTERM or `going` says no; the worst status of the run. A port that
// vanishes is reopened, and the rounds go on once it is back; `round` runs
// before each round; `unreachable` runs for each address at each try to
// reopen a vanished port.
int EveryPeriod(tCliRun &run, double seconds, const std::function<int(int id)> &perAddress,
                const std::function<bool()> &going = {}, const std::function<void()> &round = {},
                const std::function<void(int id)> &unreachable = {});

// Output: results on stdout, each written whole at once; messages on stderr.
// The first write that fails says so with the system's reason; after it
// nothing more is written and the run ends with exitUSAGE.
bool CliWrite(const QByteArray &bytes);
bool CliOutputFailed();
void CliResult(const QString &text);
void CliResult(int id, const QString &text);
void CliResult(const QJsonObject &object);
void CliMessage(const QString &text);
// The application's messages break their lines with a carriage return alone.
QString TerminalText(QString text);
QString FailureText(int32_t code);

int RunCli(const tCliArgs &args);
