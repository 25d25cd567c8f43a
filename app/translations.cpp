#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Texts Qt's own Brazilian Portuguese translation lacks: the file dialog's
// type column says what a folder, a drive or a link is.
class tQtGaps : public QTranslator {
  public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override {
        struct tGap {
            const char *context, *source, *text;
        };
        static constexpr tGap gaps[] = {
            {"QAbstractFileIconProvider", "Folder", "Pasta"},
            {"QAbstractFileIconProvider", "File Folder", "Pasta"},
            {"QAbstractFileIconProvider", "Drive", "Unidade"},
            {"QAbstractFileIconProvider", "Shortcut", "Atalho"},
            {"QAbstractFileIconProvider", "Alias", "Atalho"},
            {"QAbstractFileIconProvider", "Unknown", "Desconhecido"},
        };
        for (const tGap &g : gaps)
            if (qstrcmp(context, g.context) == 0 && qstrcmp(source, g.source) == 0)
                return QString::fromUtf8(g.text);
        return QString();
    }
};

} // namespace

bool InstallTranslations(QCoreApplication &app) {
    QCoreApplication::installTranslator(new tQtGaps(&app));
    auto *qt = new QTranslator(&app);
    const bool loaded =
        qt->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qt"),
                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (loaded)
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    return loaded;
}
