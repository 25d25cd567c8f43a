#pragma once

// Standard output as tarvik-cli writes its results to it: what it is (a file
// a spreadsheet will open, or a terminal or pipe), and writes that either
// land whole or are said to have failed.

#include <QByteArray>
#include <QString>

enum class tOutputKind {
    Stream,       // a terminal, a pipe, a device
    EmptyFile,    // a regular file with nothing in it yet (">", or ">>" to a new file)
    FileWithData, // a regular file appended to
};
tOutputKind OutputKind(int fd);

// Writes all of `bytes` to `fd`. When that fails (a full disk, a closed
// output), a regular file is cut back to where it was, so it never ends in
// part of a line; false with the system's reason in `why`.
bool WriteAll(int fd, const QByteArray &bytes, QString *why);
