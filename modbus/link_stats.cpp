#include "link_stats.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

// Bucket i holds round trips from 1.02^i to 1.02^(i + 1) microseconds: 1 us
// to beyond 100 s in 1000 buckets.
constexpr double bucketGrowth = 1.02;

int32_t bucketOf(int64_t ns, int32_t count) {
    const double us = std::max(double(ns) / 1000.0, 1.0);
    return std::clamp(int32_t(std::log(us) / std::log(bucketGrowth)), 0, count - 1);
}

double bucketMiddleNs(int32_t i) {
    return std::pow(bucketGrowth, double(i) + 0.5) * 1000.0;
}

double ms(double ns) {
    return ns / 1e6;
}

QString number(double v) {
    return QLocale().toString(v, 'f', 1);
}

QString label(tOutcome outcome) {
    return QString::fromUtf8(outcomeRows[size_t(outcome)].label);
}

QString roundTripText(const tRoundTrip &r) {
    return QStringLiteral("%1/%2/%3/%4 ms")
        .arg(number(r.min), number(r.median), number(r.p95), number(r.max));
}

} // namespace

void tLinkStats::Count(tOutcome outcome, int32_t exceptionCode) {
    ++FCounts[size_t(outcome)];
    if (outcome == tOutcome::Exception)
        ++FExceptions[size_t(exceptionCode & 0xFF)];
}

void tLinkStats::Good(int64_t roundTripNs) {
    Count(tOutcome::Good);
    if (FRoundTrips == 0 || roundTripNs < FMinNs)
        FMinNs = roundTripNs;
    FMaxNs = std::max(FMaxNs, roundTripNs);
    ++FRoundTrips;
    ++FBuckets[size_t(bucketOf(roundTripNs, bucketCount))];
}

void tLinkStats::LateAnswer() {
    // The exchange was counted as a time-out when it ended; what it really
    // was is known only now.
    if (FCounts[size_t(tOutcome::Timeout)] > 0)
        --FCounts[size_t(tOutcome::Timeout)];
    ++FCounts[size_t(tOutcome::Late)];
}

void tLinkStats::Reset() {
    *this = tLinkStats();
}

uint64_t tLinkStats::OfException(int32_t code) const {
    return code >= 0 && code < int32_t(FExceptions.size()) ? FExceptions[size_t(code)] : 0;
}

uint64_t tLinkStats::Total() const {
    uint64_t total = 0;
    for (uint64_t n : FCounts)
        total += n;
    return total;
}

tRoundTrip tLinkStats::RoundTrip() const {
    tRoundTrip r;
    r.count = FRoundTrips;
    if (FRoundTrips == 0)
        return r;
    // The bucket holding the sample of this rank, its middle kept within
    // what was really seen.
    auto percentile = [this](double p) {
        const uint64_t rank = std::max<uint64_t>(1, uint64_t(std::ceil(p * double(FRoundTrips))));
        uint64_t seen = 0;
        for (int32_t i = 0; i < bucketCount; ++i) {
            seen += FBuckets[size_t(i)];
            if (seen >= rank)
                return std::clamp(bucketMiddleNs(i), double(FMinNs), double(FMaxNs));
        }
        return double(FMaxNs);
    };
    r.min = ms(double(FMinNs));
    r.median = ms(percentile(0.5));
    r.p95 = ms(percentile(0.95));
    r.max = ms(double(FMaxNs));
    return r;
}

QString tLinkStats::Failures() const {
    QStringList parts;
    for (const tOutcomeRow &row : outcomeRows) {
        if (row.outcome == tOutcome::Good || Of(row.outcome) == 0)
            continue;
        if (row.outcome != tOutcome::Exception) {
            parts << QStringLiteral("%1 %2").arg(Of(row.outcome)).arg(label(row.outcome));
            continue;
        }
        for (int32_t code = 0; code < int32_t(FExceptions.size()); ++code)
            if (FExceptions[size_t(code)] > 0)
                parts << QStringLiteral("%1 %2 %3")
                             .arg(FExceptions[size_t(code)])
                             .arg(label(row.outcome))
                             .arg(code);
    }
    return parts.join(QStringLiteral(", "));
}

QString tLinkStats::Summary() const {
    QString text = QStringLiteral("%1 trocas, %2 boas").arg(Total()).arg(Of(tOutcome::Good));
    const QString failures = Failures();
    if (!failures.isEmpty())
        text += QStringLiteral(", ") + failures;
    const tRoundTrip r = RoundTrip();
    if (r.count > 0)
        text += QStringLiteral("; ida e volta mín/mediana/p95/máx ") + roundTripText(r);
    return text;
}

QStringList tLinkStats::Report() const {
    const uint64_t total = Total();
    const uint64_t failed = total - Of(tOutcome::Good);
    const double share = total > 0 ? 100.0 * double(failed) / double(total) : 0.0;
    QStringList lines;
    lines << QStringLiteral("%1 trocas, %2 boas, %3% com falha")
                 .arg(total)
                 .arg(Of(tOutcome::Good))
                 .arg(number(share));
    const tRoundTrip r = RoundTrip();
    if (r.count > 0)
        lines << QStringLiteral("ida e volta mín/mediana/p95/máx = ") + roundTripText(r);
    const QString failures = Failures();
    if (!failures.isEmpty())
        lines << QStringLiteral("falhas: ") + failures;
    return lines;
}

QJsonObject tLinkStats::Json() const {
    QJsonObject o;
    o[QStringLiteral("trocas")] = qint64(Total());
    for (const tOutcomeRow &row : outcomeRows)
        o[QString::fromUtf8(row.name)] = qint64(Of(row.outcome));
    QJsonObject exceptions;
    for (int32_t code = 0; code < int32_t(FExceptions.size()); ++code)
        if (FExceptions[size_t(code)] > 0)
            exceptions[QString::number(code)] = qint64(FExceptions[size_t(code)]);
    o[QStringLiteral("excecoes")] = exceptions;
    const tRoundTrip r = RoundTrip();
    if (r.count > 0) {
        auto rounded = [](double v) { return std::round(v * 1000.0) / 1000.0; };
        o[QStringLiteral("ida_e_volta_ms")] =
            QJsonObject{{QStringLiteral("min"), rounded(r.min)},
                        {QStringLiteral("mediana"), rounded(r.median)},
                        {QStringLiteral("p95"), rounded(r.p95)},
                        {QStringLiteral("max"), rounded(r.max)}};
    }
    return o;
}
