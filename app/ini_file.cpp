#include "ini_file.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace {
bool SameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}
} // namespace

tIniFile::tIniFile(QString path_) : path(std::move(path_)) {
    sections.push_back({});
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Settings files are edited by hand on site; read them in the 8-bit
    // code page the logs use, so accented text survives a round trip.
    const QStringList lines = QString::fromLatin1(file.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString text = lines[i];
        if (text.endsWith(u'\r'))
            text.chop(1);
        if (i == lines.size() - 1 && text.isEmpty())
            break;
        const QString trimmed = text.trimmed();
        if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
            sections.push_back({trimmed.mid(1, trimmed.size() - 2).trimmed(), {}});
            continue;
        }
        const qsizetype eq = text.indexOf(u'=');
        const bool comment = trimmed.startsWith(u';') || trimmed.startsWith(u'#');
        if (eq > 0 && !comment)
            sections.back().lines.push_back({text.left(eq).trimmed(), text.mid(eq + 1).trimmed()});
        else
            sections.back().lines.push_back({QString(), text});
    }
}

const tIniFile::Line *tIniFile::Find(const QString &section, const QString &key) const {
    for (const Section &s : sections) {
        if (s.name.isEmpty() || !SameName(s.name, section))
            continue;
        for (const Line &l : s.lines)
            if (!l.key.isEmpty() && SameName(l.key, key))
                return &l;
    }
    return nullptr;
}

tIniFile::Section &tIniFile::SectionFor(const QString &name) {
    auto it = std::find_if(sections.begin(), sections.end(), [&](const Section &s) {
        return !s.name.isEmpty() && SameName(s.name, name);
    });
    if (it != sections.end())
        return *it;
    sections.push_back({name, {}});
    return sections.back();
}

QString tIniFile::ReadString(const QString &section, const QString &key, const QString &def) const {
    const Line *l = Find(section, key);
    return l ? l->text : def;
}

int32_t tIniFile::ReadInteger(const QString &section, const QString &key, int32_t def) const {
    bool ok = false;
    const int32_t value = ReadString(section, key, QString()).toInt(&ok, 10);
    return ok ? value : def;
}

bool tIniFile::ReadBool(const QString &section, const QString &key, bool def) const {
    bool ok = false;
    const qlonglong value = ReadString(section, key, QString()).toLongLong(&ok, 10);
    return ok ? value != 0 : def;
}

void tIniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    Section &s = SectionFor(section);
    for (Line &l : s.lines) {
        if (!l.key.isEmpty() && SameName(l.key, key)) {
            l.text = value;
            return;
        }
    }
    // New keys go after the last key of the section, ahead of trailing blank lines.
    auto at = s.lines.end();
    while (at != s.lines.begin() && std::prev(at)->key.isEmpty() &&
           std::prev(at)->text.trimmed().isEmpty())
        --at;
    s.lines.insert(at, {key, value});
}

void tIniFile::WriteInteger(const QString &section, const QString &key, int32_t value) {
    WriteString(section, key, QString::number(value));
}

void tIniFile::WriteBool(const QString &section, const QString &key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool tIniFile::UpdateFile(QString *error) const {
    QString text;
    for (const Section &s : sections) {
        if (!s.name.isEmpty())
            text += QLatin1Char('[') + s.name + QLatin1String("]\r\n");
        for (const Line &l : s.lines)
            text += (l.key.isEmpty() ? l.text : l.key + QLatin1Char('=') + l.text) +
                    QLatin1String("\r\n");
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toLatin1()) >= 0 && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}
