#include "u_modbus.h"

#include "trace_log.h"
#include "u_crc.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int64_t nsPerMs = 1000000;
// A day is 86 400 000 ms: 1/10 000 000 of it is the silence that ends a
// frame, 1/100 000 the unit of the response time-out.
constexpr int64_t silenceNs = 8640000;
constexpr int64_t timeoutUnitNs = 864 * nsPerMs;

// Length of an exception answer: address, function | 0x80, code, CRC.
constexpr int32_t exceptionLen = 5;

// A gateway's exceptions: no path to the unit, the unit did not answer.
constexpr uint8_t gatewayPATH = 0x0A;
constexpr uint8_t gatewayTARGET = 0x0B;
// Requests an answer may still come for after a time-out: one with such an
// earlier transaction id is late, any other is refused.
constexpr uint16_t lateTransactions = 16;

constexpr uint8_t fnREAD_REGS = 3;
constexpr uint8_t fnWRITE_REG = 6;
constexpr uint8_t fnWRITE_REGS = 16;

void put16(uint8_t *at, int32_t v) {
    at[0] = uint8_t(v >> 8);
    at[1] = uint8_t(v);
}

int32_t get16(const uint8_t *at) {
    return 256 * at[0] + at[1];
}

// Request header shared by the three functions: address, function, two 16-bit fields.
void putHeader(uint8_t *frame, int32_t slave, uint8_t function, int32_t a, int32_t b) {
    frame[0] = uint8_t(slave);
    frame[1] = function;
    put16(frame + 2, a);
    put16(frame + 4, b);
}

void putCrc(uint8_t *frame, int32_t n) {
    const uint16_t crc = crc16_MODBUS(frame, n);
    frame[n] = uint8_t(crc);
    frame[n + 1] = uint8_t(crc >> 8);
}

} // namespace

QString modbus_strerror(int32_t code) {
    switch (code) {
    case errMODBUS_ILLEGAL_FUNCTION:
        return QStringLiteral("ILLEGAL FUNCTION");
    case errMODBUS_ILLEGAL_DATA_ADDRESS:
        return QStringLiteral("ILLEGAL DATA ADDRESS");
    case errMODBUS_ILLEGAL_DATA_VALUE:
        return QStringLiteral("ILLEGAL DATA VALUE");
    case errMODBUS_SLAVE_DEVICE_FAILURE:
        return QStringLiteral("SLAVE DEVICE FAILURE");
    case errMODBUS_TIMEOUT:
        return QStringLiteral("TIMEOUT");
    case errMODBUS_GATEWAY_PATH:
        return QStringLiteral("gateway sem caminho");
    case errMODBUS_GATEWAY_TARGET:
        return QStringLiteral("o controlador atrás do gateway não respondeu");
    case errMODBUS_TRANSACTION:
        return QStringLiteral("resposta de outra transação");
    default:
        return QString::asprintf("Unknow %d", code);
    }
}

const tModBus::tBackend tModBus::backends[] = {
    {&tModBus::SendRtu, &tModBus::GetPacket},
    {&tModBus::SendMbap, &tModBus::GetMbapPacket},
};

tModBus::tModBus(tPortOut PortOut, tPortIn PortIn, tPurge Purge)
    : flog(std::make_unique<tTraceLog>()), FPortOut(std::move(PortOut)), FPortIn(std::move(PortIn)),
      FPurge(std::move(Purge)) {
    FClock.start();
    flog->OnError = [this](const QString &why) {
        if (OnTraceError)
            OnTraceError(why);
    };
}

tModBus::~tModBus() = default;

void tModBus::SetSaveLog(bool on) {
    if (on)
        flog->Open(FileInFolder(FLogFolder, QStringLiteral("modbus.log")),
                   QStringLiteral("INICIAÇÃO DO LOG MODBUS"));
    FSaveLog = on;
}

template <typename... Args> void tModBus::Trace(const char *format, Args... args) {
    // Formatting costs more than the rest of a transaction: skip it when off.
    if (!FSaveLog || !flog->IsOpen())
        return;
    if constexpr (sizeof...(Args) == 0)
        flog->Line(QString::fromLatin1(format));
    else
        flog->Line(QString::asprintf(format, args...));
}

