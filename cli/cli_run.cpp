#include "cli_run.h"

#include "cli_output.h"
#include "config_sync.h"
#include "csv.h"
#include "event_log.h"
#include "locale_text.h"
#include "std_output.h"
#include "stop_request.h"
#include "u_ondrel.h"

#include <QDateTime>
#include <QJsonDocument>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>

namespace {

// How often a vanished port is tried again during --intervalo.
constexpr int reopenSeconds = 3;

void message(const QString &text) {
    const QByteArray bytes = QStringLiteral("tarvik-cli: %1\n").arg(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

// The system's reason once a result could not be written; the run stops
// there and ends as bad usage.
QString outputError;

bool outputFailed() {
    return !outputError.isEmpty();
}

// Every result reaches the output at once and whole: a recording stopped or
// cut off keeps every line written before, and never half of one.
bool writeOut(const QByteArray &bytes) {
    if (outputFailed())
        return false;
    if (WriteAll(STDOUT_FILENO, bytes, &outputError))
        return true;
    if (outputError.isEmpty())
        outputError = QStringLiteral("?");
    message(QStringLiteral("não foi possível escrever na saída padrão: %1").arg(outputError));
    return false;
}

void result(const QString &text) {
    writeOut(text.toUtf8() + '\n');
}

void result(int id, const QString &text) {
    result(QStringLiteral("%1: %2").arg(id).arg(text));
}

void result(const QJsonObject &object) {
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

// The application's messages break their lines with a carriage return alone.
QString terminalText(QString text) {
    return text.replace(u'\r', u'\n');
}

QString failureText(int32_t code) {
    return QStringLiteral("erro %1 (%2)").arg(code).arg(modbus_strerror(code));
}

QString signedNumber(qint64 n) {
    return n > 0 ? QStringLiteral("+%1").arg(n) : QString::number(n);
}

class tRun {
  public:
    explicit tRun(const tCliArgs &args);
    int exec();

  private:
    using tPerAddress = int (tRun::*)(int id);
    int each(tPerAddress run);
    int connect(int id);
    int fail(int id, const QString &what, int32_t code);
    tSyncIo io(int id);
    QString fileFor(int id) const;
    int loadFile(int id);
    void csvHeader(const QStringList &fields);

    int ports();
    int info(int id);
    int status(int id);
    int statusEvery();
    int log(int id);
    int configSave(int id);
    int configWrite(int id);
    int configCompare(int id);
    int clockRead(int id);
    int clockSet(int id);

    struct tCommandRow {
        const char *command;
        tPerAddress run;
    };
    static const tCommandRow commandRows[];

    const tCliArgs &args;
    const QString port;
    // CSV for a spreadsheet into a file; plain lines into a terminal or pipe.
    const tOutputKind output = OutputKind(STDOUT_FILENO);
    const tCsvTarget csv =
        output == tOutputKind::Stream ? tCsvTarget::Stream : tCsvTarget::Spreadsheet;
    tOndrel dev;
    int connectedTo = 0;     // the address the session is open with; 0: none
    bool portOpened = false; // the port opened at least once in this run
    bool portGone = false;   // it cannot be opened now, or failed under a command
};

const tRun::tCommandRow tRun::commandRows[] = {
    {"info", &tRun::info},
    {"status", &tRun::status},
    {"log", &tRun::log},
    {"config salvar", &tRun::configSave},
    {"config gravar", &tRun::configWrite},
    {"config comparar", &tRun::configCompare},
    {"relogio ler", &tRun::clockRead},
    {"relogio acertar", &tRun::clockSet},
};

tRun::tRun(const tCliArgs &a) : args(a), port(a.port.isEmpty() ? DefaultPort() : a.port) {
    // No window to keep alive while a command waits for its answer.
    dev.OnIdle = nullptr;
    dev.OnTraceError = [](const QString &why) { message(QStringLiteral("log: %1").arg(why)); };
    dev.SetBaudRate(args.speed);
    dev.SetTimeout(args.timeout);
    dev.SetFastRead(args.fastRead);
    if (args.logCommands || args.logModbus)
        dev.SetSaveLog(args.logCommands, args.logModbus);
}

int tRun::exec() {
    if (args.command == QLatin1String("portas"))
        return ports();
    if (port.isEmpty()) {
        message(QStringLiteral("nenhuma porta: use -p PORTA ou a variável TARVIK_PORTS"));
        return exitUSAGE;
    }
    if (args.format == tFormat::Csv)
        csvHeader(args.command == QLatin1String("log") ? LogCsvHeaderOfAddresses()
                                                       : StatusCsvHeader());
    if (outputFailed())
        return exitUSAGE;
    if (args.interval)
        return statusEvery();
    for (const tCommandRow &row : commandRows)
        if (args.command == QLatin1String(row.command))
            return each(row.run);
    return exitUSAGE;
}

int tRun::each(tPerAddress run) {
    int worst = exitOK;
    for (int id : args.addresses) {
        worst = WorseExit(worst, (this->*run)(id));
        if (outputFailed())
            return exitUSAGE;
        if (portGone)
            break; // every address would fail alike
    }
    return worst;
}

// Several addresses share the port: another address is a new session on
// it, identified afresh. A session that failed is identified again too.
int tRun::connect(int id) {
    if (connectedTo == id && dev.Connected())
        return exitOK;
    connectedTo = 0;
    const int32_t r = dev.OpenConnection(port, id);
    if (r == errMODBUS_OPEN_UART) {
        portGone = true;
        // During --intervalo a port lost later is reported where it is retried.
        if (!args.interval || !portOpened)
            message(QStringLiteral("%1 (erro %2)").arg(dev.PortErrorText()).arg(r));
        return exitDEVICE;
    }
    portOpened = true;
    if (r < 0)
        return fail(id, QStringLiteral("identificação"), r);
    connectedTo = id;
    return exitOK;
}

int tRun::fail(int id, const QString &what, int32_t code) {
    connectedTo = 0;
    if (!dev.PortActive()) {
        portGone = true;
        if (!args.interval)
            message(QStringLiteral("a porta %1 sumiu (endereço %2, %3: %4)")
                        .arg(port)
                        .arg(id)
                        .arg(what, failureText(code)));
        return exitDEVICE;
    }
    message(QStringLiteral("endereço %1: %2: %3").arg(id).arg(what, failureText(code)));
    return exitDEVICE;
}

tSyncIo tRun::io(int id) {
    tSyncIo sync{.send = [this](tCommand cmd) { return dev.SendCommand(cmd); }, .progress = {}};
    // The steps are for someone watching; a script reads the results.
    if (::isatty(STDERR_FILENO))
        sync.progress = [id](const QString &step) {
            message(QStringLiteral("endereço %1: %2").arg(id).arg(step));
        };
    return sync;
}

QString tRun::fileFor(int id) const {
    return QString(args.file).replace(QLatin1String("%a"), QString::number(id));
}

// The file for `id` into the copy; a refused file is bad usage, with the
// application's own message.
int tRun::loadFile(int id) {
    const QString name = fileFor(id);
    QString error;
    if (dev.LoadConfig(name, &error))
        return exitOK;
    message(QStringLiteral("endereço %1: %2: %3").arg(id).arg(name, terminalText(error)));
    return exitUSAGE;
}

// An output that already holds data (a CSV file appended to, line after
// line, run after run) gets no second header.
void tRun::csvHeader(const QStringList &fields) {
    if (output != tOutputKind::FileWithData)
        writeOut(CsvStart(csv) + CsvLine(fields, csv));
}

int tRun::ports() {
    QStringList names, descriptions;
    dev.GetPorts(names, &descriptions);
    if (names.isEmpty())
        message(QStringLiteral("nenhuma porta serial encontrada"));
    for (qsizetype i = 0; i < names.size() && !outputFailed(); ++i)
        result(descriptions[i].isEmpty() ? names[i] : names[i] + u'\t' + descriptions[i]);
    return outputFailed() ? exitUSAGE : exitOK;
}

int tRun::info(int id) {
    if (const int c = connect(id))
        return c;
    if (dev.HaveRTC)
        for (tCommand cmd : {cmdGET_RTC_DATE, cmdGET_RTC_TIME})
            if (const int32_t r = dev.SendCommand(cmd); r < 0)
                return fail(id, QStringLiteral("leitura do relógio"), r);
    if (args.format == tFormat::Json)
        result(InfoJson(id, dev));
    else
        result(InfoText(id, dev));
    return exitOK;
}

int tRun::status(int id) {
    if (const int c = connect(id))
        return c;
    if (const int32_t r = dev.SendCommand(cmdGET_STATUS); r < 0)
        return fail(id, QStringLiteral("leitura do status"), r);
    const QDateTime at = QDateTime::currentDateTime();
    switch (args.format) {
    case tFormat::Csv:
        writeOut(CsvLine(StatusCsvFields(id, dev, at), csv));
        break;
    case tFormat::Json:
        result(StatusJson(id, dev, at));
        break;
    case tFormat::Text:
        result(args.interval ? ShortDateText(at.date()) + u' ' + LongTimeText(at.time()) + u' ' +
                                   StatusText(id, dev)
                             : StatusText(id, dev));
        break;
    }
    return exitOK;
}

// One reading of every address per period until stopped. A vanished port is
// reported once and tried again every few seconds; the readings go on once
// it is back.
int tRun::statusEvery() {
    using Clock = std::chrono::steady_clock;
    const tStopRequest stop;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*args.interval));
    int worst = exitOK;
    auto next = Clock::now();
    while (!stop.requested()) {
        if (portGone) {
            if (!portOpened)
                return worst; // a port that never opened is a wrong name, not a loss
            message(QStringLiteral("a porta %1 sumiu; nova tentativa a cada %2 s, até ela voltar")
                        .arg(port)
                        .arg(reopenSeconds));
            while (portGone) {
                if (!stop.waitUntil(Clock::now() + std::chrono::seconds(reopenSeconds)))
                    return worst;
                const int first = args.addresses.first();
                const int32_t r = dev.OpenConnection(port, first);
                if (r == errMODBUS_OPEN_UART)
                    continue;
                portGone = false;
                connectedTo = r > 0 ? first : 0;
                message(QStringLiteral("porta %1 reaberta").arg(port));
            }
            next = Clock::now();
        }
        for (int id : args.addresses) {
            if (stop.requested() || portGone)
                break;
            worst = WorseExit(worst, status(id));
            if (outputFailed())
                return exitUSAGE;
        }
        if (portGone)
            continue;
        next += period;
        if (next < Clock::now())
            next = Clock::now(); // a slow round delays the next, it does not crowd them
        stop.waitUntil(next);
    }
    return worst;
}

int tRun::log(int id) {
    if (const int c = connect(id))
        return c;
    int32_t r = dev.SendCommand(cmdGET_LOG_INFO);
    if (r < 0)
        return fail(id, QStringLiteral("leitura do LOG"), r);
    // At most `max` events, newest first, never one slot twice.
    const std::vector<int32_t> order =
        LogSlotOrder(dev.LogCountSlots, dev.LogLastSlot, args.max - 1);
    std::vector<tLogEntry> entries;
    int outcome = exitOK;
    for (int32_t slot : order) {
        dev.LogSlotRead = slot;
        r = dev.SendCommand(cmdSET_LOG_READ);
        if (r >= 0)
            r = dev.SendCommand(cmdGET_LOG_READ);
        if (r < 0) {
            outcome = fail(id, QStringLiteral("leitura do slot %1 do LOG").arg(slot), r);
            break;
        }
        // The ring fills in order: a slot never written has nothing older behind it.
        if (!LogSlotWritten(dev.Log))
            break;
        entries.push_back({.slot = slot, .raw = dev.Log, .row = LogRowOf(dev.Log)});
        if (args.format == tFormat::Csv)
            writeOut(CsvLine(LogCsvFieldsOf(id, entries.back()), csv));
        else if (args.format == tFormat::Text)
            result(LogText(id, entries.back()));
        if (outputFailed())
            return exitUSAGE;
    }
    if (args.format == tFormat::Json)
        result(LogJson(id, entries));
    else if (order.empty() && args.format == tFormat::Text)
        result(id, QStringLiteral("Não há informações de LOG"));
    return outcome;
}

int tRun::configSave(int id) {
    if (const int c = connect(id))
        return c;
    const tSyncResult r = ReadConfig(dev, io(id));
    if (r.result < 0)
        return fail(id, QStringLiteral("leitura de %1").arg(ConfigBlockName(r.failed)), r.result);
    const QString name = fileFor(id);
    QString error;
    if (!dev.SaveConfig(name, &error)) {
        message(QStringLiteral("endereço %1: %2: %3").arg(id).arg(name, terminalText(error)));
        return exitUSAGE;
    }
    result(id, QStringLiteral("configuração salva em %1").arg(name));
    return exitOK;
}

int tRun::configWrite(int id) {
    if (const int c = connect(id))
        return c;
    if (const int c = loadFile(id))
        return c;
    const tSyncResult r = WriteConfig(dev, args.verify, io(id));
    if (r.result < 0) {
        const QString step = IsConfigWrite(r.failed) ? QStringLiteral("gravação de %1")
                                                     : QStringLiteral("conferência de %1");
        const int outcome = fail(id, step.arg(ConfigBlockName(r.failed)), r.result);
        message(QStringLiteral("endereço %1: %2")
                    .arg(id)
                    .arg(r.written.isEmpty()
                             ? QStringLiteral("nada foi gravado")
                             : QStringLiteral("já gravados: ") + ConfigBlockNames(r.written)));
        return outcome;
    }
    for (const QString &d : r.differences)
        result(id, d);
    if (!r.differences.isEmpty()) {
        message(QStringLiteral("endereço %1: o controlador não guardou %2 campo(s) como gravados")
                    .arg(id)
                    .arg(r.differences.size()));
        return exitDIFFERENT;
    }
    result(id, args.verify ? QStringLiteral("configuração gravada e conferida")
                           : QStringLiteral("configuração gravada"));
    return exitOK;
}

int tRun::configCompare(int id) {
    if (const int c = connect(id))
        return c;
    if (const int c = loadFile(id))
        return c;
    const tSyncResult r = CompareConfig(dev, ConfigOf(dev), io(id));
    if (r.result < 0)
        return fail(id, QStringLiteral("leitura de %1").arg(ConfigBlockName(r.failed)), r.result);
    for (const QString &d : r.differences)
        result(id, d);
    if (r.differences.isEmpty())
        result(id, QStringLiteral("sem diferenças"));
    return r.differences.isEmpty() ? exitOK : exitDIFFERENT;
}

int tRun::clockRead(int id) {
    if (const int c = connect(id))
        return c;
    if (!dev.HaveRTC) {
        result(id, QStringLiteral("sem relógio"));
        return exitOK;
    }
    for (tCommand cmd : {cmdGET_RTC_DATE, cmdGET_RTC_TIME})
        if (const int32_t r = dev.SendCommand(cmd); r < 0)
            return fail(id, QStringLiteral("leitura do relógio"), r);
    const QDateTime computer = QDateTime::currentDateTime();
    const QDateTime controller = ClockDateTime(dev.RTC);
    QString text = ClockText(dev.RTC);
    if (controller.isValid())
        text += QStringLiteral(", diferença para o computador: %1 s")
                    .arg(signedNumber(computer.secsTo(controller)));
    result(id, text);
    return exitOK;
}

// From the computer's clock: the date, then the time rounded to the nearest
// second as it leaves, then the date again if midnight passed in between.
// The clock's display format and calibration are left as they are.
int tRun::clockSet(int id) {
    if (const int c = connect(id))
        return c;
    if (!dev.HaveRTC) {
        result(id, QStringLiteral("sem relógio"));
        return exitOK;
    }
    auto sendDate = [&](const QDate &d) {
        dev.RTC.Year = uint16_t(d.year());
        dev.RTC.Month = uint16_t(d.month());
        dev.RTC.Day = uint16_t(d.day());
        dev.RTC.Weekday = uint16_t(d.dayOfWeek() % 7); // the controller counts from Sunday
        return dev.SendCommand(cmdSET_RTC_DATE);
    };
    const QDate day = QDate::currentDate();
    if (const int32_t r = sendDate(day); r < 0)
        return fail(id, QStringLiteral("acerto da data"), r);
    const QDateTime now = QDateTime::currentDateTime().addMSecs(500);
    dev.RTC.Hour = uint16_t(now.time().hour());
    dev.RTC.Minute = uint16_t(now.time().minute());
    dev.RTC.Second = uint16_t(now.time().second());
    if (const int32_t r = dev.SendCommand(cmdSET_RTC_TIME); r < 0)
        return fail(id, QStringLiteral("acerto da hora"), r);
    if (now.date() != day)
        if (const int32_t r = sendDate(now.date()); r < 0)
            return fail(id, QStringLiteral("acerto da data"), r);
    result(id, QStringLiteral("relógio acertado para %1").arg(ClockText(dev.RTC)));
    return exitOK;
}

} // namespace

int RunCli(const tCliArgs &args) {
    tRun run(args);
    const int code = run.exec();
    return outputFailed() ? exitUSAGE : code;
}
