// The configuration loader under fuzzing: the input is the file. It is loaded
// into a device whose model the file's own first records name, so that a file
// of the right size is accepted, and into a "qx4r". A refused file changes no
// field; an accepted one changes System and the relay parameters to its
// records, marks them known, and changes nothing else.
#include "device_fields.h"
#include "fuzz_check.h"
#include "u_ondrel.h"

#include <QString>
#include <QtEndian>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr size_t fileSize = 404;

int32_t record(const uint8_t *data, size_t i) {
    return qFromLittleEndian<int32_t>(data + 4 * i);
}

// The input as a file the loader opens by name; kept in memory, not on disk.
QString asFile(const uint8_t *data, size_t size) {
    static const int fd = memfd_create("config", 0);
    FUZZ_CHECK(fd >= 0, "no memory file");
    FUZZ_CHECK(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == ssize_t(size),
               "memory file not written");
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

void load(tOndrel &dev, const QString &model, const QString &file, const uint8_t *data,
          size_t size) {
    fields::scramble(dev);
    dev.Model = model;
    const QString fimware = dev.Fimware;
    const QList<qint64> before = fields::values(dev);

    bool sameModel = size >= 16;
    for (int k = 0; k < 4 && sameModel; ++k)
        sameModel = k < model.size() && (model[k].unicode() & 0xFF) == data[4 * k];
    const bool acceptable = size == fileSize && sameModel;

    QString error;
    tConfigError why = tConfigError::None;
    const bool accepted = dev.LoadConfig(file, &error, &why);
    FUZZ_CHECK(accepted == acceptable, "a file of %zu bytes was %s", size,
               accepted ? "accepted" : "refused");
    FUZZ_CHECK(dev.Model == model && dev.Fimware == fimware, "the model or firmware changed");
    static const QStringList names = fields::names();
    const QList<qint64> after = fields::values(dev);
    QStringList changed;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (after[i] != before[i])
            changed << names[i];
    if (!accepted) {
        FUZZ_CHECK(why == (size == fileSize ? tConfigError::WrongModel : tConfigError::WrongSize),
                   "refused as %d", int(why));
        FUZZ_CHECK(!error.isEmpty(), "refused without a text");
        FUZZ_CHECK(changed.isEmpty(), "a refused file changed %s", qPrintable(changed.join(' ')));
        return;
    }
    FUZZ_CHECK(why == tConfigError::None && error.isEmpty(), "accepted with an error");
    for (const QString &name : changed)
        FUZZ_CHECK(name.startsWith(QLatin1String("System[")) ||
                       name.contains(QLatin1String("].par[")) || name == QLatin1String("Known"),
                   "an accepted file changed %s", qPrintable(name));
    // The copy now holds the system parameters, the unit, the operations and
    // every relay's block.
    const uint32_t loaded = knownSYSTEM | knownUNIT | knownOPS | knownRelay(0) | knownRelay(1) |
                            knownRelay(2) | knownRelay(3);
    FUZZ_CHECK(dev.Known == (uint32_t(before[names.indexOf(QLatin1String("Known"))]) | loaded),
               "Known is 0x%X", dev.Known);
    for (size_t i = 0; i < dev.System.size(); ++i)
        FUZZ_CHECK(dev.System[i] == record(data, 4 + i), "System[%zu] is %d", i, dev.System[i]);
    for (size_t r = 0; r < dev.Relay.size(); ++r)
        for (size_t k = 0; k < dev.Relay[r].par.size(); ++k)
            FUZZ_CHECK(dev.Relay[r].par[k] == record(data, 21 + 20 * r + k),
                       "Relay[%zu].par[%zu] is %d", r, k, dev.Relay[r].par[k]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static tOndrel dev;
    const QString file = asFile(data, size);
    // The model the file names, each character its record's low 16 bits, as
    // saving writes them.
    QString named;
    for (size_t k = 0; k < 4 && 4 * k + 1 < size; ++k)
        named.append(QChar(char16_t(data[4 * k] | data[4 * k + 1] << 8)));
    load(dev, named, file, data, size);
    load(dev, QStringLiteral("qx4r"), file, data, size);
    return 0;
}