int32_t tModBus::Read_Registers(int32_t AddrSlave, int32_t AddrInit, uint16_t *regs, int32_t len) {
    Trace("Read Regs [Device=ID %d] [addr init=0x%X] [len=%d]", AddrSlave, unsigned(AddrInit), len);
    if (len < 1 || len > maxREAD_REGS) {
        Trace("    err len %d", len);
        return errMODBUS_ILLEGAL_DATA_VALUE;
    }
    putHeader(FQuerieOut, AddrSlave, fnREAD_REGS, AddrInit, len);
    putCrc(FQuerieOut, 6);
    const int32_t count = Transact(8, 5 + 2 * len);
    if (count < 0)
        return count;
    const int32_t bc = FQuerieIn[2];
    if (bc != 2 * len) {
        Trace("    err len bytes rx %d <> %d", 2 * len, bc);
        return Fail(tOutcome::Length, errMODBUS_LEN);
    }
    if (!FrameLength(count, 5 + bc))
        return Fail(tOutcome::Length, errMODBUS_LEN);
    Trace("    read %d bytes", bc);
    for (int32_t i = 0; i < len; ++i) {
        regs[i] = uint16_t(get16(FQuerieIn + 3 + 2 * i));
        Trace("    addr 0x%X = 0x%X", unsigned(AddrInit + i), unsigned(regs[i]));
    }
    return Succeed(len);
}

int32_t tModBus::Write_Register(int32_t AddrSlave, int32_t Addr, uint16_t Value) {
    Trace("Write Reg [Device=ID %d] [addr init=0x%X] [value=%d]", AddrSlave, unsigned(Addr),
          int(Value));
    putHeader(FQuerieOut, AddrSlave, fnWRITE_REG, Addr, Value);
    putCrc(FQuerieOut, 6);
    const int32_t count = Transact(8, 8);
    if (count < 0)
        return count;
    return CheckEcho(count, Addr, Value, "    err value %d <> %d");
}

int32_t tModBus::Write_Registers(int32_t AddrSlave, int32_t AddrInit, const uint16_t *regs,
                                 int32_t len) {
    Trace("Write Regs [Device=ID %d] [addr init=0x%X] [len=%d]", AddrSlave, unsigned(AddrInit),
          len);
    if (len < 1 || len > maxWRITE_REGS) {
        Trace("    err len %d", len);
        return errMODBUS_ILLEGAL_DATA_VALUE;
    }
    putHeader(FQuerieOut, AddrSlave, fnWRITE_REGS, AddrInit, len);
    FQuerieOut[6] = uint8_t(2 * len);
    for (int32_t i = 0; i < len; ++i)
        put16(FQuerieOut + 7 + 2 * i, regs[i]);
    putCrc(FQuerieOut, 7 + 2 * len);
    const int32_t count = Transact(9 + 2 * len, 8);
    if (count < 0)
        return count;
    return CheckEcho(count, AddrInit, uint16_t(len), "    err qtd %d <> %d");
}

// Steps shared by the three functions once the request is built: purge, send,
// receive and check the header. Returns the answer's length or a failure.
int32_t tModBus::Transact(int32_t frameLen, int32_t answerLen) {
    SettleLateAnswers(frameLen);
    FPurge();
    FExpected = answerLen;
    FSentLen = frameLen;
    FSent.start();
    const tBackend &backend = backends[size_t(FFraming)];
    if (!(this->*backend.send)(frameLen)) {
        Trace("    err TX");
        return Fail(PortLost && PortLost() ? tOutcome::PortLost : tOutcome::SendFailure,
                    errMODBUS_TX);
    }
    const int32_t count = (this->*backend.receive)();
    // Any answer at all: the slave is there.
    if (count != errMODBUS_TIMEOUT)
        FLastTimeout.remove(FQuerieOut[0]);
    if (count < 0)
        return count;
    const int32_t valid = ValidatePacket();
    return valid < 0 ? valid : count;
}

bool tModBus::SendRtu(int32_t frameLen) {
    return FPortOut(FQuerieOut, frameLen) == frameLen;
}

