#include "cli_suggest.h"

#include "cli_args.h"
#include "cli_commands.h"

#include <QMap>

#include <algorithm>
#include <vector>

namespace {

// Edits from one word to the other, a swap of neighbours counting as one:
// "stauts" is one edit from "status".
qsizetype distance(const QString &a, const QString &b) {
    const qsizetype n = a.size(), m = b.size();
    std::vector<std::vector<qsizetype>> d(size_t(n + 1), std::vector<qsizetype>(size_t(m + 1)));
    for (qsizetype i = 0; i <= n; ++i)
        d[size_t(i)][0] = i;
    for (qsizetype j = 0; j <= m; ++j)
        d[0][size_t(j)] = j;
    for (qsizetype i = 1; i <= n; ++i)
        for (qsizetype j = 1; j <= m; ++j) {
            const size_t I = size_t(i), J = size_t(j);
            d[I][J] = std::min({d[I - 1][J] + 1, d[I][J - 1] + 1,
                                d[I - 1][J - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[I][J] = std::min(d[I][J], d[I - 2][J - 2] + 1);
        }
    return d[size_t(n)][size_t(m)];
}

QString plain(const QString &word) {
    return Unaccented(word).toLower();
}

// A command's name as its synopsis spells it: "relogio acertar" is
// "relógio acertar".
QString spelt(const tCliCommand &row) {
    QStringList name = QString::fromUtf8(row.name).split(u' ');
    const QStringList synopsis = QString::fromUtf8(row.synopsis).split(u' ');
    for (qsizetype i = 0; i < name.size() && i < synopsis.size(); ++i)
        if (plain(synopsis[i]) == name[i])
            name[i] = synopsis[i];
    return name.join(u' ');
}

} // namespace

QString NearestWord(const QString &word, const QStringList &candidates) {
    const QString typed = plain(word);
    // A slip per four letters, and at least one.
    qsizetype best = qMax<qsizetype>(1, (typed.size() + 2) / 4) + 1;
    QString nearest;
    for (const QString &candidate : candidates) {
        const qsizetype d = distance(typed, plain(candidate));
        if (d < best) {
            best = d;
            nearest = candidate;
        }
    }
    return nearest;
}

QString NearestCommand(const QStringList &words) {
    // Commands of two words against the first two typed ("config salva"),
    // then those a single word names against the first ("stauts"). The first
    // word of a family alone ("config", "confg") stands for its commands.
    QStringList pairs, singles{QStringLiteral("ajuda")};
    QMap<QString, QStringList> families;
    for (const tCliCommand &row : CliCommands()) {
        const QString name = spelt(row);
        const QString first = name.section(u' ', 0, 0);
        if (name.contains(u' ')) {
            pairs << name;
            families[first] << name;
        }
        if (!name.contains(u' ') || row.byFirstWord)
            singles << first;
    }
    if (words.size() >= 2) {
        const QString found = NearestWord(words.mid(0, 2).join(u' '), pairs);
        if (!found.isEmpty())
            return found;
    }
    if (words.isEmpty())
        return QString();
    const QString found = NearestWord(words[0], singles + families.keys());
    if (singles.contains(found))
        return found;
    QStringList members = families.value(found);
    const QString last = members.isEmpty() ? QString() : members.takeLast();
    return members.isEmpty() ? last
                             : members.join(QStringLiteral(", ")) + QStringLiteral(" ou ") + last;
}

QString DidYouMean(const QString &suggestion) {
    return suggestion.isEmpty() ? QString()
                                : QStringLiteral("; você quis dizer %1?").arg(suggestion);
}
