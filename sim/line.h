#pragma once

// The line between the controller and the master, as a technician's is: the
// wire paces the reply at the bit rate, and the USB-to-serial adapter on the
// master's side holds what it receives before passing it on. Pure functions
// of time, so that the pacing can be checked without a clock.

#include "frame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// Microseconds on the controller's own clock.
using Micros = int64_t;

// Bytes the master's port receives at one moment.
struct Burst {
    Micros at = 0;
    Frame bytes;
};

// Time `bytes` take on the wire at `baud` (10 bits a byte: 8N1); 0 when the
// line is not paced (`baud` 0).
Micros wireTime(size_t bytes, int baud);

// When each of `n` bytes of a reply begun at `start` has crossed the wire:
// byte i after i + 1 byte times. A reply sent in pieces of `chunk` bytes
// pauses `gap` after each piece.
std::vector<Micros> wireTimes(size_t n, Micros start, int baud, size_t chunk = 0, Micros gap = 0);

// A full USB packet of a common adapter: 64 bytes, 2 of them status.
constexpr size_t kAdapterPacket = 62;

// The adapter holds received bytes until a packet is full or its latency
// timer expires. The timer runs on its own, restarted by every packet the
// adapter sends (it sends one, empty or not, at each expiry), so it ticks
// every `latency` from the last full packet: a reply that straddles a tick
// reaches the master in two bursts. Latency 0 is no adapter: every byte is
// passed on as it arrives.
class UsbAdapter {
  public:
    explicit UsbAdapter(Micros latency = 0) : m_latency(latency) {}
    // The bursts that bytes arriving at `arrivals` (in order) make.
    std::vector<Burst> pass(const Frame &bytes, const std::vector<Micros> &arrivals);

  private:
    Micros nextTick(Micros t) const;

    Micros m_latency;
    Micros m_origin = 0; // the timer ticks at m_origin + k * m_latency
};

} // namespace sim
