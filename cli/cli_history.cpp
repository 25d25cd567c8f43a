#include "cli_history.h"

#include "cli_alarms.h"
#include "cli_run.h"
#include "csv.h"
#include "history_store.h"
#include "locale_text.h"
#include "readings_csv.h"
#include "recorder.h"
#include "temperature.h"
#include "u_ondrel.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace {

tPdfWriter pdfWriter = nullptr;

} // namespace

// Where the window keeps the file: beside the settings for a copy whose
// folder is writable (and not the package's), else the user's data folder.
QString CliHistoryFile() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString installed = QDir(QStringLiteral(TARVIK_INSTALL_BINDIR)).canonicalPath();
    const bool portable = ::access(QFile::encodeName(exeDir).constData(), W_OK) == 0 &&
                          QDir::cleanPath(exeDir) != QDir::cleanPath(installed);
    if (portable)
        return HistoryFilePath(QDir(exeDir).filePath(QStringLiteral("tarvik.ini")), QString());
    return HistoryFilePath(
        QString(), QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                       .filePath(QStringLiteral("tarvik")));
}

namespace {

QDateTime localTime(int64_t utcMs, int32_t offsetSec) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offsetSec);
}

QString relayText(int32_t on) {
    return on < 0 ? QStringLiteral("---")
           : on   ? QStringLiteral("Ligado")
                  : QStringLiteral("Desligado");
}

// The controllers the options choose: -p and -a narrow, none given: all.
std::vector<tHistController> chosen(tCliRun &run, tHistoryStore &store) {
    std::vector<tHistController> out;
    for (const tHistController &c : store.Controllers())
        if ((run.args.port.isEmpty() || c.port == run.args.port) &&
            (!run.args.addressGiven || run.args.addresses.contains(c.address)))
            out.push_back(c);
    return out;
}

struct tRange {
    int64_t from, to;
};

tRange range(const tCliArgs &args) {
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    return {args.from ? args.from->toMSecsSinceEpoch() : 0,
            args.to ? args.to->toMSecsSinceEpoch() : now + 1};
}

// Reading commands open the file read-only: a mistyped name creates
// nothing, and a folder the user may not write is no obstacle.
bool openStore(tHistoryStore &store, bool writing) {
    if (!store.Open(CliHistoryFile(),
                    writing ? tHistoryStore::tAccess::Write : tHistoryStore::tAccess::Read)) {
        CliMessage(store.Message());
        return false;
    }
    if (writing && store.ReadOnly()) {
        CliMessage(store.Message());
        return false;
    }
    return true;
}

// A query that failed (a damaged file among them) ends a reading command:
// what it read is not the whole, and that is said.
bool readFailed(const tHistoryStore &store) {
    if (!store.LastFailed())
        return false;
    CliMessage(store.Message());
    return true;
}

// The controller's columns, then the readings as the window's page writes them.
QStringList readingCsvHeader() {
    return QStringList{QStringLiteral("Porta"), QStringLiteral("Endereço"),
                       QStringLiteral("Modelo")} +
           ReadingsCsvHeader();
}

// One controller's report as a PDF, written whole or not at all.
int pdfReport(tCliRun &run, tHistoryStore &store) {
    const std::vector<tHistController> controllers = chosen(run, store);
    if (readFailed(store))
        return exitUSAGE;
    if (controllers.size() != 1) {
        CliMessage(controllers.empty()
                       ? QStringLiteral("nenhum controlador do histórico com essa porta e endereço")
                       : QStringLiteral("o relatório em PDF é de um controlador: escolha-o com -p "
                                        "e -a (há %1 no histórico)")
                             .arg(controllers.size()));
        return exitUSAGE;
    }
    const tHistController &c = controllers.front();
    tRange r = range(run.args);
    // The period narrowed to the readings held, so the curve fills the page.
    const std::optional<std::pair<int64_t, int64_t>> span = store.ReadingSpan(c.id);
    if (readFailed(store))
        return exitUSAGE;
    if (span) {
        r.from = std::max(r.from, span->first);
        r.to = std::min(r.to, span->second + 1);
    }
    if (!span || r.to <= r.from) {
        CliMessage(
            QStringLiteral("nenhuma leitura de %1 endereço %2 no período: relatório não gerado")
                .arg(c.port)
                .arg(c.address));
        return exitUSAGE;
    }
    QString error;
    if (!pdfWriter) {
        CliMessage(QStringLiteral("este programa não desenha o relatório em PDF; use tarvik-cli"));
        return exitUSAGE;
    }
    if (!pdfWriter(store, c.id, r.from, r.to, run.args.pdf, &error)) {
        CliMessage(QStringLiteral("%1: %2").arg(run.args.pdf, error));
        return exitUSAGE;
    }
    return exitOK;
}

} // namespace

