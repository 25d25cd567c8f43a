// Feeds every file of the corpus folders (or files) named on the command line
// to a fuzz target once, so that the ordinary build checks the seeds and every
// fault the fuzzer has found and that was fixed.
#include "fuzz_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

int main(int argc, char **argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo given(QString::fromLocal8Bit(argv[i]));
        QStringList files;
        if (given.isDir())
            for (const QFileInfo &f : QDir(given.filePath()).entryInfoList(QDir::Files, QDir::Name))
                files << f.filePath();
        else
            files << given.filePath();
        for (const QString &name : files) {
            QFile file(name);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
                return 1;
            }
            const QByteArray bytes = file.readAll();
            // Named first, so that a failing check shows which input broke it.
            std::printf("%s\n", qPrintable(name));
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                   size_t(bytes.size()));
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
