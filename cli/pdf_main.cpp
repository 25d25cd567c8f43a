// tarvik-cli-pdf: tarvik-cli with the PDF report's drawing. tarvik-cli runs
// it in its own place for `--pdf`, with the same arguments.

#include "cli_history.h"
#include "cli_main.h"
#include "history_report.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

int main(int argc, char *argv[]) {
    // No screen is needed to draw a file; a platform the user chose is kept.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Run from a service or cron there is no session's runtime folder, and
    // Qt would warn of it on every run: a private one of ours serves, gone
    // at exit.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QGuiApplication app(argc, argv);
    SetPdfWriter([](tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                    const QString &path, QString *error) {
        // Judged against the alarm limits the file keeps, as the alarms were.
        return WriteHistoryReport(store, controller, fromMs, toMs,
                                  StoredAlarmLimits(store, controller), path, error);
    });
    return CliMain();
}