// The RTU frame without its CRC, behind the header of a new transaction.
bool tModBus::SendMbap(int32_t frameLen) {
    const int32_t n = frameLen - 2;
    ++FTransaction;
    MbapPutHeader(FMbapOut, FTransaction, FQuerieOut, n);
    const int32_t total = mbapHEADER - 1 + n;
    return FPortOut(FMbapOut, total) == total;
}

// A write answer echoes the register address and then the value (function
// 6) or the quantity (function 16).
int32_t tModBus::CheckEcho(int32_t count, int32_t addr, uint16_t second, const char *mismatch) {
    if (!FrameLength(count, 8))
        return Fail(tOutcome::Length, errMODBUS_LEN);
    const int32_t echoAddr = get16(FQuerieIn + 2);
    if (echoAddr != (addr & 0xFFFF)) {
        Trace("    err addr %d <> %d", addr, echoAddr);
        return Fail(tOutcome::Echo, errMODBUS_ADDR);
    }
    const int32_t echo = get16(FQuerieIn + 4);
    if (echo != second) {
        Trace(mismatch, int(second), echo);
        return Fail(tOutcome::Echo, errMODBUS_VALUE);
    }
    return Succeed(1);
}

int32_t tModBus::Fail(tOutcome outcome, int32_t code, int32_t exceptionCode) {
    FStats.Count(outcome, exceptionCode);
    return code;
}

int32_t tModBus::Succeed(int32_t result) {
    FStats.Good(FLastByteNs);
    return result;
}

int64_t tModBus::TimeoutNs() const {
    return FSweepMs > 0 ? int64_t(FSweepMs) * nsPerMs : int64_t(FTimeOut) * timeoutUnitNs;
}

void tModBus::SetSweep(int32_t timeoutMs) {
    const bool ending = FSweepMs > 0 && timeoutMs <= 0;
    FSweepMs = std::max(timeoutMs, 0);
    FStrays.clear();
    if (ending)
        NoteTimeout({});
}

QList<int32_t> tModBus::TakeStrays() {
    return std::exchange(FStrays, {});
}

// The frames that follow one another in `bytes`, each ended by the first
// length at which its CRC holds; what is left when none does is noise.
void tModBus::NoteStrays(const uint8_t *bytes, int32_t n) {
    int32_t at = 0;
    while (n - at >= exceptionLen) {
        int32_t len = 0;
        for (int32_t k = exceptionLen; k <= n - at && len == 0; ++k)
            if (crc16_MODBUS(bytes + at, k - 2) == bytes[at + k - 2] + 256 * bytes[at + k - 1])
                len = k;
        if (len == 0)
            return;
        NoteStray(bytes[at]);
        at += len;
    }
}

void tModBus::NoteStray(int32_t address) {
    // Only a sweep takes them; a session of days must not pile them up.
    constexpr qsizetype kept = 256;
    if (FStrays.size() < kept)
        FStrays << address;
}

// An answer whose CRC holds but whose length does not fit its function would
// otherwise be read past its end, into the previous answer's bytes.
bool tModBus::FrameLength(int32_t count, int32_t expected) {
    if (count == expected)
        return true;
    Trace("    err len frame %d <> %d", expected, count);
    return false;
}

