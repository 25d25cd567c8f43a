#pragma once

#include <QString>

// Where the program keeps the files it writes: the settings file, the
// application event log and the two trace files.
struct tAppPaths {
    QString settingsFile;
    QString logFolder; // empty: the process's current directory
};

// What the choice depends on, gathered apart so that tests can set each part.
struct tAppPlace {
    QString exeDir;              // the executable's folder
    QString baseName;            // the executable's name without extension
    bool exeDirWritable = false; // FolderWritable(exeDir)
    QString installBinDir;       // the folder the package installs the program into
    QString userConfigHome;      // the user's configuration folder (~/.config)
    QString userDataHome;        // the user's data folder (~/.local/share)
};

// A portable copy (its folder writable) keeps its settings beside the
// executable and writes its logs in the current directory. An installed copy
// (its folder read-only, or the package's own folder, which root could write)
// keeps them in the user's folders, in a subfolder named after the program.
tAppPaths ChooseAppPaths(const tAppPlace &place);

// The running program's place.
tAppPlace CurrentAppPlace();

// True when this process may create files in `dir`, as access(2) answers:
// for root that is every folder but those on a read-only file system.
bool FolderWritable(const QString &dir);

// The paths of the running program, with their folders created; a folder that
// cannot be created shows up later, as the file in it that cannot be written.
tAppPaths PrepareAppPaths();
