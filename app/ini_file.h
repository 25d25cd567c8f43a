#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// A small INI file: "[SECTION]" headers, "KEY=value" lines. Keeps sections and
// keys in the order they first appear (file order, then order of writing), so
// a file written from scratch lists them exactly as the program wrote them.
// Names compare case-insensitively; lines it does not understand are kept.
class tIniFile {
  public:
    // Loads `path` if it exists and can be read; otherwise starts empty.
    explicit tIniFile(QString path);

    const QString &FileName() const { return path; }

    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // A decimal integer (optional sign and blanks); anything else gives `def`.
    int32_t ReadInteger(const QString &section, const QString &key, int32_t def) const;
    // True for any integer other than 0; anything that is no integer gives `def`.
    bool ReadBool(const QString &section, const QString &key, bool def) const;

    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int32_t value);
    void WriteBool(const QString &section, const QString &key, bool value);

    // Writes the whole file (CR LF line ends) through a temporary file, so a
    // failed write leaves the previous file as it was.
    bool UpdateFile(QString *error = nullptr) const;

  private:
    struct Line {
        QString key; // empty: a line kept verbatim
        QString text;
    };
    struct Section {
        QString name; // empty: lines before the first header
        std::vector<Line> lines;
    };
    const Line *Find(const QString &section, const QString &key) const;
    Section &SectionFor(const QString &name);

    QString path;
    std::vector<Section> sections;
};
