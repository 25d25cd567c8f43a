#include "bus_scan.h"

#include <QSet>

#include <algorithm>

namespace {

constexpr int32_t firstAddress = 1;
constexpr int32_t lastAddress = 247;

// Request (8 bytes) and identification answer (5 + 2 x 7) on the wire.
constexpr int32_t exchangeBytes = 8 + 19;
// A common adapter holds received bytes up to 16 ms; the rest is the
// controller's own time to answer.
constexpr int32_t answerAllowanceMs = 25;

} // namespace

int32_t ScanTimeoutMs(int32_t speedCode) {
    const int32_t baud = BaudRateOf(speedCode);
    const int32_t wireMs = (exchangeBytes * 10 * 1000 + baud - 1) / baud;
    return wireMs + answerAllowanceMs;
}

tScanResult ScanBus(tOndrel &dev, const tScanOptions &options, const tScanIo &io) {
    tScanResult r;
    const int32_t from = std::max(options.from, firstAddress);
    const int32_t to = std::min(options.to, lastAddress);
    const QList<int32_t> speeds =
        options.speeds.isEmpty() ? QList<int32_t>{dev.BaudRate()} : options.speeds;
    const int32_t opened = dev.OpenPort(options.port);
    if (opened < 0) {
        r.result = opened;
        return r;
    }
    const int32_t savedSpeed = dev.BaudRate();
    const bool savedFast = dev.FastRead();
    dev.SetFastRead(true);

    const int32_t total = int32_t(speeds.size()) * std::max(to - from + 1, 0);
    int32_t done = 0;
    auto cancelled = [&] { return r.cancelled || (r.cancelled = io.cancelled && io.cancelled()); };
    for (int32_t speed : speeds) {
        QList<tFoundController> here;
        auto ask = [&](int32_t id) {
            tFoundController f{.id = id, .speed = speed};
            const int32_t result = dev.Identify(id, f.model, f.firmware);
            if (result > 0) {
                here << f;
                if (io.found)
                    io.found(f);
            }
            return result;
        };
        dev.SetBaudRate(speed);
        dev.SetSweep(options.timeoutMs > 0 ? options.timeoutMs : ScanTimeoutMs(speed));
        // Addresses that may hold a controller the sweep missed: one whose
        // exchange heard anything but silence (its answer may have followed
        // another's), and any that answered out of turn, late.
        QList<int32_t> suspects;
        auto noteStrays = [&](int32_t asked) {
            for (int32_t id : dev.TakeStrays())
                if (id != asked && id >= from && id <= to)
                    suspects << id;
        };
        for (int32_t id = from; id <= to && !cancelled(); ++id) {
            if (io.progress)
                io.progress(id, speed, done, total);
            const int32_t result = ask(id);
            ++done;
            // Anything but silence: this one's answer may have followed another's,
            // or what came was the rest of the one before, late and cut in two.
            // A gateway saying nobody answers behind it is silence too.
            const bool silence = result == errMODBUS_TIMEOUT ||
                                 result == errMODBUS_GATEWAY_TARGET ||
                                 result == errMODBUS_GATEWAY_PATH;
            if (result <= 0 && !silence) {
                suspects << id;
                if (id > from)
                    suspects << id - 1;
            }
            noteStrays(id);
        }
        // A controller slower than the sweep may answer only after it: its
        // answer is waited for as long as a session would wait. Suspects are
        // then asked again with the session's time-out, and whoever answers
        // out of turn meanwhile is asked in turn.
        dev.SetSweep(0);
        if (!cancelled()) {
            dev.DrainLateAnswers();
            noteStrays(0);
        }
        QSet<int32_t> asked;
        while (!suspects.isEmpty() && !cancelled()) {
            const int32_t id = suspects.takeFirst();
            const bool known = std::any_of(here.begin(), here.end(),
                                           [id](const tFoundController &f) { return f.id == id; });
            if (known || asked.contains(id))
                continue;
            asked.insert(id);
            ask(id);
            noteStrays(id);
        }
        std::sort(here.begin(), here.end(),
                  [](const tFoundController &a, const tFoundController &b) { return a.id < b.id; });
        r.found << here;
    }
    dev.SetSweep(0);
    dev.SetBaudRate(savedSpeed);
    dev.SetFastRead(savedFast);
    dev.ClosePort();
    return r;
}
