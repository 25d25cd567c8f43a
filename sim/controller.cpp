#include "ondrel_sim.h"

#include "faults.h"
#include "frame.h"
#include "line.h"
#include "model.h"
#include "pty.h"
#include "registers.h"
#include "tcp_front.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

constexpr int kPollMs = 100;
// How long the rest of a Modbus TCP request may take once it has begun.
constexpr int kMbapWaitMs = 200;
constexpr uint8_t kGatewayNoAnswer = 0x0B;

// Reads whatever a descriptor holds right now.
Frame drain(int fd) {
    Frame out;
    uint8_t buf[512];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.insert(out.end(), buf, buf + n);
    return out;
}

// libmodbus reads a frame for another address whole but hands it over as
// length 0; the length follows from the function code as libmodbus reads a
// request.
size_t requestLength(const uint8_t *f) {
    switch (f[1]) {
    case 15:
    case 16:
        return 9 + f[6];
    case 22:
        return 10;
    case 23:
        return 13 + f[10];
    default:
        return f[1] <= 6 ? 8 : 4;
    }
}

} // namespace

struct Controller::Impl {
    explicit Impl(Options o)
        : options(std::move(o)), model(options),
          adapter(options.baud > 0 ? Micros(options.adapterLatencyMs) * 1000 : 0),
          random(std::random_device{}()) {}

    // Serving thread --------------------------------------------------------
    void serve();
    bool serveClient(int fd);
    void accept();
    size_t forAnother(const uint8_t *frame) const;
    void otherAddress(const uint8_t *frame);
    void route(const Frame &request);
    void handle(const Frame &request, Impl &line);
    Frame answer(const Frame &request, Fault fault, int param, Impl &line);
    Frame captured(int exception, const Frame &request, Model &served);
    void deliver(const Frame &request, const Frame &reply, Fault fault, int param);
    bool writeAll(const uint8_t *data, size_t n);
    Micros now() const;
    bool sleepUntil(Micros at);
    void discardUntilQuiet(int fd);
    void takeFault(uint8_t function, Fault &fault, int &param);
    size_t stallAt(size_t replyBytes);

    Options options;
    mutable std::mutex mutex;
    Model model;
    PseudoTerminal pty;
    modbus_t *ctx = nullptr;
    int wake[2] = {-1, -1};    // stop() writes here to cut waits short
    int capture[2] = {-1, -1}; // libmodbus writes its replies here
    std::thread thread;
    std::atomic<bool> stopping{false};

    // The line (serving thread only, but for the count).
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
    UsbAdapter adapter;
    std::mt19937 random;
    std::atomic<int> splitReplies{0};

    Fault fault = Fault::None;
    int faultParam = 0;
    int faultTimes = 0;

    int requests = 0;
    Frame last;

    // Controllers sharing this one's line, as on an RS-485 bus; this one's
    // thread serves them. For one of them, `line` is the controller it shares.
    std::vector<std::unique_ptr<Controller>> bus;
    Impl *line = this;

    // TCP (the line's controller only). The request being handled came from
    // `in` and its reply goes there; over Modbus TCP with `transaction`.
    TcpFront front = TcpFront::ModbusTcp;
    int listener = -1;
    int boundPort = 0;
    std::vector<int> clients;
    std::atomic<bool> dropClients{false};
    std::atomic<int> accepted{0};
    int in = -1;
    bool viaTcp = false;
    uint16_t transaction = 0;
    int resetClient = -1;
};

Micros Controller::Impl::now() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 epoch)
        .count();
}

// Sleeps until `at` on the line's clock, to the microsecond (a byte lasts
// 87 us at 115200); true when stop() cut the sleep short.
bool Controller::Impl::sleepUntil(Micros at) {
    for (Micros left = at - now(); left > 0 && !stopping; left = at - now()) {
        const timespec t{time_t(left / 1000000), long(left % 1000000) * 1000};
        pollfd p{wake[0], POLLIN, 0};
        ::ppoll(&p, 1, &t, nullptr);
    }
    return stopping;
}