// A slave that answers after the time-out may still be sending when the next
// request goes out, or ignore that request and answer only the old one: its
// late answer would then be read as the new request's, same length, valid
// CRC, wrong registers. A late answer may come up to one more response
// time-out after the time-out. Only a request to the same slave with the same
// function can take it for its own: for such a one the line runs until then,
// throwing away what arrives. The same request again to a slave that is
// silent, not slow, has nothing to wait for. Any other request goes out
// once what has arrived is thrown away and the line has been silent for the
// port's byte wait (a late answer under way has finished), and sets aside
// the late answers that come while it waits for its own: another slave's, or
// for another function, each recognisable on its own. Without a time-out
// this costs nothing.
void tModBus::SettleLateAnswers(int32_t frameLen) {
    FStraysDue = false;
    ForgetLateAnswers();
    if (FTimedOut.empty() && !FLateAnswerDue)
        return;
    const int64_t window = FSweepMs > 0 ? 0 : TimeoutNs();
    const QByteArray request(reinterpret_cast<const char *>(FQuerieOut), frameLen);
    int64_t until = -1;
    for (const tTimedOut &t : FTimedOut) {
        const bool sameSlaveAndFunction = t.request.left(2) == request.left(2);
        if (t.request.isEmpty() || (sameSlaveAndFunction && !(t.silent && t.request == request)))
            until = std::max(until, t.atNs + window);
    }
    // The line is proven quiet once after a time-out: later requests to
    // other slaves set a late answer aside as it comes, without a wait.
    if (until >= 0 || FLateAnswerDue)
        DiscardLateAnswer(until);
    FLateAnswerDue = false;
    ForgetLateAnswers();
    FStraysDue = !FTimedOut.empty();
}

// The time-outs whose answers can no longer come.
void tModBus::ForgetLateAnswers() {
    const int64_t window = FSweepMs > 0 ? 0 : TimeoutNs();
    const int64_t now = FClock.nsecsElapsed();
    std::erase_if(FTimedOut, [&](const tTimedOut &t) { return t.atNs + window <= now; });
}

void tModBus::DrainLateAnswers() {
    ForgetLateAnswers();
    if (FTimedOut.empty() && !FLateAnswerDue)
        return;
    const int64_t window = FSweepMs > 0 ? 0 : TimeoutNs();
    int64_t until = -1;
    for (const tTimedOut &t : FTimedOut)
        until = std::max(until, t.atNs + window);
    DiscardLateAnswer(until);
    FLateAnswerDue = false;
    FTimedOut.clear();
}

// A request has timed out; its answer may still come.
void tModBus::NoteTimeout(const QByteArray &request) {
    const int32_t slave = request.isEmpty() ? -1 : uint8_t(request[0]);
    const tLastTimeout last = FLastTimeout.value(slave, tLastTimeout{{}, -1});
    const bool silent = !request.isEmpty() && last.request == request && last.lateSeen == FLateSeen;
    if (slave >= 0)
        FLastTimeout.insert(slave, {request, FLateSeen});
    // Bounded: a late answer is set aside or waited for alike once the list
    // is full, as the oldest entries go first.
    constexpr size_t kept = 64;
    if (FTimedOut.size() == kept)
        FTimedOut.erase(FTimedOut.begin());
    FTimedOut.push_back({FClock.nsecsElapsed(), request, silent});
    FLateAnswerDue = true;
}

// Throws away what arrives until the line is silent for the port's byte wait
// and, with `untilNs` (on FClock), not before then. A line that never falls
// silent is left to the purge and the checks after one more response time-out.
void tModBus::DiscardLateAnswer(int64_t untilNs) {
    const int64_t giveUp = std::max<int64_t>(untilNs, FClock.nsecsElapsed()) + TimeoutNs();
    int32_t discarded = 0;
    uint8_t late[sizeof(FQuerieIn)];
    for (;;) {
        if (PortLost && PortLost())
            break;
        uint8_t c = 0;
        const bool got = FPortIn(c);
        const int64_t now = FClock.nsecsElapsed();
        if (got && discarded < int32_t(sizeof(late)))
            late[discarded] = c;
        if (got)
            ++discarded;
        else if (now >= untilNs)
            break;
        if (now >= giveUp)
            break;
    }
    if (discarded == 0)
        return;
    Trace("    discarded %d late bytes", discarded);
    FStats.LateAnswer();
    ++FLateSeen;
    NoteStrays(late, std::min(discarded, int32_t(sizeof(late))));
}

// While a late answer may come: the bytes in form a whole frame with a valid
// CRC from another slave, or for another function, than this request's.
bool tModBus::StrayFrameIn(int32_t count) const {
    if (!FStraysDue || count < exceptionLen)
        return false;
    if (FQuerieIn[0] == FQuerieOut[0] && (FQuerieIn[1] & 0x7F) == FQuerieOut[1])
        return false;
    return crc16_MODBUS(FQuerieIn, count - 2) == FQuerieIn[count - 2] + 256 * FQuerieIn[count - 1];
}

