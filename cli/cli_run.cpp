#include "cli_run.h"

#include "cli_commands.h"
#include "cli_history.h"
#include "event_log.h"

#include <QJsonDocument>

#include <unistd.h>

#include <cstdio>

namespace {

// The system's reason once a result could not be written.
QString outputError;

} // namespace

bool CliWrite(const QByteArray &bytes) {
    if (CliOutputFailed())
        return false;
    // Every result reaches the output at once and whole: a recording stopped
    // or cut off keeps every line written before, and never half of one.
    if (WriteAll(STDOUT_FILENO, bytes, &outputError))
        return true;
    if (outputError.isEmpty())
        outputError = QStringLiteral("?");
    CliMessage(QStringLiteral("não foi possível escrever na saída padrão: %1").arg(outputError));
    return false;
}

bool CliOutputFailed() {
    return !outputError.isEmpty();
}

void CliResult(const QString &text) {
    CliWrite(text.toUtf8() + '\n');
}

void CliResult(int id, const QString &text) {
    CliResult(QStringLiteral("%1: %2").arg(id).arg(text));
}

void CliResult(const QJsonObject &object) {
    CliWrite(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void CliMessage(const QString &text) {
    const QByteArray bytes = QStringLiteral("tarvik-cli: %1\n").arg(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

QString TerminalText(QString text) {
    return text.replace(u'\r', u'\n');
}

QString FailureText(int32_t code) {
    return QStringLiteral("erro %1 (%2)").arg(code).arg(modbus_strerror(code));
}

tCliRun::tCliRun(const tCliArgs &a)
    : args(a), port(a.port.isEmpty() ? DefaultPort() : a.port), output(OutputKind(STDOUT_FILENO)),
      csv(output == tOutputKind::Stream ? tCsvTarget::Stream : tCsvTarget::Spreadsheet),
      dev(session.Ondrel()), historySink(
                                 [this]() -> tHistoryStore & {
                                     if (!history) {
                                         history = std::make_unique<tHistoryStore>();
                                         history->Open(CliHistoryFile());
                                     }
                                     return *history;
                                 },
                                 [](const QString &text) { CliMessage(text); }) {
    session.SetHistorySink(historySink.Sink());
    dev.OnTraceError = [](const QString &why) { CliMessage(QStringLiteral("log: %1").arg(why)); };
    dev.SetBaudRate(args.speed);
    dev.SetTimeout(args.timeout);
    dev.SetFastRead(args.fastRead);
    if (args.logCommands || args.logModbus)
        dev.SetSaveLog(args.logCommands, args.logModbus);
}

tCliRun::~tCliRun() {
    // The tap goes before the sink it writes to.
    session.SetHistorySink({});
}

int tCliRun::exec() {
    const tCliCommand *command = CliCommandNamed(args.command);
    if (!command || !command->run)
        return exitUSAGE;
    if (command->needsPort && port.isEmpty()) {
        CliMessage(QStringLiteral("nenhuma porta: use -p PORTA ou a variável TARVIK_PORTS"));
        return exitUSAGE;
    }
    // An output that already holds data (a CSV file appended to, line after
    // line, run after run) gets no second header.
    if (args.format == tFormat::Csv && command->csvHeader && output != tOutputKind::FileWithData &&
        !CliWrite(CsvStart(csv) + CsvLine(command->csvHeader(), csv)))
        return exitUSAGE;
    const int status = command->run(*this);
    int sheetStatus = exitOK;
    if (!args.xlsx.isEmpty() && command->sheetKinds && status != exitUSAGE) {
        QString why;
        const QStringList header =
            sheetHeader.isEmpty() && command->csvHeader ? command->csvHeader() : sheetHeader;
        if (WriteSheet(args.xlsx, QStringLiteral("Tarvik"), header, command->sheetKinds(), sheet,
                       &why))
            CliMessage(QStringLiteral("%1 linha(s) salvas em %2").arg(sheet.size()).arg(args.xlsx));
        else {
            CliMessage(QStringLiteral("%1: %2").arg(args.xlsx, why));
            sheetStatus = exitUSAGE;
        }
    }
    if (args.stats)
        reportStats();
    session.SaveIdentities();
    return WorseExit(status, sheetStatus);
}

// As a ping ends: how the line did over the whole run.
void tCliRun::reportStats() {
    const tLinkStats &stats = dev.LinkStats();
    const QStringList lines =
        QStringList{QStringLiteral("--- estatísticas da linha %1 ---").arg(port)} + stats.Report();
    const QByteArray text = (lines.join(u'\n') + u'\n').toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    if (args.format == tFormat::Json)
        CliResult(QJsonObject{{QStringLiteral("porta"), port},
                              {QStringLiteral("estatisticas"), stats.Json()}});
}

int tCliRun::each(tPerAddress run) {
    int worst = exitOK;
    for (int id : args.addresses) {
        worst = WorseExit(worst, run(*this, id));
        if (CliOutputFailed())
            return exitUSAGE;
        if (session.PortGone())
            break;
    }
    return worst;
}

int tCliRun::connect(int id) {
    return opened(id, session.Reach(port, id, tSession::tReach::Identify));
}

int tCliRun::connectInRun(int id) {
    return opened(id, session.Reach(port, id, tSession::tReach::InRun));
}

int tCliRun::connectKnown(int id) {
    return opened(id, session.Reach(port, id, tSession::tReach::Cached, args.model));
}

// What opening a session with `id` gave: exitOK with the session open, or
// the failure reported.
int tCliRun::opened(int id, int32_t r) {
    if (r == errMODBUS_OPEN_UART) {
        // During --intervalo a port lost later is reported where it is retried.
        if (!args.interval || !session.PortOpened())
            CliMessage(QStringLiteral("%1 (erro %2)").arg(dev.PortErrorText()).arg(r));
        return exitDEVICE;
    }
    if (r < 0)
        return fail(id, QStringLiteral("identificação"), r);
    return exitOK;
}

int tCliRun::fail(int id, const QString &what, int32_t code) {
    session.Failed(port, id);
    if (session.PortGone()) {
        if (!args.interval && dev.Network())
            CliMessage(QStringLiteral("%1 (endereço %2, %3: %4)")
                           .arg(dev.PortLostText())
                           .arg(id)
                           .arg(what, FailureText(code)));
        else if (!args.interval)
            CliMessage(QStringLiteral("a porta %1 sumiu (endereço %2, %3: %4)")
                           .arg(port)
                           .arg(id)
                           .arg(what, FailureText(code)));
        return exitDEVICE;
    }
    QString text = QStringLiteral("endereço %1: %2: %3").arg(id).arg(what, FailureText(code));
    // Silence has three usual causes on a technician's bench, and others
    // behind a network; say which to look at.
    if ((code == errMODBUS_TIMEOUT || code == errMODBUS_NORESPONSE) && dev.Network())
        text += QStringLiteral("; a conexão com %1 está aberta mas a resposta não veio no tempo "
                               "limite (-t, agora %2): confira a rede, o gateway e o endereço "
                               "(-a, agora %3)")
                    .arg(port)
                    .arg(args.timeout)
                    .arg(id);
    else if (code == errMODBUS_TIMEOUT || code == errMODBUS_NORESPONSE)
        text += QStringLiteral("; confira o cabo, a velocidade (-b, agora %1 bit/s) e o endereço "
                               "(-a, agora %2)")
                    .arg(SpeedRate(args.speed))
                    .arg(id);
    CliMessage(text);
    return exitDEVICE;
}

tSyncIo tCliRun::io(int id) {
    tSyncIo sync{.send = [this](tCommand cmd) { return Ready(session.SendCommand(cmd)); },
                 .progress = {}};
    // The steps are for someone watching; a script reads the results.
    if (::isatty(STDERR_FILENO))
        sync.progress = [id](const QString &step) {
            CliMessage(QStringLiteral("endereço %1: %2").arg(id).arg(step));
        };
    return sync;
}

QString tCliRun::fileFor(int id) const {
    return QString(args.file).replace(QLatin1String("%a"), QString::number(id));
}

int tCliRun::loadFile(int id) {
    const QString name = fileFor(id);
    QString error;
    if (session.LoadConfig(name, &error))
        return exitOK;
    CliMessage(QStringLiteral("endereço %1: %2: %3").arg(id).arg(name, TerminalText(error)));
    return exitUSAGE;
}

int RunCli(const tCliArgs &args) {
    tCliRun run(args);
    const int code = run.exec();
    return CliOutputFailed() ? exitUSAGE : code;
}
