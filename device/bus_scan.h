#pragma once

// Finding the controllers on a bus when nobody remembers their addresses:
// the identification read sent to each address in turn, at one speed or at
// every speed code, with a short time-out and the fast read on. A scan
// reads only; it never writes to any controller. One sequence for the
// window and the command-line tool alike.

#include "link_settings.h"
#include "u_ondrel.h"

#include <QList>
#include <QString>

#include <functional>

struct tFoundController {
    int32_t id = 0;
    int32_t speed = 0; // speed code 1..7
    QString model{};
    QString firmware{};
    bool operator==(const tFoundController &) const = default;
};

struct tScanOptions {
    QString port{};
    int32_t from = 1;
    int32_t to = 247;
    // Speed codes in the order tried; empty: the driver's present speed.
    QList<int32_t> speeds{};
    // Time-out per address in ms; 0: ScanTimeoutMs of the speed.
    int32_t timeoutMs = 0;
};

// What the scan tells while it runs, and how it is stopped. `progress` comes
// before each address with the addresses asked so far and in all;
// `cancelled` is asked before each address (the window's "Cancelar").
struct tScanIo {
    std::function<void(int32_t id, int32_t speed, int32_t done, int32_t total)> progress{};
    std::function<void(const tFoundController &)> found{};
    std::function<bool()> cancelled{};
};

struct tScanResult {
    // 1, or the failure of opening the port (errMODBUS_OPEN_UART: the
    // driver's PortErrorText says why).
    int32_t result = 1;
    bool cancelled = false;
    // By speed in the order tried, then by address.
    QList<tFoundController> found;
};

// The time an identification answer takes at this speed behind a USB
// adapter: both frames on the wire, plus the adapter's latency timer and the
// controller's own delay.
int32_t ScanTimeoutMs(int32_t speedCode);

// Opens `options.port` (an open session ends first), scans, and closes it
// again. The driver's speed and fast read are as before afterwards; a late
// answer still on its way is drained before the next exchange, as after any
// time-out. Addresses outside 1..247 are not asked.
tScanResult ScanBus(tOndrel &dev, const tScanOptions &options, const tScanIo &io = {});