int StoppedOnRequest(int64_t lostReadings) {
    if (lostReadings > 0)
        CliMessage(QStringLiteral("encerrado a pedido; %1 leitura(s) perdida(s) durante a "
                                  "execução, avisadas acima")
                       .arg(lostReadings));
    return exitOK;
}

void SetPdfWriter(tPdfWriter writer) {
    pdfWriter = writer;
}

// The history keeps whole seconds between readings.
bool RecordCheck(const tCliArgs &a, QString &error) {
    if (!a.interval || *a.interval >= 1)
        return true;
    error = QStringLiteral("valor inválido para --intervalo: \"%1\" (registrar: segundos, de 1 a "
                           "86400)")
                .arg(QString::number(*a.interval).replace(u'.', u','));
    return false;
}

int Record(tCliRun &run) {
    tHistoryStore store;
    if (!openStore(store, true))
        return exitUSAGE;
    // A damaged file is said before anything more goes into it.
    if (!store.CheckStructure()) {
        CliMessage(QStringLiteral("%1: nada foi gravado nele").arg(store.Message()));
        return exitUSAGE;
    }
    tRecorder recorder(store, [](const QString &text, bool) { CliMessage(text); });
    // Fractions as given: 1.5 is a second and a half, not 1 s.
    recorder.SetAlarmChanged(AlarmHook(run.args));
    recorder.SetIntervalMs(run.args.interval ? std::llround(*run.args.interval * 1000) : 0);
    const double watch = std::min<double>(recorder.IntervalMs() / 1000.0, tRecorder::watchSec);
    CliMessage(QStringLiteral("registrando em %1, uma leitura a cada %2 s")
                   .arg(store.Path(),
                        QString::number(recorder.IntervalMs() / 1000.0).replace(u'.', u',')));
    const std::function<int32_t(tCommand)> send = [&run](tCommand cmd) {
        return run.session.SendCommand(cmd);
    };
    // Readings taken but never stored are said with a count, and fail the
    // run even when it was asked to stop: they are lost for good.
    const auto recorded = [&](int worst) {
        const size_t unsaved = recorder.Finish(QDateTime::currentMSecsSinceEpoch());
        const uint64_t unstored = unsaved + recorder.Dropped();
        if (unstored > 0) {
            const QString why = store.Message();
            CliMessage(
                QStringLiteral("%1 leitura(s) não gravada(s) no histórico %2%3")
                    .arg(unstored)
                    .arg(store.Path(), why.isEmpty() ? QString() : QStringLiteral(": ") + why));
            worst = WorseExit(worst, exitDEVICE);
        }
        if (recorder.Replaced() > 0)
            worst = WorseExit(worst, exitDEVICE);
        return worst;
    };
    QList<int> silent; // addresses whose silence was already said
    int64_t lost = 0;  // readings not taken
    int64_t retainedAt = 0;
    auto retain = [&] {
        const int64_t startMs = QDateTime::currentMSecsSinceEpoch();
        if (run.args.retentionDays <= 0 || (retainedAt && startMs >= retainedAt &&
                                            startMs - retainedAt < tRecorder::retentionEveryMs))
            return;
        retainedAt = startMs;
        int64_t unpublished = 0;
        const int64_t removed = store.ApplyRetention(run.args.retentionDays, startMs, &unpublished);
        if (removed < 0)
            CliMessage(store.Message());
        else if (removed > 0)
            CliMessage(QStringLiteral("limite do histórico: %1 leitura(s) de mais de %2 dia(s) "
                                      "removida(s)")
                           .arg(removed)
                           .arg(run.args.retentionDays));
        if (unpublished > 0)
            CliMessage(UnpublishedRemovedText(unpublished));
    };
    auto recordOne = [&](int id) {
        const int32_t opened = run.session.Reach(run.port, id, tSession::tReach::Identify);
        if (opened == errMODBUS_OPEN_UART) {
            if (!run.session.PortOpened())
                CliMessage(QStringLiteral("%1 (erro %2)").arg(run.dev.PortErrorText()).arg(opened));
            return exitDEVICE;
        }
        if (opened < 0) {
            recorder.Unanswered(run.port, id, opened, QDateTime::currentMSecsSinceEpoch());
            if (!silent.contains(id)) {
                silent << id;
                CliMessage(QStringLiteral("endereço %1 não responde (%2); o registro "
                                          "continua quando ele voltar")
                               .arg(id)
                               .arg(FailureText(opened)));
            }
            ++lost;
            return exitDEVICE;
        }
        const int32_t r = run.session.SendCommand(cmdGET_STATUS);
        recorder.Observe(run.dev.LastReading());
        if (r < 0) {
            run.session.Failed(run.port, id);
            if (run.session.PortGone())
                return exitOK;
            if (!silent.contains(id)) {
                silent << id;
                CliMessage(QStringLiteral("endereço %1: leitura do status: %2")
                               .arg(id)
                               .arg(FailureText(r)));
            }
            ++lost;
            return exitDEVICE;
        }
        if (silent.removeAll(id))
            CliMessage(QStringLiteral("endereço %1 voltou a responder").arg(id));
        const int64_t now = QDateTime::currentMSecsSinceEpoch();
        if (recorder.EventLogDue(run.port, id, now)) {
            const int32_t stored = recorder.ReadEventLog(run.dev, id, send, now);
            if (stored < 0)
                CliMessage(QStringLiteral("endereço %1: leitura do LOG: %2")
                               .arg(id)
                               .arg(FailureText(stored)));
        }
        return exitOK;
    };
    // A file found damaged while recording: nothing more goes into it.
    EveryPeriod(
        run, watch, recordOne, [&store] { return !store.Damaged(); }, retain);
    if (store.Damaged()) {
        CliMessage(QStringLiteral("o histórico %1 está danificado (arquivo danificado): registro "
                                  "parado, nada mais é gravado nele")
                       .arg(store.Path()));
        return exitUSAGE;
    }
    // A port that never opened is a wrong name, not a loss.
    if (!run.session.PortOpened())
        return recorded(exitDEVICE);
    return recorded(StoppedOnRequest(lost));
}

