#pragma once

// What identification told of the controller at each port and address,
// kept between runs so that a status read needs no identification of its
// own. The entry holds while the controller keeps answering: a failed
// exchange forgets it, and an identification that finds another model
// replaces it. One line per entry in the user's cache folder:
// "PORT<TAB>ADDRESS<TAB>MODEL<TAB>FIRMWARE<TAB>OP1,OP2,OP3,OP4".

#include "u_ondrel.h"

#include <QList>
#include <QString>

#include <optional>

using tIdentity = tIdentification;

class tIdentityCache {
  public:
    // The cache file: XDG_CACHE_HOME (else ~/.cache) + "/tarvik/identidades".
    static QString DefaultFile();

    explicit tIdentityCache(QString file = DefaultFile());
    std::optional<tIdentity> Find(const QString &port, int id) const;
    void Store(const QString &port, int id, const tIdentity &identity);
    void Forget(const QString &port, int id);
    // Writes the entries back when they changed; a cache that cannot be
    // written costs the next run an identification, nothing more.
    void Save();

  private:
    struct tEntry {
        QString port;
        int id;
        tIdentity identity;
    };
    QList<tEntry>::iterator entry(const QString &port, int id);

    QString file;
    QList<tEntry> entries;
    bool changed = false;
};
