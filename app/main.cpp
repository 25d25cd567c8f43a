#include "main_window.h"
#include "startup_measure.h"
#include "translations.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>

namespace {

struct tOptions {
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
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({options.port, options.measure, options.checkStart});
}

// Help and version are answered without a window system, so they work over
// ssh and in scripts.
bool OnlyText(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"-h", "--help", "-?", "-v", "--version", "--help-all"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char *argv[]) {
    const tOptions options;
    if (OnlyText(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCommandLineParser parser;
        Describe(parser, options);
        parser.process(core); // prints and leaves
        return 0;
    }
    QApplication app(argc, argv);
    InstallTranslations(app);
    QCommandLineParser parser;
    Describe(parser, options);
    parser.process(app);

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