int HistoryExport(tCliRun &run) {
    tHistoryStore store;
    if (!openStore(store, false))
        return exitUSAGE;
    const tRange r = range(run.args);
    std::vector<tStatusReading> all; // for the spreadsheet's units
    const std::vector<tHistController> controllers = chosen(run, store);
    if (readFailed(store))
        return exitUSAGE;
    for (const tHistController &c : controllers) {
        // In the order taken: after the clock went back, the times alone
        // would misplace the readings.
        std::vector<int64_t> steps;
        const std::vector<tStatusReading> readings =
            store.ReadingsAsStored(c.id, r.from, r.to, &steps);
        if (readFailed(store))
            return exitUSAGE;
        for (size_t i = 0; i < readings.size(); ++i) {
            const tStatusReading &h = readings[i];
            const int64_t stepFrom = steps[i];
            const QDateTime at = localTime(h.utcMs, h.offsetSec);
            if (!run.args.xlsx.isEmpty()) {
                run.sheet << QStringList{c.port, QString::number(c.address), c.model} +
                                 ReadingsCsvFields(h, stepFrom);
                all.push_back(h);
                continue;
            }
            if (run.args.format == tFormat::Json) {
                QJsonArray sensors, relays;
                for (int k = 0; k < 4; ++k) {
                    sensors.append(h.state[k] == stsTEMP_OK ? QJsonValue(h.value[k] / 10.0)
                                                            : QJsonValue(SensorText(h, k)));
                    relays.append(h.relay[k] < 0 ? QJsonValue() : QJsonValue(h.relay[k] > 0));
                }
                QJsonObject o{{QStringLiteral("porta"), c.port},
                              {QStringLiteral("endereco"), c.address},
                              {QStringLiteral("modelo"), c.model},
                              {QStringLiteral("hora"), at.toString(Qt::ISODate)},
                              {QStringLiteral("unidade"), unitText(h.unit)},
                              {QStringLiteral("sensores"), sensors},
                              {QStringLiteral("reles"), relays},
                              {QStringLiteral("resultado"), h.result},
                              {QStringLiteral("tempo_ms"), h.roundTripMs}};
                if (stepFrom)
                    o.insert(QStringLiteral("relogio_voltou_de"),
                             localTime(stepFrom, h.offsetSec).toString(Qt::ISODate));
                CliResult(o);
                continue;
            }
            if (run.args.format == tFormat::Csv) {
                CliWrite(CsvLine(QStringList{c.port, QString::number(c.address), c.model} +
                                     ReadingsCsvFields(h, stepFrom),
                                 run.csv));
                if (CliOutputFailed())
                    return exitUSAGE;
                continue;
            }
            QStringList fields{c.port,
                               QString::number(c.address),
                               c.model,
                               ShortDateText(at.date()),
                               LongTimeText(at.time()),
                               at.toUTC().toString(Qt::ISODate)};
            for (int k = 0; k < 4; ++k)
                fields << (h.result > 0 ? SensorText(h, k) : QStringLiteral("---"));
            for (int k = 0; k < 4; ++k)
                fields << relayText(h.relay[k]);
            fields << QString::number(h.result) << QString::number(h.roundTripMs);
            if (stepFrom)
                fields << QStringLiteral("relógio ") + ClockStepText(stepFrom, h.offsetSec);
            CliResult(fields.join(u'\t'));
            if (CliOutputFailed())
                return exitUSAGE;
        }
    }
    if (!run.args.xlsx.isEmpty())
        run.sheetHeader = QStringList{QStringLiteral("Porta"), QStringLiteral("Endereço"),
                                      QStringLiteral("Modelo")} +
                          ReadingsSheetHeader(all);
    return exitOK;
}

