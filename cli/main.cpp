// tarvik-cli: the controller from a terminal and from scripts.

#include "cli_args.h"
#include "cli_run.h"
#include "std_output.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocale>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Only a PDF needs fonts and a painter; every other command starts with Qt
// Core alone, as light as a script calling it in a loop expects.
bool wantsPdf(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--pdf") == 0 || std::strncmp(argv[i], "--pdf=", 6) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char *argv[]) {
    std::unique_ptr<QCoreApplication> app;
    if (wantsPdf(argc, argv)) {
        // No screen is needed to draw a file; a platform the user chose is kept.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // Texts and numbers as a Brazilian spreadsheet and technician read them,
    // whatever the locale a script or a service runs under.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));

    tCliArgs args;
    QString error;
    if (!ParseArgs(QCoreApplication::arguments().mid(1), args, error)) {
        std::fprintf(stderr, "tarvik-cli: %s\n%s\n", error.toUtf8().constData(),
                     UsageLine().toUtf8().constData());
        return exitUSAGE;
    }
    if (args.help || args.version) {
        const QString text =
            args.version ? QStringLiteral("tarvik-cli %1\n").arg(TARVIK_VERSION) : HelpText();
        QString why;
        if (WriteAll(STDOUT_FILENO, text.toUtf8(), &why))
            return exitOK;
        std::fprintf(stderr, "tarvik-cli: não foi possível escrever na saída padrão: %s\n",
                     why.toUtf8().constData());
        return exitUSAGE;
    }
    return RunCli(args);
}
