#pragma once

// The nearest known name to a slip of the keyboard, for the "você quis
// dizer ...?" after an unknown command or option.

#include <QString>
#include <QStringList>

// The candidate closest to `word` (compared without accents or case), when
// it is near enough to be a slip: one letter missing, extra, wrong or two
// swapped per four letters or so. Empty when none is.
QString NearestWord(const QString &word, const QStringList &candidates);

// The command the words (a misspelt one, with whatever follows it) most
// likely meant, as the help spells it ("status", "config salvar",
// "relógio"), or for the first word of several commands alone, those
// ("config salvar, config gravar ou config comparar"); empty when none is
// near.
QString NearestCommand(const QStringList &words);

// "; você quis dizer X?" for a suggestion, or nothing.
QString DidYouMean(const QString &suggestion);