int HistoryAudit(tCliRun &run) {
    tHistoryStore store;
    if (!openStore(store, false))
        return exitUSAGE;
    const tRange r = range(run.args);
    const std::vector<tHistController> controllers = chosen(run, store);
    if (readFailed(store))
        return exitUSAGE;
    for (const tHistController &c : controllers) {
        const std::vector<tHistAuditEntry> audits = store.Audits(c.id, r.from, r.to);
        if (readFailed(store))
            return exitUSAGE;
        for (const tHistAuditEntry &e : audits) {
            const tHistAudit &a = e.audit;
            const QDateTime at = localTime(a.utcMs, a.offsetSec);
            if (run.args.format == tFormat::Json) {
                QJsonArray fields;
                for (const tHistAuditField &f : a.fields)
                    fields.append(QJsonObject{{QStringLiteral("codigo"), f.code},
                                              {QStringLiteral("antes"), f.oldValue},
                                              {QStringLiteral("depois"), f.newValue}});
                CliResult(QJsonObject{{QStringLiteral("porta"), c.port},
                                      {QStringLiteral("endereco"), c.address},
                                      {QStringLiteral("hora"), at.toString(Qt::ISODate)},
                                      {QStringLiteral("usuario"), a.user},
                                      {QStringLiteral("comando"), a.command},
                                      {QStringLiteral("resultado"), a.result},
                                      {QStringLiteral("campos"), fields}});
                continue;
            }
            const QStringList head{ShortDateText(at.date()),
                                   LongTimeText(at.time()),
                                   a.user,
                                   c.port,
                                   QString::number(c.address),
                                   a.command,
                                   QString::number(a.result)};
            // Plain lines are read by a person: the outcome in words.
            const QString outcome = a.result >= 0 ? QStringLiteral("ok") : FailureText(a.result);
            if (run.args.format == tFormat::Csv) {
                for (const tHistAuditField &f : a.fields)
                    CliWrite(CsvLine(head + QStringList{f.code, f.oldValue, f.newValue}, run.csv));
                if (a.fields.empty())
                    CliWrite(CsvLine(head + QStringList{QString(), QString(), QString()}, run.csv));
            } else {
                QStringList changes;
                for (const tHistAuditField &f : a.fields)
                    changes << QStringLiteral("%1 %2 → %3").arg(f.code, f.oldValue, f.newValue);
                CliResult((head.mid(0, head.size() - 1) << outcome).join(u' ') +
                          (changes.isEmpty()
                               ? QString()
                               : QStringLiteral(": ") + changes.join(QStringLiteral(", "))));
            }
            if (CliOutputFailed())
                return exitUSAGE;
        }
    }
    return exitOK;
}

