#include "publisher.h"

#include "topics.h"

#include <QCryptographicHash>
#include <QSysInfo>
#include <QUrl>

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Readings in flight per controller: enough to drain a backlog at the speed
// of the link rather than of its round trips.
constexpr size_t window = 20;
constexpr int qos = 1;

// Connection refusals that a retry cannot mend: the broker said no to us.
bool refusedForGood(int connackCode) {
    // MQTT 3.1.1: 4 bad user name or password, 5 not authorised.
    return connackCode == 4 || connackCode == 5;
}

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

QString tBrokerAddress::text() const {
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3").arg(tls ? "mqtts" : "mqtt", shown).arg(port);
}

QString MqttClientId(const QString &host, const QString &prefix, const QString &port, int address) {
    QByteArray exact = host.toUtf8();
    for (const QByteArray &part : {prefix.toUtf8(), port.toUtf8(), QByteArray::number(address)})
        exact += '\0' + part;
    return QStringLiteral("tarvik-") +
           QString::fromLatin1(
               QCryptographicHash::hash(exact, QCryptographicHash::Sha256).toHex().left(16));
}

std::optional<tBrokerAddress> ParseBroker(const QString &url, QString &error) {
    const QUrl u(url, QUrl::StrictMode);
    tBrokerAddress a;
    if (u.scheme() == QLatin1String("mqtts"))
        a.tls = true;
    else if (u.scheme() != QLatin1String("mqtt")) {
        error = QStringLiteral("--broker: %1 não começa por mqtt:// nem mqtts://").arg(url);
        return std::nullopt;
    }
    if (!u.isValid() || u.host().isEmpty() || !u.userInfo().isEmpty() ||
        !(u.path().isEmpty() || u.path() == QLatin1String("/")) || u.hasQuery() ||
        u.hasFragment()) {
        error = QStringLiteral("--broker: %1 não é mqtt://HOST[:PORTA] nem mqtts://HOST[:PORTA]")
                    .arg(url);
        return std::nullopt;
    }
    a.host = u.host();
    a.port = u.port(a.tls ? 8883 : 1883);
    if (a.port < 1 || a.port > 65535) {
        error = QStringLiteral("--broker: porta fora de 1..65535");
        return std::nullopt;
    }
    return a;
}

struct tPublisher::tImpl {
    struct tChannel {
        tImpl *owner = nullptr;
        int address = 0;
        QString stateTopic, availabilityTopic, alarmTopic;
        std::unique_ptr<tReadingBuffer> buffer; // under `lock`
        mosquitto *mosq = nullptr;
        enum { Down, Connecting, Up, Done } state = Down;
        Clock::time_point retryAt{};
        Clock::time_point connectingSince{};
        int retryMs = 0;
        uint64_t nextSeq = 0;             // the next reading to send on this connection
        std::map<int, uint64_t> inflight; // message id -> reading
        std::map<uint64_t, bool> sent;    // readings sent on this connection: acknowledged?
        int connack = -1;                 // the broker's answer to our last connection
        int answering = -1;               // the last reading: 1 answered, 0 not, -1 none yet
        bool availabilityDirty = false;   // under `lock`
        QByteArray discoveryKey;          // what the last discovery described
        std::vector<tMessage> discovery;  // the entities, under `lock`
        bool discoveryDirty = false;      // to publish when up; under `lock`
        int offlineMid = -1;              // the leaving "offline", once sent
        QByteArray alarm;                 // the alarm state, under `lock`
        bool alarmDirty = false;          // to publish when up; under `lock`
    };

    tPublishOptions options;
    QString port;
    QString stablePort; // the port's name for the hub's entities
    std::function<void(const QString &)> say;
    std::vector<std::unique_ptr<tChannel>> channels;
    std::mutex lock;
    std::condition_variable finished;
    int wake = -1;
    std::thread thread;
    std::atomic<bool> quit{false};
    std::atomic<bool> finishing{false};
    std::atomic<Clock::rep> finishingSince{0};
    std::atomic<bool> refusal{false};
    std::atomic<bool> left{false}; // every client has left, or could not
    bool everUp = false;           // some client got in at least once
    bool brokerUp = false;         // for the messages: the broker is reachable
    bool outageReported = false;   // the present outage was said
    QString lastLibraryError;      // the library's own words on the last failure

