#pragma once

#include "sheet.h"

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
    // With --xlsx: the cell type of each CSV column; the rows the command
    // gathers in tCliRun::sheet go to the file once it has run.
    std::vector<tSheetCell> (*sheetKinds)() = nullptr;
    // Into a regular file without --csv or --json it writes the CSV, which
    // is what a file of its lines is for.
    bool csvIntoFile = false;
    // What the parser refuses beyond the options' own checks; nullptr: nothing.
    bool (*check)(const tCliArgs &, QString &error) = nullptr;
    int (*run)(tCliRun &) = nullptr;
};

std::span<const tCliCommand> CliCommands();
// The row `args.command` names; nullptr for none.
const tCliCommand *CliCommandNamed(const QString &name);
