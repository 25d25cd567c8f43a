#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallTranslations(QCoreApplication &app) {
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
