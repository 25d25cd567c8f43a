#include "cli_main.h"

#include "cli_args.h"
#include "cli_run.h"
#include "std_output.h"

#include <QCoreApplication>
#include <QLocale>

#include <unistd.h>

#include <csignal>
#include <cstdio>

int CliMain() {
    // A reader that went away (`| head`) or a file over its size limit fails
    // the write, which is checked and said with status 2, rather than
    // killing the program silently with half a line written.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
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