bool Controller::Impl::writeAll(const uint8_t *data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(in, data, n);
        if (w > 0) {
            data += w;
            n -= size_t(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{in, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return false; // nobody drains the line: drop the rest
    }
    return true;
}

void Controller::Impl::discardUntilQuiet(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (!stopping && ::poll(&p, 1, 20) > 0 && (p.revents & POLLIN))
        if (drain(fd).empty())
            break;
}

// libmodbus writes its reply to the socket it was given; handing it a pipe
// for the moment lets the fault switches see and alter the reply first.
Frame Controller::Impl::captured(int exception, const Frame &request, Model &served) {
    modbus_set_socket(ctx, capture[1]);
    if (exception)
        modbus_reply_exception(ctx, request.data(), unsigned(exception));
    else
        modbus_reply(ctx, request.data(), int(request.size()), served.mapping());
    modbus_set_socket(ctx, in);
    return drain(capture[0]);
}

void Controller::Impl::takeFault(uint8_t function, Fault &f, int &param) {
    f = Fault::None;
    if (!faultConcerns(fault, function))
        return;
    f = fault;
    param = faultParam;
    if (faultTimes > 0 && --faultTimes == 0)
        fault = Fault::None;
}

Frame Controller::Impl::answer(const Frame &request, Fault f, int param, Impl &line) {
    const uint8_t function = request[1];
    if (!faultCarriesOut(f))
        return f == Fault::Silence ? Frame{} : spoilReply(f, param, request, {}, options.slaveId);

    const int address = word(request, 2);
    int count = 1;
    std::vector<uint16_t> values;
    int exception = 0;
    if (function == 3) {
        count = word(request, 4);
        if (count < 1 || count > MODBUS_MAX_READ_REGISTERS)
            exception = MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
    } else if (function == 6) {
        values.push_back(word(request, 4));
    } else if (function == 16) {
        count = word(request, 4);
        if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS || request[6] != 2 * count ||
            request.size() != size_t(9 + 2 * count))
            exception = MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
        else
            for (int i = 0; i < count; ++i)
                values.push_back(word(request, size_t(7 + 2 * i)));
    } else {
        exception = MODBUS_EXCEPTION_ILLEGAL_FUNCTION;
    }
    if (!exception)
        exception = model.check(function, address, count, values);

    if (!exception && function == 3)
        model.beforeRead();
    Frame reply = line.captured(exception, request, model);
    if (!exception && function != 3)
        model.afterWrite(address, count);
    if (f == Fault::None || reply.empty())
        return reply;
    return spoilReply(f, param, request, std::move(reply), options.slaveId);
}

// The length of a whole, sound frame for a controller sharing the line; 0
// for anything else, which stays unanswered as on a real bus.
size_t Controller::Impl::forAnother(const uint8_t *f) const {
    const bool ours = std::any_of(bus.begin(), bus.end(),
                                  [&](const auto &c) { return c->d->options.slaveId == f[0]; });
    if (!ours)
        return 0;
    const size_t n = requestLength(f);
    if (n < 4 || n > MODBUS_RTU_MAX_ADU_LENGTH)
        return 0;
    const uint16_t crc = uint16_t(f[n - 2] | f[n - 1] << 8);
    return crc16(f, n - 2) == crc ? n : 0;
}

// libmodbus takes a request for another address for the first half of that
// controller's exchange and would swallow the next frame as its reply; on
// this line no reply ever comes back to it, so it is handed a stand-in, and
// the next request is read as a request again.
void Controller::Impl::otherAddress(const uint8_t *frame) {
    const size_t n = forAnother(frame);
    const Frame request(frame, frame + n);
    Frame standIn{frame[0], 0x83, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS};
    appendCrc(standIn);
    uint8_t discard[MODBUS_RTU_MAX_ADU_LENGTH];
    if (::write(capture[1], standIn.data(), standIn.size()) == ssize_t(standIn.size())) {
        modbus_set_socket(ctx, capture[0]);
        modbus_receive(ctx, discard);
        modbus_set_socket(ctx, in);
    }
    drain(capture[0]);
    if (!request.empty())
        route(request);
}

// A broadcast reaches every controller on the line; none of them answers it.
// A controller set to another speed than the master's hears only noise; over
// TCP the gateway's line runs at every controller's speed.
void Controller::Impl::route(const Frame &request) {
    const int id = request[0];
    const int lineSpeed = viaTcp ? 0 : pty.speed();
    auto hears = [&](const Options &o) {
        return (id == 0 || id == o.slaveId) && (viaTcp || o.speed == 0 || o.speed == lineSpeed);
    };
    const bool anyone = hears(options) || std::any_of(bus.begin(), bus.end(), [&](const auto &c) {
                            return hears(c->d->options);
                        });
    if (!anyone && id != 0 && viaTcp && front == TcpFront::ModbusTcp) {
        Frame refusal{request[0], uint8_t(request[1] | 0x80), kGatewayNoAnswer};
        appendCrc(refusal);
        deliver(request, refusal, Fault::None, 0);
        return;
    }
    if (hears(options))
        handle(request, *this);
    for (const auto &c : bus)
        if (hears(c->d->options))
            c->d->handle(request, *this);
}

void Controller::Impl::handle(const Frame &request, Impl &line) {
    Frame reply;
    Fault f = Fault::None;
    int param = 0;
    {
        std::lock_guard lock(mutex);
        ++requests;
        last = request;
        if (request[0] != 0) // a broadcast is never answered, so no fault shows on it
            takeFault(request[1], f, param);
        reply = answer(request, f, param, line);
    }
    line.deliver(request, reply, f, param);
}

// The reply goes out once the request has crossed the wire (and after a
// random delay, if asked for), paced byte by byte, and reaches the master in
// the bursts its adapter makes. Unpaced, it goes out at once, whole.
void Controller::Impl::deliver(const Frame &request, const Frame &reply, Fault f, int param) {
    if (reply.empty())
        return;
    Frame bytes = reply;
    if (viaTcp && front == TcpFront::ModbusTcp && f != Fault::StrayBytes)
        bytes = toMbap(f == Fault::OtherTransaction ? uint16_t(transaction + std::max(param, 1))
                                                    : transaction,
                       reply);
    if (f == Fault::Reset) {
        bytes.resize((bytes.size() + 1) / 2);
        if (viaTcp) {
            // Closed with a reset once written, not in order.
            const linger hard{1, 0};
            ::setsockopt(in, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            resetClient = in;
        }
    }
    const Micros faultDelay = Micros(faultDelayMs(f, param)) * 1000;
    Micros start = now() + wireTime(viaTcp ? 0 : request.size(), options.baud);
    if (options.answerDelayMs > 0)
        start += std::uniform_int_distribution<Micros>(0, options.answerDelayMs * 1000)(random);
    if (f == Fault::Late)
        start += faultDelay;
    // Chunked: a pause after every few bytes; stall: one inside the reply.
    const size_t chunk = f == Fault::Chunked ? kChunkBytes : 0;
    std::vector<Micros> arrivals =
        wireTimes(bytes.size(), start, options.baud, chunk, chunk > 0 ? faultDelay : 0);
    if (f == Fault::Stall)
        for (size_t i = stallAt(bytes.size()); i < arrivals.size(); ++i)
            arrivals[i] += faultDelay;
    const std::vector<Burst> bursts = adapter.pass(bytes, arrivals);
    if (options.baud > 0 && options.adapterLatencyMs > 0 && bursts.size() > 1)
        ++splitReplies;
    for (const Burst &b : bursts) {
        if (sleepUntil(b.at))
            return;
        writeAll(b.bytes.data(), b.bytes.size());
    }
}

// The bytes of a stalled reply before its pause.
size_t Controller::Impl::stallAt(size_t replyBytes) {
    const int at = options.stallAfterBytes;
    if (replyBytes < 2 || at == 0)
        return (replyBytes + 1) / 2;
    if (at < 0)
        return std::uniform_int_distribution<size_t>(1, replyBytes - 1)(random);
    return std::min(size_t(at), replyBytes - 1);
}

void Controller::Impl::accept() {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    clients.push_back(fd);
    ++accepted;
}

// One request from a client; false once its connection is over.
bool Controller::Impl::serveClient(int fd) {
    in = fd;
    viaTcp = true;
    resetClient = -1;
    bool open = true;
    if (front == TcpFront::ModbusTcp) {
        Frame request;
        switch (readMbap(fd, kMbapWaitMs, transaction, request)) {
        case MbapRead::Request:
            route(request);
            break;
        case MbapRead::Closed:
        case MbapRead::Garbage: // a stream out of step cannot be read on
            open = false;
            break;
        }
    } else {
        uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
        if (::recv(fd, buf, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
            open = false;
        } else {
            modbus_set_socket(ctx, fd);
            const int n = modbus_receive(ctx, buf);
            if (n > 0)
                route(Frame(buf, buf + n));
            else if (n == 0)
                otherAddress(buf);
            else
                discardUntilQuiet(fd);
        }
    }
    in = pty.master();
    viaTcp = false;
    modbus_set_socket(ctx, in);
    return open && resetClient != fd;
}

void Controller::Impl::serve() {
    uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
    in = pty.master();
    while (!stopping) {
        std::vector<pollfd> p{{pty.master(), POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (listener >= 0)
            p.push_back({listener, POLLIN, 0});
        for (int fd : clients)
            p.push_back({fd, POLLIN, 0});
        const int ready = ::poll(p.data(), nfds_t(p.size()), kPollMs);
        {
            std::lock_guard lock(mutex);
            model.tick();
        }
        for (const auto &c : bus) {
            std::lock_guard lock(c->d->mutex);
            c->d->model.tick();
        }
        if (dropClients.exchange(false)) {
            drain(wake[0]);
            for (int fd : clients)
                ::close(fd);
            clients.clear();
            continue;
        }
        if (ready <= 0)
            continue;
        for (size_t i = 2 + (listener >= 0 ? 1 : 0), c = 0; i < p.size(); ++i, ++c) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)) || serveClient(p[i].fd))
                continue;
            ::close(p[i].fd);
            std::erase(clients, p[i].fd);
        }
        if (listener >= 0 && (p[2].revents & POLLIN))
            accept();
        if (!(p[0].revents & POLLIN))
            continue;
        const int n = modbus_receive(ctx, buf);
        if (n > 0)
            route(Frame(buf, buf + n));
        else if (n == 0)
            otherAddress(buf);
        else
            discardUntilQuiet(pty.master()); // a broken frame: resynchronise on the next silence
    }
    for (int fd : clients)
        ::close(fd);
    clients.clear();
}

Controller::Controller(Options options) : d(std::make_unique<Impl>(std::move(options))) {}

Controller::~Controller() {
    stop();
}

bool Controller::start() {
    if (d->thread.joinable() || d->line != d.get())
        return true;
    if (!d->pty.open())
        return false;
    if (pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0 ||
        pipe2(d->capture, O_CLOEXEC | O_NONBLOCK) != 0) {
        stop();
        return false;
    }
    d->ctx = modbus_new_rtu(d->pty.slaveName().c_str(), 115200, 'N', 8, 1);
    if (!d->ctx || modbus_set_slave(d->ctx, d->options.slaveId) != 0) {
        stop();
        return false;
    }
    modbus_set_byte_timeout(d->ctx, 0, 200000);
    modbus_set_socket(d->ctx, d->pty.master());
    d->stopping = false;
    d->thread = std::thread([this] { d->serve(); });
    return true;
}

void Controller::stop() {
    d->stopping = true;
    if (d->wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] auto w = ::write(d->wake[1], &c, 1);
    }
    if (d->thread.joinable())
        d->thread.join();
    if (d->ctx) {
        modbus_free(d->ctx); // the descriptors belong to the pty and pipes
        d->ctx = nullptr;
    }
    if (d->listener >= 0) {
        ::close(d->listener);
        d->listener = -1;
    }
    for (int *fds : {d->wake, d->capture})
        for (int i = 0; i < 2; ++i)
            if (fds[i] >= 0) {
                ::close(fds[i]);
                fds[i] = -1;
            }
    d->pty.close();
}

