#pragma once

#include "link_stats.h"
#include "mbap.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class tTraceLog;

// The master reaches the port only through these three callbacks.
using tPortOut = std::function<int32_t(const uint8_t *buffer, int32_t n)>;
using tPortIn = std::function<bool(uint8_t &c)>;
using tPurge = std::function<void()>;

// Result codes: positive is success, negative a failure.
constexpr int32_t errMODBUS_ILLEGAL_FUNCTION = -1;
constexpr int32_t errMODBUS_ILLEGAL_DATA_ADDRESS = -2;
constexpr int32_t errMODBUS_ILLEGAL_DATA_VALUE = -3;
constexpr int32_t errMODBUS_SLAVE_DEVICE_FAILURE = -4;
constexpr int32_t errMODBUS_TX = -5;
constexpr int32_t errMODBUS_TIMEOUT = -6;
constexpr int32_t errMODBUS_BUFFER_OVERFLOW = -7;
constexpr int32_t errMODBUS_CRC = -8;
constexpr int32_t errMODBUS_NORESPONSE = -9;
constexpr int32_t errMODBUS_ADDR = -10;
constexpr int32_t errMODBUS_FUNC = -11;
constexpr int32_t errMODBUS_LEN = -12;
constexpr int32_t errMODBUS_VALUE = -13;
constexpr int32_t errMODBUS_OPEN_UART = -14;
constexpr int32_t errMODBUS_BUSY = -15;
// A gateway's own exceptions 0x0A and 0x0B: -10 and -11 are taken.
constexpr int32_t errMODBUS_GATEWAY_PATH = -16;
constexpr int32_t errMODBUS_GATEWAY_TARGET = -17;
// A Modbus TCP answer carrying another request's transaction id.
constexpr int32_t errMODBUS_TRANSACTION = -18;

// The text the user is shown for a failed result: "ILLEGAL FUNCTION" ...
// "TIMEOUT", a gateway's and a transaction's in Portuguese, otherwise
// "Unknow <code>".
QString modbus_strerror(int32_t code);

// Largest register counts that fit the 256-byte frames: a read answer of
// 5 + 2 x 125 bytes, a multiple-write request of 9 + 2 x 123 bytes. A
// transaction asked for more, or for none, is refused without sending with
// errMODBUS_ILLEGAL_DATA_VALUE, the answer a slave gives to such a count.
constexpr int32_t maxREAD_REGS = 125;
constexpr int32_t maxWRITE_REGS = 123;

// How the frames travel: RTU frames with their CRC (a serial line, a
// transparent gateway), or behind Modbus TCP's MBAP header, where the unit id
// is the address and the transaction id pairs each answer with its request.
enum class tFraming { Rtu, Mbap };

class tModBus {
  public:
    tModBus(tPortOut PortOut, tPortIn PortIn, tPurge Purge);
    ~tModBus();
    tModBus(const tModBus &) = delete;
    tModBus &operator=(const tModBus &) = delete;

    // The folder "modbus.log" is created in when tracing is switched on;
    // empty (the default): the current directory.
    void SetLogFolder(const QString &folder) { FLogFolder = folder; }
    void SetSaveLog(bool on);
    bool SaveLog() const { return FSaveLog; }

    int32_t Read_Registers(int32_t AddrSlave, int32_t AddrInit, uint16_t *regs, int32_t len);
    int32_t Write_Register(int32_t AddrSlave, int32_t Addr, uint16_t Value);
    int32_t Write_Registers(int32_t AddrSlave, int32_t AddrInit, const uint16_t *regs, int32_t len);

    // Response time-out in units of 864 ms.
    int32_t Timeout() const { return FTimeOut; }
    void SetTimeout(int32_t value) { FTimeOut = value; }

    // Fast read, off by default: an answer ends as soon as the bytes its
    // request calls for (5 + 2 x count for a read, 8 for a write, 5 for an
    // exception) are in with a valid CRC, instead of after the silence that
    // follows it. Any other answer still ends by silence, with the same codes
    // and trace lines. An answer that has begun as the request's (its
    // address byte is enough: the function byte may be held back by an
    // adapter) may pause inside for up to the response time-out, where
    // otherwise the first silence ends it.
    void SetFastRead(bool on) { FFastRead = on; }
    bool FastRead() const { return FFastRead; }

    // RTU by default. With MBAP an answer ends when the length its header
    // announces is in (no silence, whatever the fast read), and one with
    // another transaction id is never taken: an earlier request's, late, is
    // thrown away and the wait goes on; any other is refused
    // (errMODBUS_TRANSACTION).
    void SetFraming(tFraming framing) { FFraming = framing; }
    tFraming Framing() const { return FFraming; }

