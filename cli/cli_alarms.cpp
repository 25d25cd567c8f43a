#include "cli_alarms.h"

#include "cli_history.h"
#include "cli_run.h"
#include "csv.h"
#include "history_tap.h"
#include "locale_text.h"
#include "recorder.h"
#include "temperature.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace {

// How long --ao-alarmar's program may run before it is stopped and said.
constexpr int hookLimitMs = 5 * 60 * 1000;

QString LocalText(int64_t utcMs, int32_t offsetSec) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offsetSec);
    return ShortDateText(at.date()) + u' ' + LongTimeText(at.time());
}
QString IsoText(int64_t utcMs, int32_t offsetSec) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, offsetSec)
        .toString(Qt::ISODate);
}
// A temperature for scripts: decimal point.
QString PointText(const std::optional<int32_t> &tenths) {
    return tenths ? QString::number(*tenths / 10.0, 'f', 1) : QString();
}
QJsonValue JsonTenths(const std::optional<int32_t> &tenths) {
    return tenths ? QJsonValue(*tenths / 10.0) : QJsonValue();
}
QString SensorName(int32_t sensor) {
    return sensor ? QStringLiteral("sensor %1").arg(sensor) : QStringLiteral("controlador");
}
QString DurationText(int64_t ms) {
    const int64_t minutes = ms / 60'000;
    return minutes >= 60 ? QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60)
                         : QStringLiteral("%1 min").arg(minutes);
}

bool OpenHistory(tHistoryStore &store, bool writing) {
    if (!store.Open(CliHistoryFile())) {
        CliMessage(store.Message());
        return false;
    }
    if (store.ReadOnly()) {
        CliMessage(store.Message());
        return !writing;
    }
    return true;
}

// The one place -p and -a name among the history's controllers.
std::optional<std::pair<QString, int32_t>> OnePlace(tCliRun &run, tHistoryStore &store) {
    std::set<std::pair<QString, int32_t>> places;
    for (const tHistController &c : store.Controllers())
        if ((run.args.port.isEmpty() || c.port == run.args.port) &&
            (!run.args.addressGiven || run.args.addresses.contains(c.address)))
            places.insert({c.port, c.address});
    if (places.size() == 1)
        return *places.begin();
    CliMessage(places.empty()
                   ? QStringLiteral("nenhum controlador do histórico com essa porta e endereço; "
                                    "os limites valem para um controlador já registrado")
                   : QStringLiteral("os limites são de um controlador: escolha-o com -p e -a (há "
                                    "%1 no histórico)")
                         .arg(places.size()));
    return std::nullopt;
}

// The unit of the newest reading at a place: the one its limits are given in.
int32_t PlaceUnit(tHistoryStore &store, const QString &port, int32_t address) {
    int64_t newest = 0;
    int32_t unit = tempCELSIUS;
    for (const tHistController &c : store.Controllers()) {
        if (c.port != port || c.address != address)
            continue;
        const auto span = store.ReadingSpan(c.id);
        if (!span || span->second < newest)
            continue;
        for (const tStatusReading &r : store.Readings(c.id, span->second, span->second + 1))
            if (r.result > 0) {
                newest = span->second;
                unit = r.unit;
            }
    }
    return unit;
}

// SENSOR: 1..4, or "resposta" for the minutes without an answer.
std::optional<int32_t> SensorOf(const QString &word) {
    if (Unaccented(word).toLower() == QLatin1String("resposta"))
        return 0;
    bool ok = false;
    const int n = word.toInt(&ok);
    return ok && n >= 1 && n <= 4 ? std::optional(n) : std::nullopt;
}

QString LimitsLine(const tAlarmLimitEntry &e) {
    if (e.sensor == 0)
        return QStringLiteral("%1 endereço %2 sem resposta: alarme após %3 min")
            .arg(e.port)
            .arg(e.address)
            .arg(e.limits.delayMin);
    return QStringLiteral("%1 endereço %2 sensor %3: mínimo %4, máximo %5, atraso %6 min, "
                          "histerese %7")
        .arg(e.port)
        .arg(e.address)
        .arg(e.sensor)
        .arg(AlarmLimitText(e.limits.low, e.limits.unit),
             AlarmLimitText(e.limits.high, e.limits.unit))
        .arg(e.limits.delayMin)
        .arg(tenthsText(e.limits.hysteresis) + unitText(e.limits.unit));
}

