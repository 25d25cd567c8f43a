#include "cli_publish.h"

#include "alarm_store.h"
#include "cli_alarms.h"
#include "cli_history.h"
#include "cli_run.h"
#include "publisher.h"
#include "store_buffer.h"
#include "topics.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

namespace {

constexpr double defaultSeconds = 10;
// How long the readings still waiting may take to leave at the end.
constexpr auto leaveLimit = std::chrono::seconds(10);

// The password is the file's first line, never a word on the command line
// (where every user of the machine can read it).
bool readPassword(const QString &name, QString &password) {
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        CliMessage(QStringLiteral("--senha-arquivo: %1: %2").arg(name, f.errorString()));
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    password = QString::fromUtf8(line);
    struct stat st = {};
    if (::stat(QFile::encodeName(name).constData(), &st) == 0 && (st.st_mode & S_IROTH))
        CliMessage(
            QStringLiteral("aviso: %1 pode ser lido por qualquer usuário (chmod o-r)").arg(name));
    return true;
}

// One status reading of `id`, published whether it succeeded or not, and
// judged: its alarm state published beside it.
int publishOne(tCliRun &run, tPublisher &publisher, tAlarmMonitor *alarms, int id) {
    const int c = run.connectInRun(id);
    if (run.session.PortGone())
        return c; // no controller was asked; the port is tried again
    // Judged as published: its alarm state goes out beside it.
    const auto judge = [&](const tStatusReading &reading) {
        if (!alarms)
            return;
        alarms->Observe({0, run.port, id, reading.model, reading.firmware}, 0, reading);
        publisher.submitAlarm(id, AlarmJson(alarms->Active(run.port, id), reading.offsetSec));
    };
    if (c != exitOK) {
        const tStatusReading failed = FailedReading(run.port, id, run.dev.ErrorCom);
        publisher.submit(failed);
        judge(failed);
        return c;
    }
    const int32_t r = run.session.SendCommand(cmdGET_STATUS);
    publisher.submit(run.dev.LastReading());
    judge(run.dev.LastReading());
    if (r < 0)
        return run.fail(id, QStringLiteral("leitura do status"), r);
    return exitOK;
}

// The history file's buffers for `ids`, or none (said once) when the file
// cannot be opened or refuses: the readings then wait in memory.
std::map<int, std::unique_ptr<tReadingBuffer>> storeBuffers(const tPublishOptions &o,
                                                            const QString &port,
                                                            const std::vector<int> &ids,
                                                            QString &where) {
    std::map<int, std::unique_ptr<tReadingBuffer>> made;
    QString error;
    const QString path = CliHistoryFile();
    const std::shared_ptr<tPublishStore> store = tPublishStore::Open(path, error);
    for (int id : ids) {
        if (!store)
            break;
        std::unique_ptr<tStoreBuffer> b =
            tStoreBuffer::Make(store, o.broker.text(), o.prefix, port, id, error);
        if (!b) {
            made.clear();
            break;
        }
        where = b->describe();
        made[id] = std::move(b);
    }
    if (made.empty())
        CliMessage(QStringLiteral("o histórico %1 não pode guardar as leituras (%2): elas esperam "
                                  "o broker na memória")
                       .arg(path, error));
    return made;
}

} // namespace

bool PublishCheck(const tCliArgs &a, QString &error) {
    if (a.broker.isEmpty()) {
        error = QStringLiteral("falta --broker mqtt://HOST[:PORTA] ou mqtts://HOST[:PORTA]");
        return false;
    }
    const std::optional<tBrokerAddress> broker = ParseBroker(a.broker, error);
    if (!broker)
        return false;
    if (!a.passwordFile.isEmpty() && a.user.isEmpty()) {
        error = QStringLiteral("--senha-arquivo pede --usuário");
        return false;
    }
    if (!a.passwordFile.isEmpty() && !broker->tls && !a.insecure) {
        error = QStringLiteral("a senha iria sem criptografia por mqtt://; use mqtts:// ou, numa "
                               "rede de confiança, --inseguro");
        return false;
    }
    if (!a.caFile.isEmpty() && !broker->tls) {
        error = QStringLiteral("--ca só vale com mqtts://");
        return false;
    }
    // Found missing now, not as a failure of every connection later.
    if (!a.caFile.isEmpty()) {
        QFile ca(a.caFile);
        if (!QFileInfo(a.caFile).isFile() || !ca.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("--ca: %1: %2")
                        .arg(a.caFile, QFileInfo::exists(a.caFile) && !ca.errorString().isEmpty()
                                           ? ca.errorString()
                                           : QStringLiteral("arquivo não encontrado"));
            return false;
        }
    }
    const std::pair<const char *, QString> prefixes[] = {
        {"--tópico", a.topic}, {"--prefixo-descoberta", a.discoveryPrefix}};
    for (const auto &[option, prefix] : prefixes) {
        if (prefix.isNull())
            continue; // not given: the default
        if (const QString problem = TopicPrefixProblem(prefix); !problem.isEmpty()) {
            error = QStringLiteral("%1: %2").arg(QString::fromUtf8(option), problem);
            return false;
        }
    }
    if (!a.discoveryPrefix.isNull() && !a.homeAssistant) {
        error = QStringLiteral("--prefixo-descoberta pede --homeassistant");
        return false;
    }
    return true;
}

