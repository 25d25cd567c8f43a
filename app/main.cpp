#include "main_window.h"
#include "startup_measure.h"
#include "translations.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>

namespace {

struct tOptions {
    QCommandLineOption help{
        {QStringLiteral("h"), QStringLiteral("?"), QStringLiteral("help"), QStringLiteral("ajuda")},
        QStringLiteral("Mostra esta ajuda.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Mostra a versão.")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("Seleciona a porta serial <nome> ao iniciar."),
                            QStringLiteral("nome")};
    QCommandLineOption measure{
        QStringLiteral("measure"),
        QStringLiteral("Mede o tempo até a janela aparecer e a memória após conectar; sai.")};
    QCommandLineOption checkStart{
        QStringLiteral("check-start"),
        QStringLiteral("Mostra a janela, informa o estilo aplicado e onde ficam as configurações; "
                       "sai.")};
};

void Describe(QCommandLineParser &parser, const tOptions &options) {
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
    parser.setApplicationDescription(
        QStringLiteral("Configura e monitora o controlador de temperatura Ondrel."));
    // Help and version of our own, described in Portuguese; Qt's would add
    // --help-all and its own options in English.
    parser.addOptions(
        {options.help, options.version, options.port, options.measure, options.checkStart});
}

// Handles help and version, which print and leave.
void Answer(QCommandLineParser &parser, QCoreApplication &app, const tOptions &options) {
    parser.process(app);
    if (parser.isSet(options.help))
        parser.showHelp(0);
    if (parser.isSet(options.version))
        parser.showVersion();
}

// Help and version are answered without a window system, so they work over
// ssh and in scripts.
bool OnlyText(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"-h", "--help", "-?", "--ajuda", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char *argv[]) {
    const tOptions options;
    if (OnlyText(argc, argv)) {
        QCoreApplication core(argc, argv);
        InstallTranslations(core);
        QCommandLineParser parser;
        Describe(parser, options);
        Answer(parser, core, options);
        return 0;
    }
    QApplication app(argc, argv);
    InstallTranslations(app);
    QCommandLineParser parser;
    Describe(parser, options);
    Answer(parser, app, options);

    tStartOptions start;
    start.port = parser.value(options.port);
    TfrmMain frmMain(std::move(start));
    if (parser.isSet(options.measure))
        MeasureStartup(frmMain);
    else if (parser.isSet(options.checkStart))
        CheckStart(frmMain);
    frmMain.show();
    return app.exec();
}