    void poke() const {
        const uint64_t one = 1;
        [[maybe_unused]] const auto w = ::write(wake, &one, sizeof one);
    }

    tChannel *channelOf(int address) {
        for (auto &c : channels)
            if (c->address == address)
                return c.get();
        return nullptr;
    }

    static void onConnect(mosquitto *, void *obj, int rc) {
        auto *c = static_cast<tChannel *>(obj);
        c->connack = rc;
        if (rc == 0)
            c->state = tChannel::Up;
    }

    static void onPublish(mosquitto *, void *obj, int mid) {
        auto *c = static_cast<tChannel *>(obj);
        if (mid == c->offlineMid) {
            c->offlineMid = 0; // acknowledged
            return;
        }
        const auto it = c->inflight.find(mid);
        if (it == c->inflight.end())
            return;
        c->sent[it->second] = true;
        c->inflight.erase(it);
    }

    static void onLog(mosquitto *, void *obj, int level, const char *text) {
        if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
            static_cast<tChannel *>(obj)->owner->lastLibraryError = QString::fromUtf8(text);
    }

    QString clientId(const tChannel &c) const {
        return MqttClientId(QSysInfo::machineHostName(), options.prefix, port, c.address);
    }

    // A fresh client for every connection: the library keeps no queue of its
    // own across connections, so a reading is sent again only from the buffer.
    int connect(tChannel &c) {
        const QByteArray id = clientId(c).toUtf8();
        c.mosq = mosquitto_new(id.constData(), true, &c);
        if (!c.mosq)
            return MOSQ_ERR_NOMEM;
        mosquitto_int_option(c.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(c.mosq, onConnect);
        mosquitto_publish_callback_set(c.mosq, onPublish);
        mosquitto_log_callback_set(c.mosq, onLog);
        const QByteArray will = c.availabilityTopic.toUtf8();
        mosquitto_will_set(c.mosq, will.constData(), int(availableOffline.size()),
                           availableOffline.constData(), qos, true);
        if (!options.user.isEmpty())
            mosquitto_username_pw_set(c.mosq, options.user.toUtf8().constData(),
                                      options.password.toUtf8().constData());
        if (options.broker.tls) {
            const QByteArray ca = options.caFile.toLocal8Bit();
            const int rc = ca.isEmpty() ? mosquitto_tls_set(c.mosq, nullptr, "/etc/ssl/certs",
                                                            nullptr, nullptr, nullptr)
                                        : mosquitto_tls_set(c.mosq, ca.constData(), nullptr,
                                                            nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                return rc;
            // The certificate must be valid and name the host we asked for.
            mosquitto_tls_opts_set(c.mosq, 1, nullptr, nullptr);
            mosquitto_tls_insecure_set(c.mosq, false);
        }
        c.connack = -1;
        lastLibraryError.clear();
        c.connectingSince = Clock::now();
        // Without waiting for the TCP handshake: a broker whose network drops
        // the attempt would hold this thread, and a stop, for minutes.
        return mosquitto_connect_async(c.mosq, options.broker.host.toUtf8().constData(),
                                       options.broker.port, options.keepAliveSeconds);
    }

    QString reasonOf(int rc, int connack) const {
        static const char *const refusals[] = {"",
                                               "versão do protocolo recusada",
                                               "identificação do cliente recusada",
                                               "serviço indisponível",
                                               "usuário ou senha errados",
                                               "não autorizado (usuário ou senha errados, ou "
                                               "usuário sem permissão)"};
        if (connack > 0 && connack < int(std::size(refusals)))
            return QString::fromUtf8(refusals[connack]);
        if (connack > 0)
            return QString::fromUtf8(mosquitto_connack_string(connack));
        QString reason = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno))
                                              : QString::fromUtf8(mosquitto_strerror(rc));
        if (!lastLibraryError.isEmpty())
            reason += QStringLiteral(" (%1)").arg(lastLibraryError);
        return reason;
    }

