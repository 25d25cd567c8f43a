#include "cli_commands.h"

#include "bus_scan.h"
#include "cli_alarms.h"
#include "cli_history.h"
#include "cli_output.h"
#include "cli_publish.h"
#include "cli_run.h"
#include "clock_sync.h"
#include "config_sync.h"
#include "event_log.h"
#include "locale_text.h"
#include "log_walk.h"
#include "stop_request.h"
#include "u_ondrel.h"

#include <QDateTime>

#include <unistd.h>

#include <chrono>

namespace {

QString signedNumber(qint64 n) {
    return n > 0 ? QStringLiteral("+%1").arg(n) : QString::number(n);
}

int ports(tCliRun &run) {
    QStringList names, descriptions;
    run.dev.GetPorts(names, &descriptions);
    if (names.isEmpty())
        CliMessage(QStringLiteral("nenhuma porta serial encontrada"));
    for (qsizetype i = 0; i < names.size() && !CliOutputFailed(); ++i)
        CliResult(descriptions[i].isEmpty() ? names[i] : names[i] + u'\t' + descriptions[i]);
    return CliOutputFailed() ? exitUSAGE : exitOK;
}

int info(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    tOndrel &dev = run.dev;
    if (dev.HaveRTC)
        for (tCommand cmd : {cmdGET_RTC_DATE, cmdGET_RTC_TIME})
            if (const int32_t r = run.session.SendCommand(cmd); r < 0)
                return run.fail(id, QStringLiteral("leitura do relógio"), r);
    if (run.args.format == tFormat::Json)
        CliResult(InfoJson(id, dev));
    else
        CliResult(InfoText(id, dev));
    return exitOK;
}

int statusOnce(tCliRun &run, int id) {
    if (const int c = run.connectKnown(id))
        return c;
    if (const int32_t r = run.session.SendCommand(cmdGET_STATUS); r < 0)
        return run.fail(id, QStringLiteral("leitura do status"), r);
    const tStatusReading &reading = run.dev.LastReading();
    switch (run.args.format) {
    case tFormat::Csv:
        CliWrite(CsvLine(StatusCsvFields(reading), run.csv));
        break;
    case tFormat::Json:
        CliResult(StatusJson(reading));
        break;
    case tFormat::Text: {
        const QDateTime at = reading.At();
        CliResult(run.args.interval ? ShortDateText(at.date()) + u' ' + LongTimeText(at.time()) +
                                          u' ' + StatusText(reading)
                                    : StatusText(reading));
        break;
    }
    }
    return exitOK;
}

} // namespace

int EveryPeriod(tCliRun &run, double seconds, const std::function<int(int id)> &perAddress,
                const std::function<bool()> &going, const std::function<void()> &round) {
    const tStopRequest stop;
    auto goOn = [&] { return !stop.requested() && (!going || going()); };
    int worst = exitOK;
    // Waits until `deadline`, looking now and then whether to go on.
    auto waitUntil = [&](tSession::tClock::time_point deadline) {
        using tClock = tSession::tClock;
        while (goOn() && tClock::now() < deadline)
            stop.waitUntil(going
                               ? std::min(deadline, tClock::now() + std::chrono::milliseconds(200))
                               : deadline);
        return goOn();
    };
    if (!goOn())
        return worst;
    run.session.Poll(run.port, run.args.addresses, seconds,
                     {.round = round,
                      .each =
                          [&](int32_t id) {
                              if (!goOn())
                                  return false;
                              worst = WorseExit(worst, perAddress(id));
                              if (CliOutputFailed()) {
                                  worst = exitUSAGE;
                                  return false;
                              }
                              return true;
                          },
                      .waitUntil = waitUntil,
                      .message = [](const QString &text) { CliMessage(text); }});
    return worst;
}