int HistoryReport(tCliRun &run) {
    tHistoryStore store;
    if (!openStore(store, false))
        return exitUSAGE;
    if (!run.args.pdf.isEmpty())
        return pdfReport(run, store);
    const tRange r = range(run.args);
    const std::vector<tHistController> controllers = chosen(run, store);
    if (readFailed(store))
        return exitUSAGE;
    for (const tHistController &c : controllers) {
        QJsonArray days;
        if (run.args.format == tFormat::Text)
            CliResult(QStringLiteral("%1 endereço %2 (%3 %4)")
                          .arg(c.port)
                          .arg(c.address)
                          .arg(c.model, c.firmware));
        for (int k = 0; k < 4; ++k) {
            const std::vector<tHistDay> sensorDays = store.Days(c.id, k, r.from, r.to, {});
            if (readFailed(store))
                return exitUSAGE;
            for (const tHistDay &d : sensorDays) {
                // A day with the sensor open or short throughout has no values;
                // an input the model does not show always reads open.
                const bool values = d.count > 0;
                if (!values && k >= SensorsOfModel(c.model))
                    continue;
                const QString failures = SensorFailuresText(d);
                if (run.args.format == tFormat::Json) {
                    auto tenths = [&](double v) {
                        return values ? QJsonValue(qRound(v) / 10.0) : QJsonValue();
                    };
                    days.append(QJsonObject{{QStringLiteral("sensor"), k + 1},
                                            {QStringLiteral("dia"), d.date},
                                            {QStringLiteral("minima"), tenths(d.min)},
                                            {QStringLiteral("media"), tenths(d.mean)},
                                            {QStringLiteral("maxima"), tenths(d.max)},
                                            {QStringLiteral("leituras"), d.count},
                                            {QStringLiteral("aberto"), d.open},
                                            {QStringLiteral("curto"), d.shorted}});
                    continue;
                }
                const QStringList fields{QString::number(c.address),
                                         QStringLiteral("Sensor %1").arg(k + 1),
                                         d.date,
                                         values ? tenthsText(d.min) : QString(),
                                         values ? tenthsText(qRound(d.mean)) : QString(),
                                         values ? tenthsText(d.max) : QString(),
                                         QString::number(d.count)};
                if (run.args.format == tFormat::Csv)
                    CliWrite(CsvLine(fields, run.csv));
                else if (!values)
                    CliResult(QStringLiteral("  sensor %1 %2: sem valores, %3")
                                  .arg(k + 1)
                                  .arg(d.date, failures));
                else
                    CliResult(
                        QStringLiteral("  sensor %1 %2: mín %3, média %4, máx %5 (%6 leituras%7)")
                            .arg(k + 1)
                            .arg(d.date, tenthsText(d.min), tenthsText(qRound(d.mean)),
                                 tenthsText(d.max))
                            .arg(d.count)
                            .arg(failures.isEmpty() ? QString() : QStringLiteral("; ") + failures));
            }
        }
        const std::vector<tHistRelayChange> changes = store.RelayChanges(c.id, r.from, r.to);
        if (readFailed(store))
            return exitUSAGE;
        std::array<int, 4> switches{};
        for (const tHistRelayChange &ch : changes)
            switches[ch.relay] += ch.on;
        const size_t audits = store.Audits(c.id, r.from, r.to).size();
        if (readFailed(store))
            return exitUSAGE;
        if (run.args.format == tFormat::Json)
            CliResult(QJsonObject{{QStringLiteral("porta"), c.port},
                                  {QStringLiteral("endereco"), c.address},
                                  {QStringLiteral("modelo"), c.model},
                                  {QStringLiteral("dias"), days},
                                  {QStringLiteral("ligacoes"),
                                   QJsonArray{switches[0], switches[1], switches[2], switches[3]}},
                                  {QStringLiteral("alteracoes"), qint64(audits)}});
        else if (run.args.format == tFormat::Text)
            CliResult(QStringLiteral("  reles ligados: %1, %2, %3, %4 vezes; %5 alterações")
                          .arg(switches[0])
                          .arg(switches[1])
                          .arg(switches[2])
                          .arg(switches[3])
                          .arg(audits));
    }
    return exitOK;
}