int32_t tModBus::GetPacket() {
    int32_t count = 0;
    QElapsedTimer clock;
    clock.start();
    int64_t last = 0;
    Trace("Wait data of the slave");
    for (;;) {
        uint8_t c = 0;
        const bool got = FPortIn(c);
        const int64_t now = clock.nsecsElapsed();
        if (got) {
            if (count == int32_t(sizeof(FQuerieIn))) {
                Trace("    BUF OVERFLOW");
                return Fail(tOutcome::Length, errMODBUS_BUFFER_OVERFLOW);
            }
            Trace("    [%d] rx 0x%X", count, unsigned(c));
            FQuerieIn[count++] = c;
            last = now;
            FLastByteNs = FSent.nsecsElapsed();
            if (StrayFrameIn(count)) {
                Trace("    discarded %d late bytes", count);
                FStats.LateAnswer();
                ++FLateSeen;
                NoteStray(FQuerieIn[0]);
                count = 0;
            } else if (FFastRead && ExpectedFrameIn(count)) {
                return CheckCrc(count, false);
            }
        } else {
            // A port that is gone will stay silent: decide now.
            const bool lost = PortLost && PortLost();
            const bool known = FFastRead && KnownLength(count) > count;
            // With the fast read, an answer that has begun as this request's
            // (from its address byte on) may pause inside (an adapter's
            // timer, a loaded computer) for up to the response time-out; any
            // other answer ends at the first silence. A sweep
            // cuts the port's byte wait short, so its silence must outlast an
            // adapter holding the rest of the answer too.
            const int64_t quiet = known || FSweepMs > 0 ? TimeoutNs() : silenceNs;
            if (count > 0 && (lost || now - last > quiet)) {
                if (count < 3) {
                    Trace("    NO RESPONSE");
                    return Fail(lost ? tOutcome::PortLost : tOutcome::Noise, errMODBUS_NORESPONSE);
                }
                return CheckCrc(count, lost);
            }
            if (count == 0 && (lost || now > TimeoutNs())) {
                Trace("    TIMEOUT");
                // A port that is gone brings no late answer.
                if (lost)
                    return Fail(tOutcome::PortLost, errMODBUS_TIMEOUT);
                NoteTimeout(QByteArray(reinterpret_cast<const char *>(FQuerieOut), FSentLen));
                return Fail(tOutcome::Timeout, errMODBUS_TIMEOUT);
            }
        }
    }
}

// Fast read: the bytes in are exactly what the request calls for (an
// exception answer once the function byte says so) and their CRC holds. A
// count reached with a bad CRC, or passed, is left to the silence.
bool tModBus::ExpectedFrameIn(int32_t count) const {
    if (count < 2)
        return false;
    const int32_t expected = (FQuerieIn[1] & 0x80) ? exceptionLen : FExpected;
    return count == expected &&
           crc16_MODBUS(FQuerieIn, count - 2) == FQuerieIn[count - 2] + 256 * FQuerieIn[count - 1];
}

// The length of the answer its first bytes announce, once they are this
// request's: the address alone says no more than an exception's length, the
// shortest answer; the function fixes it (an exception's once flagged), and
// for a read the byte count must agree once in. 0 when not this request's.
int32_t tModBus::KnownLength(int32_t count) const {
    if (count < 1 || FQuerieIn[0] != FQuerieOut[0])
        return 0;
    if (count < 2)
        return exceptionLen;
    if ((FQuerieIn[1] & 0x7F) != FQuerieOut[1])
        return 0;
    if (FQuerieIn[1] & 0x80)
        return exceptionLen;
    if (FQuerieOut[1] == fnREAD_REGS && count >= 3 && 5 + FQuerieIn[2] != FExpected)
        return 0;
    return FExpected;
}

