#pragma once

// The commands of tarvik-cli, one row each: what the parser reads, what the
// help says and what runs. A new command is a row in cli_commands.cpp and
// its handler.

#include "cli_args.h"

#include <QString>
#include <QStringList>

#include <span>

class tCliRun;

struct tCliCommand {
    const char *name;     // the words that name it: "config salvar"
    const char *synopsis; // as the help shows it
    const char *about;    // the help's line for it
    // The word it takes after its name, into tCliArgs::file ("ARQUIVO");
    // nullptr for none.
    const char *operand = nullptr;
    // Its first word alone names it ("relogio" reads the clock).
    bool byFirstWord = false;
    // It talks to a controller, so a port must be named.
    bool needsPort = true;
    // The CSV header written once before it runs, with --csv.
    QStringList (*csvHeader)() = nullptr;
    // What the parser refuses beyond the options' own checks; nullptr: nothing.
    bool (*check)(const tCliArgs &, QString &error) = nullptr;
    int (*run)(tCliRun &) = nullptr;
};

std::span<const tCliCommand> CliCommands();
// The row `args.command` names; nullptr for none.
const tCliCommand *CliCommandNamed(const QString &name);