    // The connection of `c` failed or broke: everything not acknowledged is
    // sent again from the buffer on the next one.
    void down(tChannel &c, int rc) {
        const int connack = c.connack;
        const bool wasUp = c.state == tChannel::Up;
        if (c.mosq) {
            mosquitto_destroy(c.mosq);
            c.mosq = nullptr;
        }
        c.inflight.clear();
        c.sent.clear();
        c.nextSeq = 0;
        c.offlineMid = -1;
        c.state = finishing ? tChannel::Done : tChannel::Down;
        c.retryMs =
            c.retryMs == 0 ? options.firstRetryMs : std::min(c.retryMs * 2, options.maxRetryMs);
        c.retryAt = Clock::now() + milliseconds(c.retryMs);
        {
            std::lock_guard g(lock);
            c.availabilityDirty = c.answering >= 0;
        }
        const QString reason = reasonOf(rc, connack);
        const bool tlsRefused = rc == MOSQ_ERR_TLS;
        if (!everUp && (refusedForGood(connack) || tlsRefused)) {
            if (!refusal.exchange(true))
                say(QStringLiteral("o broker %1 recusou a conexão: %2")
                        .arg(options.broker.text(), reason));
            return;
        }
        if (brokerUp || wasUp) {
            brokerUp = false;
            outageReported = true;
            say(QStringLiteral("conexão com o broker %1 perdida: %2; as leituras esperam "
                               "até ele voltar")
                    .arg(options.broker.text(), reason));
        } else if (!outageReported) {
            outageReported = true;
            say(QStringLiteral("broker %1 inacessível: %2; nova tentativa em %3 s, e as "
                               "leituras esperam até ele responder")
                    .arg(options.broker.text(), reason)
                    .arg(c.retryMs / 1000.0));
        }
    }

    void becameUp(tChannel &c) {
        c.retryMs = 0;
        {
            // A restarted broker may have forgotten what it retained.
            std::lock_guard g(lock);
            c.availabilityDirty = c.answering >= 0;
            c.discoveryDirty = !c.discovery.empty();
            c.alarmDirty = !c.alarm.isEmpty();
        }
        everUp = true;
        if (!brokerUp) {
            brokerUp = true;
            outageReported = false;
            say(QStringLiteral("conectado ao broker %1").arg(options.broker.text()));
        }
    }

    bool publish(tChannel &c, const QString &topic, const QByteArray &payload, int *mid) {
        const QByteArray t = topic.toUtf8();
        return mosquitto_publish(c.mosq, mid, t.constData(), int(payload.size()),
                                 payload.constData(), qos, true) == MOSQ_ERR_SUCCESS;
    }

    // Availability, discovery, then the readings in order within the window.
    void pump(tChannel &c) {
        std::vector<tMessage> discovery;
        std::vector<tPending> next;
        bool availability = false;
        int answering = -1;
        QByteArray alarm;
        {
            std::lock_guard g(lock);
            if (std::exchange(c.alarmDirty, false))
                alarm = c.alarm;
            availability = std::exchange(c.availabilityDirty, false);
            answering = c.answering;
            if (std::exchange(c.discoveryDirty, false))
                discovery = c.discovery;
            // Acknowledged readings leave the buffer in order.
            uint64_t upTo = 0;
            while (!c.sent.empty() && c.sent.begin()->second) {
                upTo = c.sent.begin()->first;
                c.sent.erase(c.sent.begin());
            }
            if (upTo)
                c.buffer->acknowledge(upTo);
            if (c.inflight.size() < window)
                next = c.buffer->from(c.nextSeq, window - c.inflight.size());
        }
        if (availability && !finishing)
            publish(c, c.availabilityTopic, answering > 0 ? availableOnline : availableOffline,
                    nullptr);
        for (const tMessage &m : discovery)
            publish(c, m.topic, m.payload, nullptr);
        if (!alarm.isEmpty() && !publish(c, c.alarmTopic, alarm, nullptr)) {
            std::lock_guard g(lock);
            c.alarmDirty = true; // tried again at the next pump
        }
        for (const tPending &p : next) {
            int mid = 0;
            if (!publish(c, c.stateTopic, StatePayload(p.reading), &mid))
                break;
            c.inflight[mid] = p.seq;
            c.sent[p.seq] = false;
            c.nextSeq = p.seq + 1;
        }
    }

    // Readings a full buffer gave up, said as they go, whatever the connection.
    void reportLosses(tChannel &c) {
        uint64_t lost = 0;
        QStringList notices;
        {
            std::lock_guard g(lock);
            lost = c.buffer->takeLost();
            notices = c.buffer->takeNotices();
        }
        for (const QString &n : notices)
            say(n);
        if (lost)
            say(QStringLiteral("endereço %1: sem espaço para esperar o broker; %2 leitura(s) "
                               "mais antiga(s) descartada(s)")
                    .arg(c.address)
                    .arg(lost));
    }