// The frame has ended: its CRC decides.
int32_t tModBus::CheckCrc(int32_t count, bool lost) {
    const uint16_t calc = crc16_MODBUS(FQuerieIn, count - 2);
    const uint16_t msg = uint16_t(FQuerieIn[count - 2] + 256 * FQuerieIn[count - 1]);
    Trace("    [crc msg 0x%X] [crc calc 0x%X]", unsigned(msg), unsigned(calc));
    if (msg != calc) {
        Trace("    ERROR CRC");
        // An answer cut off by the port failing under it is no line fault.
        return Fail(lost ? tOutcome::PortLost : tOutcome::Crc, errMODBUS_CRC);
    }
    return count;
}

int32_t tModBus::ValidatePacket() {
    if (FQuerieIn[0] != FQuerieOut[0]) {
        Trace("    err ADDR");
        NoteStray(FQuerieIn[0]);
        return Fail(tOutcome::AddressOrFunction, errMODBUS_ADDR);
    }
    if ((FQuerieIn[1] & 0x7F) != FQuerieOut[1]) {
        Trace("    err FUNC");
        return Fail(tOutcome::AddressOrFunction, errMODBUS_FUNC);
    }
    if (FQuerieIn[1] & 0x80) {
        int32_t code = -int32_t(FQuerieIn[2]);
        Trace("    exception %d", code);
        if (FQuerieIn[2] == gatewayPATH)
            code = errMODBUS_GATEWAY_PATH;
        else if (FQuerieIn[2] == gatewayTARGET)
            code = errMODBUS_GATEWAY_TARGET;
        // Code 0 is no exception code at all; the answer is still a refusal.
        return Fail(tOutcome::Exception, code < 0 ? code : errMODBUS_FUNC, FQuerieIn[2]);
    }
    return 0;
}

// Modbus TCP: the header announces the answer's length, so it ends as soon as
// that is in. A stream stays in step by that length alone: an answer that
// stops halfway, or a header that is none of Modbus TCP's, leaves the rest to
// be drained as after a time-out.
int32_t tModBus::GetMbapPacket() {
    int32_t count = 0;
    int32_t whole = 0;
    QElapsedTimer clock;
    clock.start();
    int64_t last = 0;
    // The rest may follow for any request.
    auto outOfStep = [this] { NoteTimeout({}); };
    Trace("Wait data of the slave");
    for (;;) {
        uint8_t c = 0;
        const bool got = FPortIn(c);
        const int64_t now = clock.nsecsElapsed();
        if (got) {
            Trace("    [%d] rx 0x%X", count, unsigned(c));
            FMbapIn[count++] = c;
            last = now;
            if (count == mbapHEADER) {
                whole = MbapFrameLength(FMbapIn);
                if (whole == 0) {
                    Trace("    err MBAP header");
                    outOfStep();
                    return Fail(tOutcome::Length, errMODBUS_LEN);
                }
            }
            if (count == whole) {
                const tMbapHeader h = MbapGetHeader(FMbapIn);
                if (h.transaction == FTransaction) {
                    FLastByteNs = FSent.nsecsElapsed();
                    const int32_t n = whole - (mbapHEADER - 1);
                    std::memcpy(FQuerieIn, FMbapIn + mbapHEADER - 1, size_t(n));
                    // Counted as the same answer in an RTU frame, so that the
                    // length checks are the ones of RTU.
                    return n + 2;
                }
                Trace("    err transaction %d <> %d", int(h.transaction), int(FTransaction));
                if (uint16_t(FTransaction - h.transaction) > lateTransactions)
                    return Fail(tOutcome::Transaction, errMODBUS_TRANSACTION);
                FStats.LateAnswer();
                // A gateway's late word that nobody answered is no controller.
                if (!(FMbapIn[mbapHEADER] & 0x80))
                    NoteStray(h.unit);
                count = 0;
                whole = 0;
            }
        } else {
            const bool lost = PortLost && PortLost();
            if (lost || now - last > TimeoutNs()) {
                Trace(count == 0 ? "    TIMEOUT" : "    NO RESPONSE");
                if (lost)
                    return Fail(tOutcome::PortLost,
                                count == 0 ? errMODBUS_TIMEOUT : errMODBUS_NORESPONSE);
                if (count > 0)
                    outOfStep();
                return Fail(tOutcome::Timeout, errMODBUS_TIMEOUT);
            }
        }
    }
}
