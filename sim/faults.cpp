#include "faults.h"

#include <algorithm>
#include <array>
#include <utility>

namespace sim {

namespace {

constexpr uint8_t kRead = 3;
constexpr uint8_t kWriteOne = 6;
constexpr uint8_t kWriteMany = 16;

bool isException(const Frame &reply) {
    return reply.size() > 1 && (reply[1] & 0x80);
}

int orDefault(int param, int fallback) {
    return param != 0 ? param : fallback;
}

const std::array<std::pair<Fault, const char *>, 16> kNames{{
    {Fault::None, "none"},
    {Fault::Silence, "silence"},
    {Fault::Exception, "exception"},
    {Fault::BadCrc, "bad-crc"},
    {Fault::OtherSlave, "other-slave"},
    {Fault::OtherFunction, "other-function"},
    {Fault::WrongByteCount, "wrong-byte-count"},
    {Fault::WrongEcho, "wrong-echo"},
    {Fault::WrongEchoAddr, "wrong-echo-addr"},
    {Fault::StrayBytes, "stray-bytes"},
    {Fault::Late, "late"},
    {Fault::Chunked, "chunked"},
    {Fault::Oversize, "oversize"},
    {Fault::Stall, "stall"},
    {Fault::Reset, "reset"},
    {Fault::OtherTransaction, "other-transaction"},
}};

} // namespace

bool faultConcerns(Fault fault, uint8_t function) {
    switch (fault) {
    case Fault::None:
        return false;
    case Fault::WrongByteCount:
        return function == kRead;
    case Fault::WrongEcho:
    case Fault::WrongEchoAddr:
        return function == kWriteOne || function == kWriteMany;
    default:
        return true;
    }
}

bool faultCarriesOut(Fault fault) {
    switch (fault) {
    case Fault::Silence:
    case Fault::Exception:
    case Fault::StrayBytes:
    case Fault::Oversize:
        return false;
    default:
        return true;
    }
}

Frame spoilReply(Fault fault, int param, const Frame &request, Frame reply, int slaveId) {
    switch (fault) {
    case Fault::Exception: {
        Frame f{request[0], uint8_t(request[1] | 0x80), uint8_t(orDefault(param, 4))};
        appendCrc(f);
        return f;
    }
    case Fault::BadCrc:
        reply.back() ^= 0x5A;
        return reply;
    case Fault::OtherSlave:
        reply[0] = uint8_t(orDefault(param, slaveId + 1));
        break;
    case Fault::OtherFunction:
        reply[1] = uint8_t(orDefault(param, 4));
        break;
    case Fault::WrongByteCount: {
        if (isException(reply))
            return reply;
        // The data follows the false count, as from a controller that really
        // sent that many bytes; only the count disagrees with the request.
        const int count = std::clamp(int(reply[2]) + orDefault(param, -2), 0, 250);
        reply.resize(reply.size() - 2); // the CRC goes, the data follows the count
        reply.resize(3 + size_t(count), 0);
        reply[2] = uint8_t(count);
        appendCrc(reply);
        return reply;
    }
    case Fault::WrongEcho:
    case Fault::WrongEchoAddr: {
        if (isException(reply))
            return reply;
        const size_t at = fault == Fault::WrongEcho ? 4 : 2;
        putWord(reply, at, uint16_t(word(reply, at) + 1));
        break;
    }
    case Fault::StrayBytes: {
        const Frame noise{0x5A, 0xA5};
        return Frame(noise.begin(), noise.begin() + std::clamp(orDefault(param, 1), 1, 2));
    }
    case Fault::Oversize: {
        Frame f(size_t(std::max(orDefault(param, 300), 4)) - 2, 0x55);
        f[0] = request[0];
        f[1] = request[1];
        appendCrc(f);
        return f;
    }
    default:
        return reply;
    }
    resealCrc(reply);
    return reply;
}

int faultDelayMs(Fault fault, int param) {
    if (fault == Fault::Late)
        return std::max(orDefault(param, 1000), 0);
    if (fault == Fault::Chunked)
        return std::max(orDefault(param, 5), 0);
    if (fault == Fault::Stall)
        return std::max(orDefault(param, 200), 0);
    return 0;
}

bool faultFromName(const std::string &name, Fault &fault) {
    for (const auto &[f, n] : kNames)
        if (name == n) {
            fault = f;
            return true;
        }
    return false;
}

const char *faultName(Fault fault) {
    for (const auto &[f, n] : kNames)
        if (f == fault)
            return n;
    return "?";
}

} // namespace sim