    // Every exchange by how it ended, and the round trips of the good ones;
    // kept until reset by the owner.
    const tLinkStats &Stats() const { return FStats; }
    void ResetStats() { FStats.Reset(); }

    // Sweep mode, for asking many addresses in turn: a response time-out of
    // `timeoutMs` milliseconds, and after a time-out the next request goes
    // out at once, draining only what has already arrived. It goes to
    // another address, whose check tells a late answer apart from its own.
    // 0 ends sweep mode; the next exchange then drains as after any time-out,
    // since the sweep's last late answers may still be on their way.
    void SetSweep(int32_t timeoutMs);
    int32_t Sweep() const { return FSweepMs; }
    // Drains now what any next exchange would drain first: after a time-out
    // (or a sweep), whatever comes within one response time-out of it.
    void DrainLateAnswers();
    // The addresses of well-formed answers that were not the answer asked
    // for (late ones drained, or answers from another address), in the order
    // they came since the last take or SetSweep; taking them clears the list.
    QList<int32_t> TakeStrays();

    // Called once when a trace line cannot be written; tracing stops then.
    std::function<void(const QString &why)> OnTraceError;

    // Optional: true once the port is gone (closed or failed under the
    // transaction). The wait for an answer then ends at once instead of
    // polling a dead port until the time-out.
    std::function<bool()> PortLost;

  private:
    // What differs between the framings: how a request goes out (its RTU
    // frame in FQuerieOut) and how its answer comes in (into FQuerieIn as
    // an RTU frame holds it; the length returned counts a CRC).
    struct tBackend {
        bool (tModBus::*send)(int32_t frameLen);
        int32_t (tModBus::*receive)();
    };
    static const tBackend backends[];

    int32_t Transact(int32_t frameLen, int32_t answerLen);
    bool SendRtu(int32_t frameLen);
    bool SendMbap(int32_t frameLen);
    int32_t GetMbapPacket();
    int32_t Fail(tOutcome outcome, int32_t code, int32_t exceptionCode = 0);
    int32_t Succeed(int32_t result);
    int64_t TimeoutNs() const;
    void NoteStrays(const uint8_t *bytes, int32_t n);
    void NoteStray(int32_t address);
    void NoteTimeout(const QByteArray &request);
    void SettleLateAnswers(int32_t frameLen);
    void ForgetLateAnswers();
    void DiscardLateAnswer(int64_t untilNs);
    bool StrayFrameIn(int32_t count) const;
    int32_t CheckEcho(int32_t count, int32_t addr, uint16_t second, const char *mismatch);
    bool FrameLength(int32_t count, int32_t expected);
    int32_t GetPacket();
    bool ExpectedFrameIn(int32_t count) const;
    int32_t KnownLength(int32_t count) const;
    int32_t CheckCrc(int32_t count, bool lost);
    int32_t ValidatePacket();
    template <typename... Args> void Trace(const char *format, Args... args);

    std::unique_ptr<tTraceLog> flog;
    bool FSaveLog = false;
    QString FLogFolder;
    tPortOut FPortOut;
    tPortIn FPortIn;
    tPurge FPurge;
    uint8_t FQuerieOut[256] = {};
    uint8_t FQuerieIn[256] = {};
    tFraming FFraming = tFraming::Rtu;
    uint8_t FMbapOut[mbapHEADER - 1 + 256] = {};
    uint8_t FMbapIn[mbapHEADER - 1 + mbapMAX_LENGTH] = {};
    uint16_t FTransaction = 0;
    int32_t FTimeOut = 1;
    bool FFastRead = false;
    // Length of the answer the request just sent calls for, and its own.
    int32_t FExpected = 0;
    int32_t FSentLen = 0;
    // The last transaction timed out: the next one first lets a late answer
    // under way finish.
    bool FLateAnswerDue = false;
    // Requests that timed out less than one response time-out ago, whose
    // answers may still come. `silent`: the same request to the same slave
    // had timed out before and nothing late came through a whole time-out
    // since: the slave is silent, not slow. An empty request stands for any
    // (a sweep's).
    struct tTimedOut {
        int64_t atNs;
        QByteArray request;
        bool silent;
    };
    std::vector<tTimedOut> FTimedOut;
    // Per slave, its last request that timed out and FLateSeen then.
    struct tLastTimeout {
        QByteArray request;
        int64_t lateSeen;
    };
    QHash<int32_t, tLastTimeout> FLastTimeout;
    int64_t FLateSeen = 0;
    // This exchange sets aside whole frames that are not its answer.
    bool FStraysDue = false;
    QElapsedTimer FClock;
    tLinkStats FStats;
    // From just before the request went out; the last answer byte's time.
    QElapsedTimer FSent;
    int64_t FLastByteNs = 0;
    int32_t FSweepMs = 0;
    QList<int32_t> FStrays;
};