    // When leaving: once nothing waits, "offline", and once that is
    // acknowledged, a clean disconnection (which the will then does not follow).
    void leave(tChannel &c) {
        bool empty = false;
        {
            std::lock_guard g(lock);
            empty = c.buffer->size() == 0;
        }
        if (!empty || !c.inflight.empty())
            return;
        if (c.offlineMid < 0) {
            int mid = 0;
            if (publish(c, c.availabilityTopic, availableOffline, &mid))
                c.offlineMid = mid;
        } else if (c.offlineMid == 0) {
            mosquitto_disconnect(c.mosq);
            mosquitto_loop_write(c.mosq, 1);
            mosquitto_destroy(c.mosq);
            c.mosq = nullptr;
            c.state = tChannel::Done;
        }
    }

    // A connection not made by then is given up and tried again.
    milliseconds connectLimit() const {
        return std::chrono::seconds(std::max(options.keepAliveSeconds, 10));
    }

    bool allDone() const {
        return std::all_of(channels.begin(), channels.end(),
                           [](const auto &c) { return c->state == tChannel::Done; });
    }

    void run() {
        while (!quit) {
            const auto now = Clock::now();
            if (finishing) {
                const auto leftAt = Clock::time_point(Clock::duration(finishingSince.load()));
                for (auto &c : channels) {
                    if (c->state == tChannel::Down)
                        c->state = tChannel::Done; // no new connection to leave by
                    // A connection still under way gets a moment, not the
                    // whole time readings may take to leave.
                    if (c->state == tChannel::Connecting && now - leftAt >= connectWhenLeaving) {
                        mosquitto_destroy(c->mosq);
                        c->mosq = nullptr;
                        c->state = tChannel::Done;
                    }
                }
            }
            if (refusal || (finishing && allDone())) {
                {
                    std::lock_guard g(lock);
                    left = true;
                }
                finished.notify_all();
                if (refusal)
                    return;
            }
            int timeout = finishing ? 100 : 1000;
            for (auto &c : channels) {
                reportLosses(*c);
                if (c->state == tChannel::Down) {
                    if (now >= c->retryAt) {
                        if (const int rc = connect(*c); rc != MOSQ_ERR_SUCCESS)
                            down(*c, rc);
                        else
                            c->state = tChannel::Connecting;
                    }
                    if (c->state == tChannel::Down)
                        timeout = std::min<int>(
                            timeout, int(std::chrono::duration_cast<milliseconds>(c->retryAt - now)
                                             .count()) +
                                         1);
                }
                if (c->state == tChannel::Up) {
                    pump(*c);
                    if (finishing)
                        leave(*c);
                }
            }
            std::vector<pollfd> fds{{wake, POLLIN, 0}};
            std::vector<tChannel *> polled;
            for (auto &c : channels)
                if (c->mosq && (c->state == tChannel::Connecting || c->state == tChannel::Up)) {
                    const int fd = mosquitto_socket(c->mosq);
                    if (fd < 0)
                        continue;
                    fds.push_back(
                        {fd, short(POLLIN | (mosquitto_want_write(c->mosq) ? POLLOUT : 0)), 0});
                    polled.push_back(c.get());
                }
            ::poll(fds.data(), fds.size(), std::max(timeout, 0));
            if (fds[0].revents & POLLIN) {
                uint64_t n = 0;
                [[maybe_unused]] const auto r = ::read(wake, &n, sizeof n);
            }
            for (size_t i = 0; i < polled.size(); ++i) {
                tChannel &c = *polled[i];
                const short ev = fds[i + 1].revents;
                const auto wasConnecting = c.state == tChannel::Connecting;
                int rc = MOSQ_ERR_SUCCESS;
                if (ev & (POLLIN | POLLERR | POLLHUP))
                    rc = mosquitto_loop_read(c.mosq, 1);
                if (rc == MOSQ_ERR_SUCCESS && (ev & POLLOUT))
                    rc = mosquitto_loop_write(c.mosq, 1);
                if (rc == MOSQ_ERR_SUCCESS)
                    rc = mosquitto_loop_misc(c.mosq);
                if (rc != MOSQ_ERR_SUCCESS) {
                    down(c, rc);
                    continue;
                }
                if (wasConnecting && c.state == tChannel::Up)
                    becameUp(c);
                else if (c.state == tChannel::Connecting &&
                         Clock::now() - c.connectingSince >= connectLimit())
                    down(c, MOSQ_ERR_TIMEOUT);
            }
        }
    }
};

