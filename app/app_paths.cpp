#include "app_paths.h"

#include "app_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {
bool SameFolder(const QString &a, const QString &b) {
    return !a.isEmpty() && QDir::cleanPath(a) == QDir::cleanPath(b);
}
} // namespace

tAppPaths ChooseAppPaths(const tAppPlace &place) {
    const QString iniName = place.baseName + QStringLiteral(".ini");
    if (place.exeDirWritable && !SameFolder(place.exeDir, place.installBinDir))
        return {QDir(place.exeDir).filePath(iniName), QString()};
    return {QDir(place.userConfigHome).filePath(place.baseName + u'/' + iniName),
            QDir(place.userDataHome).filePath(place.baseName)};
}

tAppPlace CurrentAppPlace() {
    tAppPlace place;
    place.exeDir = QCoreApplication::applicationDirPath();
    place.baseName = AppBaseName();
    place.exeDirWritable = FolderWritable(place.exeDir);
    // The executable's folder comes resolved from /proc/self/exe; resolve this
    // one too, so a merged /bin or a linked prefix still compares equal.
    const QString binDir = QStringLiteral(TARVIK_INSTALL_BINDIR);
    const QString resolved = QDir(binDir).canonicalPath();
    place.installBinDir = resolved.isEmpty() ? binDir : resolved;
    place.userConfigHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    place.userDataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return place;
}

bool FolderWritable(const QString &dir) {
    return !dir.isEmpty() && ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

tAppPaths PrepareAppPaths() {
    const tAppPaths paths = ChooseAppPaths(CurrentAppPlace());
    QDir().mkpath(QFileInfo(paths.settingsFile).absolutePath());
    if (!paths.logFolder.isEmpty())
        QDir().mkpath(paths.logFolder);
    return paths;
}
