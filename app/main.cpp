#include "main_window.h"
#include "startup_measure.h"
#include "translations.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    InstallTranslations(app);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configura e monitora o controlador de temperatura Ondrel."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Seleciona a porta serial <nome> ao iniciar."),
                                  QStringLiteral("nome"));
    const QCommandLineOption measure(
        QStringLiteral("measure"),
        QStringLiteral("Mede o tempo até a janela aparecer e a memória após conectar; sai."));
    const QCommandLineOption checkStart(
        QStringLiteral("check-start"),
        QStringLiteral("Mostra a janela, informa o estilo aplicado e onde ficam as configurações; "
                       "sai."));
    parser.addOptions({port, measure, checkStart});
    parser.process(app);

    tStartOptions options;
    options.port = parser.value(port);
    TfrmMain frmMain(std::move(options));
    if (parser.isSet(measure))
        MeasureStartup(frmMain);
    else if (parser.isSet(checkStart))
        CheckStart(frmMain);
    frmMain.show();
    return app.exec();
}
