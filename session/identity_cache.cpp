#include "identity_cache.h"

#include "whole_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

QString tIdentityCache::DefaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/tarvik/identidades");
}

tIdentityCache::tIdentityCache(QString name) : file(std::move(name)) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return;
    // A line that does not read as an entry is dropped: the cache only saves
    // an identification, so anything doubtful costs one and nothing more.
    for (const QByteArray &line : in.readAll().split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        bool ok = f.size() == 5;
        const int id = ok ? f[1].toInt(&ok) : 0;
        const QList<QByteArray> ops = ok ? f[4].split(',') : QList<QByteArray>();
        ok = ok && !f[0].isEmpty() && !f[2].isEmpty() && ops.size() == 4;
        tIdentity identity{QString::fromUtf8(ok ? f[2] : QByteArray()),
                           QString::fromUtf8(ok ? f[3] : QByteArray()),
                           {}};
        for (int r = 0; ok && r < 4; ++r)
            identity.operations[size_t(r)] = ops[r].toInt(&ok);
        if (ok)
            entries.append({QString::fromUtf8(f[0]), id, identity});
    }
}

QList<tIdentityCache::tEntry>::iterator tIdentityCache::entry(const QString &port, int id) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const tEntry &e) { return e.id == id && e.port == port; });
}

std::optional<tIdentity> tIdentityCache::Find(const QString &port, int id) const {
    for (const tEntry &e : entries)
        if (e.id == id && e.port == port)
            return e.identity;
    return std::nullopt;
}

void tIdentityCache::Store(const QString &port, int id, const tIdentity &identity) {
    // Text that would break the line format is not kept.
    for (const QString &s : {port, identity.model, identity.firmware})
        if (s.contains(u'\t') || s.contains(u'\n'))
            return Forget(port, id);
    const auto at = entry(port, id);
    if (at == entries.end()) {
        entries.append({port, id, identity});
    } else if (at->identity.model != identity.model || at->identity.firmware != identity.firmware ||
               at->identity.operations != identity.operations) {
        at->identity = identity;
    } else {
        return;
    }
    changed = true;
}

void tIdentityCache::Forget(const QString &port, int id) {
    const auto at = entry(port, id);
    if (at == entries.end())
        return;
    entries.erase(at);
    changed = true;
}

void tIdentityCache::Save() {
    if (!changed)
        return;
    changed = false;
    QByteArray bytes;
    for (const tEntry &e : entries) {
        bytes += e.port.toUtf8() + '\t' + QByteArray::number(e.id) + '\t' +
                 e.identity.model.toUtf8() + '\t' + e.identity.firmware.toUtf8() + '\t';
        for (size_t r = 0; r < e.identity.operations.size(); ++r)
            bytes += (r ? "," : "") + QByteArray::number(e.identity.operations[r]);
        bytes += '\n';
    }
    QDir().mkpath(QFileInfo(file).absolutePath());
    WriteWholeFile(file, bytes);
}
