#pragma once

// A spreadsheet file (.xlsx) read back as a spreadsheet program reads its
// cells: an .xlsx is a zip of XML parts, taken out with `unzip -p`. Each cell
// by its reference ("C2") with its kind: "texto", "número" or "data" (a
// number whose format shows a date), and its value as written in the file.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

struct tSheetCellRead {
    QString kind;
    QString value;  // a text's characters, a number's or a date's serial as stored
    QString format; // the number format shown, if any
};

inline QByteArray ZipPart(const QString &zip, const QString &part) {
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, part});
    p.waitForFinished(30000);
    return p.readAllStandardOutput();
}

inline QMap<QString, tSheetCellRead> SheetCells(const QString &path) {
    QStringList shared;
    QXmlStreamReader strings(ZipPart(path, QStringLiteral("xl/sharedStrings.xml")));
    while (!strings.atEnd())
        if (strings.readNext() == QXmlStreamReader::StartElement && strings.name() == u"t")
            shared << strings.readElementText();
    // Number formats by id, then the format of each cell style.
    QMap<int, QString> formats;
    QList<int> styleFormats;
    QXmlStreamReader styles(ZipPart(path, QStringLiteral("xl/styles.xml")));
    bool inXfs = false;
    while (!styles.atEnd()) {
        const auto token = styles.readNext();
        if (token == QXmlStreamReader::StartElement && styles.name() == u"numFmt")
            formats[styles.attributes().value(QLatin1String("numFmtId")).toInt()] =
                styles.attributes().value(QLatin1String("formatCode")).toString();
        else if (token == QXmlStreamReader::StartElement && styles.name() == u"cellXfs")
            inXfs = true;
        else if (token == QXmlStreamReader::EndElement && styles.name() == u"cellXfs")
            inXfs = false;
        else if (token == QXmlStreamReader::StartElement && inXfs && styles.name() == u"xf")
            styleFormats << styles.attributes().value(QLatin1String("numFmtId")).toInt();
    }
    QMap<QString, tSheetCellRead> cells;
    QXmlStreamReader sheet(ZipPart(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    QString ref, type;
    int style = 0;
    while (!sheet.atEnd()) {
        const auto token = sheet.readNext();
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (sheet.name() == u"c") {
            ref = sheet.attributes().value(QLatin1String("r")).toString();
            type = sheet.attributes().value(QLatin1String("t")).toString();
            style = sheet.attributes().value(QLatin1String("s")).toInt();
        } else if (sheet.name() == u"v") {
            const QString v = sheet.readElementText();
            const int formatId = style < styleFormats.size() ? styleFormats[style] : 0;
            const QString format = formats.value(formatId);
            if (type == u"s")
                cells[ref] = {QStringLiteral("texto"), shared.value(v.toInt()), format};
            else if (type == u"str" || type == u"inlineStr")
                cells[ref] = {QStringLiteral("texto"), v, format};
            else
                cells[ref] = {format.contains(QLatin1String("yy")) ? QStringLiteral("data")
                                                                   : QStringLiteral("número"),
                              v, format};
        }
    }
    return cells;
}