QString EpisodeText(const tAlarmEpisode &e) {
    QString text = QStringLiteral("%1 endereço %2 %3 %4")
                       .arg(e.port)
                       .arg(e.address)
                       .arg(SensorName(e.sensor), AlarmConditionText(e.condition));
    if (e.extreme)
        text += QStringLiteral(" (extremo %1)").arg(AlarmLimitText(e.extreme, e.unit));
    return text;
}

// The programs --ao-alarmar started, each waited for on a thread of its
// own so that recording never waits; what is left at the end is waited for
// a little, then left to finish alone.
class tHookRunner {
  public:
    explicit tHookRunner(QString command) : FCommand(std::move(command)) {}
    ~tHookRunner() {
        for (auto &t : FThreads)
            if (!t->wait(QDeadlineTimer(10'000)))
                t.release(); // still running: never destroy a running thread
    }
    void Start(const QStringList &environment) {
        std::erase_if(FThreads, [](const std::unique_ptr<QThread> &t) { return t->isFinished(); });
        const QString command = FCommand;
        FThreads.emplace_back(QThread::create([command, environment] {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const QString &kv : environment)
                env.insert(kv.section(u'=', 0, 0), kv.section(u'=', 1));
            p.setProcessEnvironment(env);
            p.setStandardInputFile(QProcess::nullDevice());
            p.setProcessChannelMode(QProcess::ForwardedChannels);
            p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
            if (!p.waitForStarted()) {
                CliMessage(QStringLiteral("--ao-alarmar: não foi possível executar \"%1\": %2")
                               .arg(command, p.errorString()));
                return;
            }
            if (!p.waitForFinished(hookLimitMs)) {
                p.kill();
                p.waitForFinished(5000);
                CliMessage(QStringLiteral("--ao-alarmar: \"%1\" passou de %2 min e foi parado")
                               .arg(command)
                               .arg(hookLimitMs / 60'000));
                return;
            }
            if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
                CliMessage(QStringLiteral("--ao-alarmar: \"%1\" falhou (código %2)")
                               .arg(command)
                               .arg(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1));
        }));
        FThreads.back()->start();
    }

  private:
    QString FCommand;
    std::vector<std::unique_ptr<QThread>> FThreads;
};

} // namespace

QStringList AlarmEnvironment(const tAlarmEpisode &e, bool opened) {
    const QString unit = e.unit == tempFAHRENHEIT ? QStringLiteral("F") : QStringLiteral("C");
    return {
        QStringLiteral("TARVIK_ALARME_EVENTO=") +
            (opened ? QStringLiteral("abertura") : QStringLiteral("fechamento")),
        QStringLiteral("TARVIK_ALARME_NUMERO=%1").arg(e.id),
        QStringLiteral("TARVIK_ALARME_PORTA=") + e.port,
        QStringLiteral("TARVIK_ALARME_ENDERECO=%1").arg(e.address),
        QStringLiteral("TARVIK_ALARME_SENSOR=%1").arg(e.sensor),
        QStringLiteral("TARVIK_ALARME_CONDICAO=") + AlarmConditionWord(e.condition),
        QStringLiteral("TARVIK_ALARME_TEXTO=") + EpisodeText(e),
        QStringLiteral("TARVIK_ALARME_INICIO=") + IsoText(e.startMs, e.offsetSec),
        QStringLiteral("TARVIK_ALARME_FIM=") +
            (e.endMs ? IsoText(*e.endMs, e.offsetSec) : QString()),
        QStringLiteral("TARVIK_ALARME_EXTREMO=") + PointText(e.extreme),
        QStringLiteral("TARVIK_ALARME_UNIDADE=") + unit,
        QStringLiteral("TARVIK_ALARME_MINIMO=") + PointText(e.low),
        QStringLiteral("TARVIK_ALARME_MAXIMO=") + PointText(e.high),
    };
}

tAlarmMonitor::tChanged AlarmHook(const tCliArgs &args) {
    std::shared_ptr<tHookRunner> runner =
        args.onAlarm.isEmpty() ? nullptr : std::make_shared<tHookRunner>(args.onAlarm);
    return [runner](const tAlarmEpisode &e, bool opened) {
        CliMessage(QStringLiteral("alarme %1 %2: %3, desde %4")
                       .arg(e.id)
                       .arg(opened ? QStringLiteral("aberto") : QStringLiteral("encerrado"),
                            EpisodeText(e), LocalText(e.startMs, e.offsetSec)));
        if (runner)
            runner->Start(AlarmEnvironment(e, opened));
    };
}

int AlarmLimitsList(tCliRun &run) {
    tHistoryStore store;
    if (!OpenHistory(store, false))
        return exitUSAGE;
    tAlarmStore alarms(store);
    for (const tAlarmLimitEntry &e : alarms.Limits(run.args.port)) {
        if (run.args.addressGiven && !run.args.addresses.contains(e.address))
            continue;
        CliResult(LimitsLine(e));
        if (CliOutputFailed())
            return exitUSAGE;
    }
    if (alarms.LastFailed()) {
        CliMessage(alarms.Message());
        return exitUSAGE;
    }
    return exitOK;
}

bool AlarmLimitsSetCheck(const tCliArgs &a, QString &error) {
    const std::optional<int32_t> sensor = SensorOf(a.file);
    if (!sensor) {
        error = QStringLiteral("SENSOR é de 1 a 4, ou \"resposta\": \"%1\"").arg(a.file);
        return false;
    }
    if (a.command == QLatin1String("limites remover"))
        return true;
    if (*sensor == 0 && (a.alarmLow || a.alarmHigh || a.hysteresis)) {
        error = QStringLiteral("limites definir resposta leva só --atraso (minutos sem resposta)");
        return false;
    }
    if (!a.alarmLow && !a.alarmHigh && !a.delayMin && !a.hysteresis) {
        error = QStringLiteral("falta --min, --max, --atraso ou --histerese");
        return false;
    }
    if (a.alarmLow && a.alarmHigh && *a.alarmLow >= *a.alarmHigh) {
        error = QStringLiteral("--min deve ficar abaixo de --max");
        return false;
    }
    return true;
}

namespace {
int SetOrRemove(tCliRun &run, bool remove) {
    tHistoryStore store;
    if (!OpenHistory(store, true))
        return exitUSAGE;
    const auto place = OnePlace(run, store);
    if (!place)
        return exitUSAGE;
    const int32_t sensor = *SensorOf(run.args.file);
    tAlarmStore alarms(store);
    std::optional<tAlarmLimits> limits;
    if (!remove) {
        const tAlarmSettings now = alarms.Settings(place->first, place->second);
        const int32_t unit = PlaceUnit(store, place->first, place->second);
        tAlarmLimits l =
            sensor ? now.sensor[size_t(sensor - 1)] : tAlarmLimits{.delayMin = now.noAnswerMin};
        // Limits kept from before follow the controller's unit now.
        if (l.unit != unit) {
            if (l.low)
                l.low = ConvertTenths(*l.low, l.unit, unit);
            if (l.high)
                l.high = ConvertTenths(*l.high, l.unit, unit);
            l.hysteresis =
                unit == tempFAHRENHEIT ? qRound(l.hysteresis * 1.8) : qRound(l.hysteresis / 1.8);
            l.unit = unit;
        }
        const auto tenths = [](double v) { return int32_t(qRound(v * 10)); };
        if (run.args.alarmLow)
            l.low = tenths(*run.args.alarmLow);
        if (run.args.alarmHigh)
            l.high = tenths(*run.args.alarmHigh);
        if (run.args.delayMin)
            l.delayMin = *run.args.delayMin;
        if (run.args.hysteresis)
            l.hysteresis = tenths(*run.args.hysteresis);
        if (l.low && l.high && *l.low >= *l.high) {
            CliMessage(QStringLiteral("o mínimo %1 ficaria acima do máximo %2")
                           .arg(AlarmLimitText(l.low, unit), AlarmLimitText(l.high, unit)));
            return exitUSAGE;
        }
        limits = l;
    }
    const QDateTime now = QDateTime::currentDateTime();
    if (!alarms.SetLimits(place->first, place->second, sensor, limits, OsUserName(),
                          now.toMSecsSinceEpoch(), now.offsetFromUtc())) {
        CliMessage(alarms.Message());
        return exitUSAGE;
    }
    return exitOK;
}
} // namespace

int AlarmLimitsSet(tCliRun &run) {
    return SetOrRemove(run, false);
}

int AlarmLimitsRemove(tCliRun &run) {
    return SetOrRemove(run, true);
}

QStringList AlarmEpisodesCsvHeader() {
    return {QStringLiteral("Número"),
            QStringLiteral("Porta"),
            QStringLiteral("Endereço"),
            QStringLiteral("Sensor"),
            QStringLiteral("Condição"),
            QStringLiteral("Início"),
            QStringLiteral("Fim"),
            QStringLiteral("Duração (min)"),
            QStringLiteral("Extremo"),
            QStringLiteral("Unidade"),
            QStringLiteral("Mínimo"),
            QStringLiteral("Máximo"),
            QStringLiteral("Reconhecimentos")};
}

std::vector<tSheetCell> AlarmEpisodesSheetKinds() {
    using enum tSheetCell;
    return {Integer, Text,   Integer, Integer, Text,   DateTime, DateTime,
            Integer, Number, Text,    Number,  Number, Text};
}

namespace {
// One episode's CSV row, which is also its row in a spreadsheet: dates in
// the form spreadsheets take as dates, numbers with the decimal comma.
QStringList EpisodeFields(const tAlarmEpisode &e, int64_t durationMs, const QString &acks) {
    const auto at = [&](int64_t utcMs) {
        return CsvDateTime(QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, e.offsetSec));
    };
    return {QString::number(e.id),
            e.port,
            QString::number(e.address),
            QString::number(e.sensor),
            AlarmConditionText(e.condition),
            at(e.startMs),
            e.endMs ? at(*e.endMs) : QString(),
            QString::number(durationMs / 60'000),
            e.extreme ? tenthsText(*e.extreme) : QString(),
            unitText(e.unit),
            e.low ? tenthsText(*e.low) : QString(),
            e.high ? tenthsText(*e.high) : QString(),
            acks};
}
} // namespace

int AlarmEpisodes(tCliRun &run) {
    tHistoryStore store;
    if (!OpenHistory(store, false))
        return exitUSAGE;
    tAlarmStore alarms(store);
    const int64_t nowMs = QDateTime::currentMSecsSinceEpoch();
    const int64_t from = run.args.from ? run.args.from->toMSecsSinceEpoch() : 0;
    const int64_t to = run.args.to ? run.args.to->toMSecsSinceEpoch() : nowMs + 1;
    for (const tAlarmEpisode &e : alarms.Episodes(from, to, run.args.port)) {
        if (run.args.addressGiven && !run.args.addresses.contains(e.address))
            continue;
        const int64_t durationMs = e.endMs.value_or(nowMs) - e.startMs;
        if (run.args.format == tFormat::Json) {
            QJsonArray acks;
            for (const tAlarmAck &a : e.acks)
                acks.append(QJsonObject{{QStringLiteral("usuario"), a.user},
                                        {QStringLiteral("hora"), IsoText(a.utcMs, a.offsetSec)},
                                        {QStringLiteral("comentario"), a.comment}});
            CliResult(
                QJsonObject{{QStringLiteral("numero"), qint64(e.id)},
                            {QStringLiteral("porta"), e.port},
                            {QStringLiteral("endereco"), e.address},
                            {QStringLiteral("sensor"), e.sensor},
                            {QStringLiteral("condicao"), AlarmConditionWord(e.condition)},
                            {QStringLiteral("inicio"), IsoText(e.startMs, e.offsetSec)},
                            {QStringLiteral("fim"),
                             e.endMs ? QJsonValue(IsoText(*e.endMs, e.offsetSec)) : QJsonValue()},
                            {QStringLiteral("duracao_s"), qint64(durationMs / 1000)},
                            {QStringLiteral("extremo"), JsonTenths(e.extreme)},
                            {QStringLiteral("unidade"), unitText(e.unit)},
                            {QStringLiteral("minimo"), JsonTenths(e.low)},
                            {QStringLiteral("maximo"), JsonTenths(e.high)},
                            {QStringLiteral("reconhecimentos"), acks}});
        } else {
            QStringList acks;
            for (const tAlarmAck &a : e.acks)
                acks << QStringLiteral("%1 %2: %3")
                            .arg(a.user, LocalText(a.utcMs, a.offsetSec), a.comment);
            const QString end =
                e.endMs ? LocalText(*e.endMs, e.offsetSec) : QStringLiteral("em aberto");
            if (!run.args.xlsx.isEmpty()) {
                run.sheet << EpisodeFields(e, durationMs, acks.join(QStringLiteral(" | ")));
            } else if (run.args.format == tFormat::Csv) {
                CliWrite(CsvLine(EpisodeFields(e, durationMs, acks.join(QStringLiteral(" | "))),
                                 run.csv));
            } else {
                const QString span =
                    e.endMs ? QStringLiteral("%1 a %2").arg(LocalText(e.startMs, e.offsetSec), end)
                            : QStringLiteral("desde %1, em aberto")
                                  .arg(LocalText(e.startMs, e.offsetSec));
                CliResult(QStringLiteral("%1 %2 (%3) %4%5")
                              .arg(e.id)
                              .arg(span, DurationText(durationMs), EpisodeText(e),
                                   acks.isEmpty() ? QStringLiteral("; não reconhecido")
                                                  : QStringLiteral("; reconhecido: ") +
                                                        acks.join(QStringLiteral("; "))));
            }
        }
        if (CliOutputFailed())
            return exitUSAGE;
    }
    if (alarms.LastFailed()) {
        CliMessage(alarms.Message());
        return exitUSAGE;
    }
    return exitOK;
}

bool AlarmAcknowledgeCheck(const tCliArgs &a, QString &error) {
    bool ok = false;
    a.file.toLongLong(&ok);
    if (!ok) {
        error = QStringLiteral("N é o número do alarme (a primeira coluna de \"alarmes\"): "
                               "\"%1\"")
                    .arg(a.file);
        return false;
    }
    if (a.comment.trimmed().isEmpty()) {
        error = QStringLiteral("falta --comentario TEXTO: o que foi visto ou feito");
        return false;
    }
    return true;
}

int AlarmAcknowledge(tCliRun &run) {
    tHistoryStore store;
    if (!OpenHistory(store, true))
        return exitUSAGE;
    tAlarmStore alarms(store);
    const QDateTime now = QDateTime::currentDateTime();
    if (!alarms.Acknowledge(run.args.file.toLongLong(),
                            {now.toMSecsSinceEpoch(), now.offsetFromUtc(), OsUserName(),
                             run.args.comment.trimmed()})) {
        CliMessage(alarms.Message());
        return exitUSAGE;
    }
    return exitOK;
}

int AlarmVerify(tCliRun &run) {
    enum { OK = 0, WARNING = 1, CRITICAL = 2, UNKNOWN = 3 };
    static const char *const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    // With several controllers a critical one outweighs one that did not answer.
    const auto worse = [](int a, int b) {
        constexpr int rank[] = {0, 1, 3, 2};
        return rank[a] >= rank[b] ? a : b;
    };
    const auto line = [](int level, const QString &reason, const QStringList &perf) {
        QString text = QStringLiteral("TARVIK %1 - %2").arg(QLatin1String(words[level]), reason);
        if (!perf.isEmpty())
            text += QStringLiteral(" | ") + perf.join(u' ');
        CliResult(text);
        return CliOutputFailed() ? UNKNOWN : level;
    };
    if (run.port.isEmpty())
        return line(UNKNOWN, QStringLiteral("nenhuma porta: use -p PORTA ou TARVIK_PORTS"), {});
    const bool several = run.args.addresses.size() > 1;
    int worst = OK;
    QStringList reasons, perf;
    std::unique_ptr<tHistoryStore> store;
    for (int id : run.args.addresses) {
        const QString who = several ? QStringLiteral("endereço %1: ").arg(id) : QString();
        const int32_t r = run.connectKnown(id) == exitOK ? run.session.SendCommand(cmdGET_STATUS)
                                                         : run.dev.ErrorCom;
        if (run.session.PortGone())
            return line(
                UNKNOWN,
                QStringLiteral("a porta %1 não abre: %2").arg(run.port, run.dev.PortErrorText()),
                {});
        if (r < 0) {
            worst = worse(worst, UNKNOWN);
            reasons << who + QStringLiteral("sem resposta (%1)").arg(FailureText(r));
            continue;
        }
        const tStatusReading &reading = run.dev.LastReading();
        tAlarmSettings settings;
        if (!store) {
            store = std::make_unique<tHistoryStore>();
            if (!store->Open(CliHistoryFile()))
                CliMessage(store->Message());
        }
        if (store->IsOpen()) {
            tAlarmStore alarms(*store);
            settings = alarms.Settings(run.port, id);
            if (alarms.LastFailed())
                CliMessage(alarms.Message());
        }
        const tAlarmVerdict v = AlarmVerdict(AlarmReadingOf(reading), settings);
        worst = worse(worst, int(v.level));
        for (const QString &reason : v.reasons)
            reasons << who + reason;
        for (const QString &p : v.performance)
            perf << (several ? QStringLiteral("a%1_").arg(id) : QString()) + p;
    }
    if (reasons.isEmpty())
        reasons << QStringLiteral("temperaturas dentro dos limites");
    return line(worst, reasons.join(QStringLiteral("; ")), perf);
}
