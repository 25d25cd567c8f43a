#pragma once

// How healthy the line is: every exchange the master makes, counted by how
// it ended, and the round-trip times of the good ones. A bad cable, a wrong
// speed or a noisy run shows here as time-outs, CRC errors or late answers.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

// How one exchange ended. The result codes alone cannot tell these apart
// (an exception 6 and a time-out are both -6), so the master counts each
// where it knows the cause.
enum class tOutcome : int32_t {
    Good,
    Timeout,
    Crc,
    AddressOrFunction, // answered by another address, or with another function
    Exception,         // refused by the controller, counted by its code as well
    Echo,              // a write answered with another address, value or quantity
    Length,            // an answer of the wrong length (or longer than 256 bytes)
    Noise,             // one or two bytes, then silence
    Late,              // timed out, and its answer came after all (then thrown away)
    PortLost,          // the port failed under the exchange
    SendFailure,       // the request could not be written whole
    Transaction,       // a Modbus TCP answer with another request's transaction id
};

struct tOutcomeRow {
    tOutcome outcome;
    const char *name;  // key of machine-readable output
    const char *label; // what the user reads
};

inline constexpr tOutcomeRow outcomeRows[] = {
    {tOutcome::Good, "boas", "boas"},
    {tOutcome::Timeout, "timeout", "timeout"},
    {tOutcome::Crc, "crc", "CRC"},
    {tOutcome::AddressOrFunction, "endereco_funcao", "endereço/função"},
    {tOutcome::Exception, "excecao", "exceção"},
    {tOutcome::Echo, "eco", "eco"},
    {tOutcome::Length, "tamanho", "tamanho"},
    {tOutcome::Noise, "ruido", "ruído"},
    {tOutcome::Late, "atrasada", "atrasada"},
    {tOutcome::PortLost, "porta_perdida", "porta perdida"},
    {tOutcome::SendFailure, "falha_envio", "falha de envio"},
    {tOutcome::Transaction, "transacao", "transação"},
};
constexpr int32_t tOutcomeCount = int32_t(std::size(outcomeRows));

constexpr bool outcomeRowsInOrder() {
    for (int32_t i = 0; i < tOutcomeCount; ++i)
        if (int32_t(outcomeRows[i].outcome) != i)
            return false;
    return true;
}
static_assert(outcomeRowsInOrder(), "one row per outcome, in enumeration order");
static_assert(tOutcomeCount == int32_t(tOutcome::Transaction) + 1);

// Round-trip times of the good exchanges, in milliseconds (0 when none).
struct tRoundTrip {
    uint64_t count = 0;
    double min = 0, median = 0, p95 = 0, max = 0;
};

class tLinkStats {
  public:
    // One exchange that ended as `outcome`; `exceptionCode` for an exception.
    void Count(tOutcome outcome, int32_t exceptionCode = 0);
    // One good exchange, from the request going out to the last byte in.
    void Good(int64_t roundTripNs);
    // The answer to the last exchange that timed out came after all.
    void LateAnswer();
    void Reset();

    uint64_t Of(tOutcome outcome) const { return FCounts[size_t(outcome)]; }
    uint64_t OfException(int32_t code) const;
    uint64_t Total() const;
    tRoundTrip RoundTrip() const;

    // One line: "12 trocas, 11 boas, 1 timeout; ida e volta mín/mediana/p95/máx
    // 2,1/2,4/3,0/5,2 ms"; the failures only those that happened.
    QString Summary() const;
    // Several lines, as a ping ends: exchanges and losses, round trips,
    // failures by kind.
    QStringList Report() const;
    // The same figures: {"trocas": n, "boas": n, ..., "excecoes": {"2": n},
    // "ida_e_volta_ms": {"min": .., "mediana": .., "p95": .., "max": ..}}.
    QJsonObject Json() const;

  private:
    QString Failures() const;

    std::array<uint64_t, tOutcomeCount> FCounts{};
    std::array<uint64_t, 256> FExceptions{};
    // Round trips in buckets about 2 % wide, so that a session of days keeps
    // its percentiles in a fixed space; minimum and maximum exact.
    static constexpr int32_t bucketCount = 1000;
    std::array<uint32_t, bucketCount> FBuckets{};
    uint64_t FRoundTrips = 0;
    int64_t FMinNs = 0;
    int64_t FMaxNs = 0;
};