std::string Controller::portName() const {
    const Impl &line = *d->line;
    std::lock_guard lock(line.mutex);
    return line.pty.slaveName();
}

bool Controller::listenTcp(TcpFront front, const std::string &host, int port) {
    if (d->thread.joinable() || d->line != d.get() || d->listener >= 0)
        return false;
    d->front = front;
    d->listener = listenOn(host, port, d->boundPort);
    return d->listener >= 0;
}

int Controller::tcpPort() const {
    return d->boundPort;
}

void Controller::dropConnections() {
    d->dropClients = true;
    if (d->wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] auto w = ::write(d->wake[1], &c, 1);
    }
}

int Controller::connectionCount() const {
    return d->accepted;
}

Controller *Controller::addToBus(Options options) {
    if (d->line != d.get() || d->thread.joinable())
        return nullptr;
    auto taken = [&](const Options &o) { return o.slaveId == options.slaveId; };
    if (taken(d->options) || std::any_of(d->bus.begin(), d->bus.end(),
                                         [&](const auto &c) { return taken(c->d->options); }))
        return nullptr;
    d->bus.push_back(std::make_unique<Controller>(std::move(options)));
    d->bus.back()->d->line = d.get();
    return d->bus.back().get();
}

void Controller::setFault(Fault fault, int param, int times) {
    std::lock_guard lock(d->mutex);
    d->fault = times == 0 ? Fault::None : fault;
    d->faultParam = param;
    d->faultTimes = times;
}

