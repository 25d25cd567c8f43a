// tarvik-cli-pdf: tarvik-cli with the PDF report's drawing. tarvik-cli runs
// it in its own place for `--pdf`, with the same arguments.

#include "cli_history.h"
#include "cli_main.h"
#include "history_report.h"

#include <QGuiApplication>

int main(int argc, char *argv[]) {
    // No screen is needed to draw a file; a platform the user chose is kept.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    SetPdfWriter([](tHistoryStore &store, int64_t controller, int64_t fromMs, int64_t toMs,
                    const QString &path, QString *error) {
        return WriteHistoryReport(store, controller, fromMs, toMs, {}, path, error);
    });
    return CliMain();
}