std::vector<tSheetCell> HistoryReadingsSheetKinds() {
    std::vector<tSheetCell> kinds{tSheetCell::Text, tSheetCell::Integer, tSheetCell::Text};
    for (tSheetCell k : ReadingsSheetKinds())
        kinds.push_back(k);
    return kinds;
}

int HistoryVerify(tCliRun &run) {
    tHistoryStore store;
    if (!openStore(store, false))
        return exitUSAGE;
    const std::optional<tHistChainCheck> check = store.VerifyChain();
    if (!check) {
        CliMessage(store.Message());
        return exitUSAGE;
    }
    const auto hex = [](const tHistChainLink &l) {
        return QStringLiteral("nº %1, SHA-256 %2")
            .arg(l.n)
            .arg(QString::fromLatin1(l.hash.toHex()));
    };
    if (!check->Whole()) {
        CliResult(QStringLiteral("adulterado: %1").arg(check->first));
        if (check->faults > 1)
            CliResult(QStringLiteral("e mais %1 registro(s) adulterado(s)").arg(check->faults - 1));
        return exitDEVICE;
    }
    CliResult(QStringLiteral("íntegro: %1 registros na cadeia (%2 controlador(es), %3 leituras, "
                             "%4 slots do LOG, %5 alterações)")
                  .arg(check->links)
                  .arg(check->records[0])
                  .arg(check->records[1])
                  .arg(check->records[2])
                  .arg(check->records[3]));
    if (check->retained)
        CliResult(QStringLiteral("%1 leituras removidas pelo limite do histórico, com o corte "
                                 "registrado")
                      .arg(check->retained));
    if (check->sealedUpTo)
        CliResult(QStringLiteral("os registros até o nº %1, anteriores à cadeia, foram encadeados "
                                 "em %2")
                      .arg(check->sealedUpTo)
                      .arg(QDateTime::fromMSecsSinceEpoch(check->sealedAtMs)
                               .toString(QStringLiteral("dd/MM/yyyy HH:mm"))));
    CliResult(QStringLiteral("cabeça da cadeia: %1").arg(hex(check->head)));
    // Each controller's head for the period, as its report prints it.
    const tRange r = range(run.args);
    const std::vector<tHistController> controllers = chosen(run, store);
    if (readFailed(store))
        return exitUSAGE;
    for (const tHistController &c : controllers) {
        const std::optional<tHistChainLink> head = store.ChainHead(c.id, r.from, r.to);
        if (readFailed(store))
            return exitUSAGE;
        if (head)
            CliResult(QStringLiteral("%1 endereço %2 no período: %3")
                          .arg(c.port)
                          .arg(c.address)
                          .arg(hex(*head)));
    }
    return exitOK;
}

QStringList HistoryReadingsCsvHeader() {
    return readingCsvHeader();
}