void Controller::clearFault() {
    setFault(Fault::None);
}

uint16_t Controller::reg(int address) const {
    std::lock_guard lock(d->mutex);
    return d->model.reg(address);
}

void Controller::setReg(int address, uint16_t value) {
    std::lock_guard lock(d->mutex);
    d->model.setReg(address, value);
}

void Controller::setSensor(int sensor, SensorState state, int tenths) {
    std::lock_guard lock(d->mutex);
    d->model.setSensor(sensor, state, tenths);
}

void Controller::holdSensor(int sensor, SensorState state, int tenths) {
    std::lock_guard lock(d->mutex);
    d->model.holdSensor(sensor, state, tenths);
}

void Controller::addLogSlot(const LogSlot &slot) {
    std::lock_guard lock(d->mutex);
    d->model.addLogSlot(slot);
}

void Controller::setDrift(bool on) {
    std::lock_guard lock(d->mutex);
    d->model.setDrift(on);
}

void Controller::setRelayLogic(bool on) {
    std::lock_guard lock(d->mutex);
    d->model.setRelayLogic(on);
}

void Controller::setFahrenheit(bool on) {
    std::lock_guard lock(d->mutex);
    d->model.setReg(regs::kUnit, on ? 1 : 0);
}

void Controller::setSlaveMode(bool on) {
    std::lock_guard lock(d->mutex);
    d->model.setReg(regs::kSlaveMode, on ? 1 : 0);
}

void Controller::setClockOffsetSeconds(long long s) {
    std::lock_guard lock(d->mutex);
    d->model.setClockOffset(s);
}

int Controller::splitReplies() const {
    return d->splitReplies;
}

int Controller::requestCount() const {
    std::lock_guard lock(d->mutex);
    return d->requests;
}

std::vector<uint8_t> Controller::lastRequest() const {
    std::lock_guard lock(d->mutex);
    return d->last;
}

} // namespace sim