tPublisher::tPublisher(const tPublishOptions &options, const QString &port,
                       const std::vector<int> &addresses, std::function<void(const QString &)> say)
    : d(std::make_unique<tImpl>()) {
    initLibrary();
    d->options = options;
    if (d->options.prefix.isEmpty())
        d->options.prefix = DefaultTopicPrefix();
    if (d->options.discoveryPrefix.isEmpty())
        d->options.discoveryPrefix = DefaultDiscoveryPrefix();
    d->port = port;
    d->stablePort = StablePortName(port);
    d->say = std::move(say);
    d->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (int a : addresses) {
        auto c = std::make_unique<tImpl::tChannel>();
        c->owner = d.get();
        c->address = a;
        c->stateTopic = StateTopic(d->options.prefix, port, a);
        c->availabilityTopic = AvailabilityTopic(d->options.prefix, port, a);
        c->alarmTopic = AlarmTopic(d->options.prefix, port, a);
        c->buffer = d->options.makeBuffer ? d->options.makeBuffer(a)
                                          : std::make_unique<tMemoryBuffer>(memoryBufferReadings);
        d->channels.push_back(std::move(c));
    }
    d->thread = std::thread([this] {
        d->run();
        std::lock_guard g(d->lock);
        for (auto &c : d->channels)
            c->buffer->threadEnds();
    });
}

tPublisher::~tPublisher() {
    d->quit = true;
    d->poke();
    if (d->thread.joinable())
        d->thread.join();
    for (auto &c : d->channels)
        if (c->mosq)
            mosquitto_destroy(c->mosq);
    if (d->wake >= 0)
        ::close(d->wake);
}

void tPublisher::submit(const tStatusReading &reading) {
    tImpl::tChannel *c = d->channelOf(reading.address);
    if (!c)
        return;
    {
        std::lock_guard g(d->lock);
        c->buffer->append(reading);
        if (c->answering != int(reading.ok())) {
            c->answering = int(reading.ok());
            c->availabilityDirty = true;
        }
        if (d->options.homeAssistant && reading.ok()) {
            // Described again when what an entity shows changes: model, unit, firmware.
            const QByteArray key = (reading.model + u'|' + reading.firmware + u'|' +
                                    (reading.unit == tempFAHRENHEIT ? u'F' : u'C'))
                                       .toUtf8();
            if (key != c->discoveryKey) {
                c->discoveryKey = key;
                c->discovery = FormerDiscoveryRemovals(d->options.prefix, reading);
                for (tMessage &m : DiscoveryMessages(d->options.prefix, reading,
                                                     d->options.discoveryPrefix, d->stablePort))
                    c->discovery.push_back(std::move(m));
                c->discoveryDirty = true;
            }
        }
    }
    d->poke();
}

void tPublisher::submitAlarm(int address, const QByteArray &json) {
    tImpl::tChannel *c = d->channelOf(address);
    if (!c)
        return;
    {
        std::lock_guard g(d->lock);
        if (c->alarm == json)
            return;
        c->alarm = json;
        c->alarmDirty = true;
    }
    d->poke();
}

bool tPublisher::refused() const {
    return d->refusal;
}

size_t tPublisher::finish(std::chrono::milliseconds limit) {
    d->finishingSince = Clock::now().time_since_epoch().count();
    d->finishing = true;
    d->poke();
    {
        std::unique_lock g(d->lock);
        d->finished.wait_for(g, limit, [this] { return bool(d->left); });
    }
    d->quit = true;
    d->poke();
    if (d->thread.joinable())
        d->thread.join();
    size_t left = 0;
    for (auto &c : d->channels)
        left += c->buffer->size();
    return left;
}

size_t tPublisher::kept() const {
    std::lock_guard g(d->lock);
    size_t kept = 0;
    for (auto &c : d->channels)
        kept += c->buffer->kept();
    return kept;
}

size_t tPublisher::storeWaiting() {
    std::lock_guard g(d->lock);
    size_t waiting = 0;
    for (auto &c : d->channels)
        waiting += c->buffer->storeWaiting();
    return waiting;
}