int Publish(tCliRun &run) {
    const tCliArgs &a = run.args;
    QString error;
    tPublishOptions o;
    o.broker = *ParseBroker(a.broker, error);
    o.prefix = a.topic.isEmpty() ? DefaultTopicPrefix() : a.topic;
    o.user = a.user;
    if (!a.passwordFile.isEmpty() && !readPassword(a.passwordFile, o.password))
        return exitUSAGE;
    o.caFile = a.caFile;
    o.homeAssistant = a.homeAssistant;
    o.discoveryPrefix = a.discoveryPrefix;
    const std::vector<int> ids(a.addresses.begin(), a.addresses.end());
    QString where = tMemoryBuffer(memoryBufferReadings).describe();
    std::map<int, std::unique_ptr<tReadingBuffer>> buffers;
    if (!a.noHistory)
        buffers = storeBuffers(o, run.port, ids, where);
    if (!buffers.empty())
        o.makeBuffer = [&](int address) -> std::unique_ptr<tReadingBuffer> {
            if (std::unique_ptr<tReadingBuffer> &b = buffers[address])
                return std::move(b);
            return std::make_unique<tMemoryBuffer>(memoryBufferReadings); // an address given twice
        };
    CliMessage(QStringLiteral(
                   "publicando em %1, tópicos %2/%3/ENDEREÇO/estado e .../alarme; sem o broker, "
                   "as leituras esperam %4")
                   .arg(o.broker.text(), o.prefix, PortTopicLevel(run.port), where));
    tPublisher publisher(o, run.port, ids, CliMessage);
    // The limits and episodes live in the history file, whichever buffer
    // the readings wait in.
    tHistoryStore alarmFile;
    std::unique_ptr<tAlarmMonitor> alarms;
    if (alarmFile.Open(CliHistoryFile()))
        alarms = std::make_unique<tAlarmMonitor>(alarmFile, CliMessage, AlarmHook(a));
    else
        CliMessage(QStringLiteral("sem alarmes: %1").arg(alarmFile.Message()));
    int64_t lost = 0;
    int worst = EveryPeriod(
        run, a.interval.value_or(defaultSeconds),
        [&](int id) {
            const int r = publishOne(run, publisher, alarms.get(), id);
            lost += r != exitOK;
            return r;
        },
        [&] { return !publisher.refused(); });
    if (publisher.refused()) {
        publisher.finish(std::chrono::milliseconds(0));
        return exitDEVICE;
    }
    // A port that never opened is a wrong name; otherwise the run was asked to stop.
    if (run.session.PortOpened() && worst != exitUSAGE)
        worst = StoppedOnRequest(lost);
    const size_t left = publisher.finish(leaveLimit);
    if (const size_t unstored = publisher.storeWaiting()) {
        CliMessage(QStringLiteral("%1 leitura(s) não gravada(s) no histórico: ele recusou até o "
                                  "fim")
                       .arg(unstored));
        worst = WorseExit(worst, exitDEVICE);
    }
    const size_t kept = std::min(left, publisher.kept());
    if (kept)
        CliMessage(QStringLiteral("%1 leitura(s) ainda não publicada(s) esperam no histórico; "
                                  "vão primeiro quando o programa rodar de novo")
                       .arg(kept));
    if (left > kept) {
        CliMessage(QStringLiteral("%1 leitura(s) não publicada(s): o broker não as confirmou "
                                  "antes da saída")
                       .arg(left - kept));
        worst = WorseExit(worst, exitDEVICE);
    }
    return worst;
}