namespace {

int status(tCliRun &run) {
    if (run.args.interval)
        return EveryPeriod(run, *run.args.interval, [&](int id) { return statusOnce(run, id); });
    return run.each(statusOnce);
}

int log(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    const tFormat format = run.args.format;
    std::vector<tLogEntry> entries;
    // At most `max` events, newest first, never one slot twice.
    const tLogWalkResult walk =
        WalkLog(run.dev,
                {.send = [&run](tCommand cmd) { return Ready(run.session.SendCommand(cmd)); },
                 .limit = run.args.max - 1,
                 .slotRead =
                     [&](int32_t slot, const tSlotLog &log) {
                         entries.push_back({.slot = slot, .raw = log, .row = LogRowOf(log)});
                         if (format == tFormat::Csv)
                             CliWrite(CsvLine(LogCsvFieldsOf(id, entries.back()), run.csv));
                         else if (format == tFormat::Text)
                             CliResult(LogText(id, entries.back()));
                         return !CliOutputFailed();
                     }})
            .Result();
    if (CliOutputFailed())
        return exitUSAGE;
    int outcome = exitOK;
    if (walk.end == tLogWalkEnd::Failed)
        outcome = run.fail(id,
                           walk.failedSlot < 0
                               ? QStringLiteral("leitura do LOG")
                               : QStringLiteral("leitura do slot %1 do LOG").arg(walk.failedSlot),
                           walk.result);
    if (walk.end == tLogWalkEnd::Failed && walk.failedSlot < 0)
        return outcome;
    if (format == tFormat::Json)
        CliResult(LogJson(id, entries));
    else if (walk.end == tLogWalkEnd::Empty && format == tFormat::Text)
        CliResult(id, QStringLiteral("Não há informações de LOG"));
    return outcome;
}

int configSave(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    const tSyncResult r = ReadConfig(run.dev, run.io(id)).Result();
    if (r.result < 0)
        return run.fail(id, QStringLiteral("leitura de %1").arg(ConfigBlockName(r.failed)),
                        r.result);
    const QString name = run.fileFor(id);
    QString error;
    if (!run.dev.SaveConfig(name, &error)) {
        CliMessage(QStringLiteral("endereço %1: %2: %3").arg(id).arg(name, TerminalText(error)));
        return exitUSAGE;
    }
    CliResult(id, QStringLiteral("configuração salva em %1").arg(name));
    return exitOK;
}

// Several addresses cannot share one file to save into.
bool configSaveCheck(const tCliArgs &args, QString &error) {
    if (args.addresses.size() > 1 && !args.file.contains(QLatin1String("%a"))) {
        error = QStringLiteral("com vários endereços, o nome do arquivo leva %a, que é trocado "
                               "pelo endereço (backup-%a.cfg)");
        return false;
    }
    return true;
}

int configWrite(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    if (const int c = run.loadFile(id))
        return c;
    const bool verify = run.args.verify;
    // What the controller holds first, so the history can tell each field's
    // old value; a read that fails leaves them unknown and the write goes on.
    const tConfigValues wanted = ConfigOf(run.dev);
    ReadConfig(run.dev, run.io(id));
    const tSyncResult r = WriteConfig(run.dev, wanted, verify, run.io(id)).Result();
    if (r.result < 0) {
        const QString step = IsConfigWrite(r.failed) ? QStringLiteral("gravação de %1")
                                                     : QStringLiteral("conferência de %1");
        const int outcome = run.fail(id, step.arg(ConfigBlockName(r.failed)), r.result);
        CliMessage(QStringLiteral("endereço %1: %2")
                       .arg(id)
                       .arg(r.written.isEmpty()
                                ? QStringLiteral("nada foi gravado")
                                : QStringLiteral("já gravados: ") + ConfigBlockNames(r.written)));
        return outcome;
    }
    for (const QString &d : r.differences)
        CliResult(id, d);
    if (!r.differences.isEmpty()) {
        CliMessage(
            QStringLiteral("endereço %1: o controlador não guardou %2 campo(s) como gravados")
                .arg(id)
                .arg(r.differences.size()));
        return exitDIFFERENT;
    }
    CliResult(id, verify ? QStringLiteral("configuração gravada e conferida")
                         : QStringLiteral("configuração gravada"));
    return exitOK;
}

int configCompare(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    if (const int c = run.loadFile(id))
        return c;
    const tSyncResult r = CompareConfig(run.dev, ConfigOf(run.dev), run.io(id)).Result();
    if (r.result < 0)
        return run.fail(id, QStringLiteral("leitura de %1").arg(ConfigBlockName(r.failed)),
                        r.result);
    for (const QString &d : r.differences)
        CliResult(id, d);
    if (r.differences.isEmpty())
        CliResult(id, QStringLiteral("sem diferenças"));
    return r.differences.isEmpty() ? exitOK : exitDIFFERENT;
}

int clockRead(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    tOndrel &dev = run.dev;
    if (!dev.HaveRTC) {
        CliResult(id, QStringLiteral("sem relógio"));
        return exitOK;
    }
    for (tCommand cmd : {cmdGET_RTC_DATE, cmdGET_RTC_TIME})
        if (const int32_t r = run.session.SendCommand(cmd); r < 0)
            return run.fail(id, QStringLiteral("leitura do relógio"), r);
    const QDateTime computer = QDateTime::currentDateTime();
    const QDateTime controller = ClockDateTime(dev.RTC);
    QString text = ClockText(dev.RTC);
    if (controller.isValid())
        text += QStringLiteral(", diferença para o computador: %1 s")
                    .arg(signedNumber(computer.secsTo(controller)));
    CliResult(id, text);
    return exitOK;
}

// The display format and calibration are left as they are.
int clockSet(tCliRun &run, int id) {
    if (const int c = run.connect(id))
        return c;
    tOndrel &dev = run.dev;
    if (!dev.HaveRTC) {
        CliResult(id, QStringLiteral("sem relógio"));
        return exitOK;
    }
    const tSyncResult r = SetClockFromComputer(dev, run.io(id)).Result();
    if (r.result < 0)
        return run.fail(id,
                        r.failed == cmdSET_RTC_TIME ? QStringLiteral("acerto da hora")
                                                    : QStringLiteral("acerto da data"),
                        r.result);
    CliResult(id, QStringLiteral("relógio acertado para %1").arg(ClockText(dev.RTC)));
    return exitOK;
}

bool scanCheck(const tCliArgs &args, QString &error) {
    if (args.scanFrom <= args.scanTo)
        return true;
    error = QStringLiteral("--de %1 passa de --até %2").arg(args.scanFrom).arg(args.scanTo);
    return false;
}

// Every address asked in turn; reads only. Nothing found is a controller
// that did not answer.
int scan(tCliRun &run) {
    tScanOptions options{.port = run.port, .from = run.args.scanFrom, .to = run.args.scanTo};
    if (run.args.allSpeeds)
        for (int32_t code = minBAUD_CODE; code <= maxBAUD_CODE; ++code)
            options.speeds << code;
    tScanIo io{.found = [&run](const tFoundController &f) {
        if (run.args.format == tFormat::Json)
            CliResult(QJsonObject{{QStringLiteral("endereco"), f.id},
                                  {QStringLiteral("modelo"), f.model},
                                  {QStringLiteral("firmware"), f.firmware},
                                  {QStringLiteral("velocidade"), f.speed},
                                  {QStringLiteral("bit_s"), BaudRateOf(f.speed)}});
        else
            CliResult(f.id, QStringLiteral("modelo %1, firmware %2, velocidade %3 (%4 bit/s)")
                                .arg(f.model, f.firmware)
                                .arg(f.speed)
                                .arg(BaudRateOf(f.speed)));
    }};
    // Where the scan is, for someone watching; a script reads the results.
    if (::isatty(STDERR_FILENO))
        io.progress = [](int32_t id, int32_t speed, int32_t, int32_t) {
            if (id % 16 == 0)
                CliMessage(
                    QStringLiteral("procurando: endereço %1, velocidade %2").arg(id).arg(speed));
        };
    const tTask<tScanResult> scan = run.session.Scan(options, io);
    const tScanResult &r = scan.Result();
    if (r.result == errMODBUS_OPEN_UART) {
        CliMessage(QStringLiteral("%1 (erro %2)").arg(run.dev.PortErrorText()).arg(r.result));
        return exitDEVICE;
    }
    if (r.found.isEmpty()) {
        CliMessage(QStringLiteral("nenhum controlador respondeu de %1 a %2")
                       .arg(options.from)
                       .arg(options.to));
        return exitDEVICE;
    }
    return exitOK;
}

constexpr tCliCommand commandRows[] = {
    {.name = "portas",
     .synopsis = "portas",
     .about = "as portas seriais, com a descrição do adaptador",
     .needsPort = false,
     .run = ports},
    {.name = "info",
     .synopsis = "info",
     .about = "modelo, firmware, relés e relógio (ou \"sem relógio\")",
     .run = EachAddress<info>},
    {.name = "status",
     .synopsis = "status",
     .about = "temperaturas (valor ou estado), mínimas, máximas, estados e operações dos relés",
     .csvHeader = StatusCsvHeader,
     .run = status},
    {.name = "log",
     .synopsis = "log",
     .about = "os eventos dos relés, do mais novo ao mais antigo",
     .csvHeader = LogCsvHeaderOfAddresses,
     .sheetKinds = LogSheetKindsOfAddresses,
     .run = EachAddress<log>},
    {.name = "config salvar",
     .synopsis = "config salvar ARQUIVO",
     .about = "lê toda a configuração e a salva em ARQUIVO",
     .operand = "ARQUIVO",
     .check = configSaveCheck,
     .run = EachAddress<configSave>},
    {.name = "config gravar",
     .synopsis = "config gravar ARQUIVO",
     .about = "grava ARQUIVO no controlador: sistema, operações e os relés do modelo",
     .operand = "ARQUIVO",
     .run = EachAddress<configWrite>},
    {.name = "config comparar",
     .synopsis = "config comparar ARQUIVO",
     .about = "lista, pelos códigos das telas, os campos que diferem de ARQUIVO, com o valor do "
              "arquivo e o do controlador",
     .operand = "ARQUIVO",
     .run = EachAddress<configCompare>},
    {.name = "relogio ler",
     .synopsis = "relógio [ler]",
     .about = "o relógio e a diferença para o do computador",
     .byFirstWord = true,
     .run = EachAddress<clockRead>},
    {.name = "registrar",
     .synopsis = "registrar",
     .about = "grava o histórico até Ctrl+C: uma leitura a cada --intervalo (60 s), na hora "
              "quando um rele ou um sensor muda, e o LOG do controlador a cada hora",
     .check = RecordCheck,
     .run = Record},
    {.name = "historico exportar",
     .synopsis = "historico exportar",
     .about = "as leituras do histórico (--de, --ate, -a, -p)",
     .needsPort = false,
     .csvHeader = HistoryReadingsCsvHeader,
     .sheetKinds = HistoryReadingsSheetKinds,
     .csvIntoFile = true,
     .run = HistoryExport},
    {.name = "historico relatorio",
     .synopsis = "historico relatorio",
     .about = "mínima, média e máxima por dia e sensor, ligações dos reles, alterações",
     .needsPort = false,
     .run = HistoryReport},
    {.name = "historico alteracoes",
     .synopsis = "historico alteracoes",
     .about = "o que o Tarvik gravou nos controladores: quem, quando, cada campo antes e depois",
     .needsPort = false,
     .run = HistoryAudit},
    {.name = "historico verificar",
     .synopsis = "historico verificar",
     .about = "confere a cadeia do histórico: diz o primeiro registro alterado, removido ou "
              "inserido fora do Tarvik (saída 1), ou que o arquivo está íntegro, e a cabeça da "
              "cadeia de cada controlador no período (--de, --ate), como o relatório a imprime",
     .needsPort = false,
     .run = HistoryVerify},
    {.name = "relogio acertar",
     .synopsis = "relógio acertar",
     .about = "acerta o relógio pelo do computador",
     .run = EachAddress<clockSet>},
    {.name = "procurar",
     .synopsis = "procurar",
     .about = "pergunta a identificação a cada endereço (--de, --até) e lista endereço, modelo, "
              "firmware e velocidade de quem responde; só lê, nunca grava",
     .check = scanCheck,
     .run = scan},
    {.name = "limites",
     .synopsis = "limites",
     .about = "os limites de alarme guardados no histórico (-p, -a)",
     .needsPort = false,
     .run = AlarmLimitsList},
    {.name = "limites definir",
     .synopsis = "limites definir SENSOR [--min V] [--max V] [--atraso MIN] [--histerese V]",
     .about = "define os limites de alarme do sensor 1 a 4 do controlador de -a (e -p), em graus "
              "na sua unidade; o que não for dado fica como estava; SENSOR resposta com --atraso: "
              "minutos sem resposta até o alarme (padrão 5); cada mudança vai para as alterações",
     .operand = "SENSOR",
     .needsPort = false,
     .check = AlarmLimitsSetCheck,
     .run = AlarmLimitsSet},
    {.name = "limites remover",
     .synopsis = "limites remover SENSOR",
     .about = "remove os limites de alarme do sensor (faltas de sensor ainda abrem alarme)",
     .operand = "SENSOR",
     .needsPort = false,
     .check = AlarmLimitsSetCheck,
     .run = AlarmLimitsRemove},
    {.name = "alarmes",
     .synopsis = "alarmes",
     .about = "os alarmes do histórico (--de, --ate, -p, -a), o número primeiro: condição, "
              "início, fim, extremo e reconhecimentos",
     .needsPort = false,
     .csvHeader = AlarmEpisodesCsvHeader,
     .sheetKinds = AlarmEpisodesSheetKinds,
     .run = AlarmEpisodes},
    {.name = "alarmes reconhecer",
     .synopsis = "alarmes reconhecer N --comentario TEXTO",
     .about = "reconhece o alarme N com um comentário, guardado com o usuário e a hora",
     .operand = "N",
     .needsPort = false,
     .check = AlarmAcknowledgeCheck,
     .run = AlarmAcknowledge},
    {.name = "verificar",
     .synopsis = "verificar",
     .about = "uma leitura julgada pelos limites guardados, para Nagios, Icinga, Zabbix ou "
              "Checkmk: uma linha \"TARVIK OK|WARNING|CRITICAL|UNKNOWN - motivo | dados\" e o "
              "código 0, 1, 2 ou 3",
     .needsPort = false,
     .run = AlarmVerify},
    {.name = "publicar",
     .synopsis = "publicar --broker URL",
     .about = "lê os controladores a cada período e publica cada leitura num broker MQTT",
     .check = PublishCheck,
     .run = Publish},
};

} // namespace

std::span<const tCliCommand> CliCommands() {
    return commandRows;
}

const tCliCommand *CliCommandNamed(const QString &name) {
    for (const tCliCommand &row : commandRows)
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}
