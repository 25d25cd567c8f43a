#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// Texts Qt's own Brazilian Portuguese translation lacks: the file dialog's
// type column says what a folder, a drive or a link is. The command line's
// help and errors are here too, so `tarvik --help` reads in Portuguese even
// where Qt's translations are not installed.
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
            {"QCommandLineParser", "Usage: %1", "Uso: %1"},
            {"QCommandLineParser", "[options]", "[opções]"},
            {"QCommandLineParser", "Options:", "Opções:"},
            {"QCommandLineParser", "Arguments:", "Argumentos:"},
            {"QCommandLineParser", "Unknown option '%1'.", "Opção desconhecida: %1."},
            {"QCommandLineParser", "Unknown options: %1.", "Opções desconhecidas: %1."},
            {"QCommandLineParser", "Missing value after '%1'.", "Falta o valor de %1."},
            {"QCommandLineParser", "Unexpected value after '%1'.", "%1 não leva valor."},
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
