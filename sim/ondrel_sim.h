#pragma once

// A simulated Ondrel controller on a pseudo-terminal. libmodbus's RTU slave
// serves the controller's register map on the pty's master side, in a thread
// of its own; Tarvik opens the slave side (portName()) like any serial port.
// Faults are injected on purpose so that the driver's every failure path can
// be exercised. Every method is safe to call from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

enum class SensorState : uint16_t { Reading = 0, Valid = 1, Short = 2, Open = 3 };

enum class Fault {
    None,
    Silence,          // no reply at all
    Exception,        // exception response with code `param`
    BadCrc,           // the normal reply with its CRC corrupted
    OtherSlave,       // the normal reply from slave id `param` (default: id + 1)
    OtherFunction,    // the normal reply with function code `param` (default 4)
    WrongByteCount,   // a read reply whose byte count is off by `param` (default -2)
    WrongEcho,        // a write reply echoing another value/quantity (+1)
    WrongEchoAddr,    // a write reply echoing another register address (+1)
    StrayBytes,       // `param` bytes (1 or 2) of garbage, then silence
    Late,             // the normal reply, sent `param` ms late
    Chunked,          // the normal reply in chunks of 3 bytes, `param` ms apart
    Oversize,         // a reply of `param` bytes (default 300) with a valid CRC
    Stall,            // the normal reply, pausing `param` ms (default 200) inside (stallAfterBytes)
    Reset,            // the reply's first half, then the connection reset (on the pty: cut off)
    OtherTransaction, // Modbus TCP: the reply with transaction id + `param` (default 1)
};

// How the controllers are reached over TCP (Controller::listenTcp).
enum class TcpFront {
    ModbusTcp,  // a Modbus TCP server: MBAP header, unit id = address
    RtuOverTcp, // a transparent gateway: RTU frames unchanged
};

struct Options {
    std::string model = "qx4r";
    int slaveId = 201;
    char firmwareMajor = '1';
    char firmwareMinor = '2';
    int logSlots = 100;    // size of the event-log ring
    int preloadEvents = 0; // events written into the ring at start

    // The line, for figures that mean what a technician sees. With `baud`
    // set, a reply begins once the request would have crossed the wire and
    // is paced at that speed (10 bits a byte); a USB adapter on the master's
    // side then holds the bytes it receives until 62 wait or its latency
    // timer expires (`adapterLatencyMs`, 0 = no adapter). `answerDelayMs`
    // delays each reply by a random time up to that, so that the timer falls
    // inside replies and splits them. With `baud` 0 replies go out at once.
    int baud = 0;
    int adapterLatencyMs = 16;
    int answerDelayMs = 0;

    // The speed this controller listens at, in bit/s: a request sent while
    // the master's port is set to another speed is noise to it and stays
    // unanswered. 0: it hears every speed. Unlike `baud`, each controller on
    // a bus has its own.
    int speed = 0;

    // Where the `Stall` fault pauses a reply: after its first half (0), after
    // this many bytes, or (-1) after a random number of them, 1 to all but
    // the last. With several controllers on a line, the first one's.
    int stallAfterBytes = 0;
};

// One slot of the relay event log, word for word as the slot registers show
// it (event byte: bits 0-1 state, 2-3 relay index, 4-7 operation).
struct LogSlot {
    uint16_t event = 0;
    uint16_t sensor1 = 0, sensor2 = 0; // sign and magnitude, unit and state flags
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Controller {
  public:
    explicit Controller(Options options = {});
    ~Controller();
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // Opens the pty and starts serving; false when no pty could be made.
    bool start();
    void stop();
    // Slave side of the pty, the name Tarvik opens (e.g. "/dev/pts/4").
    std::string portName() const;

    // Serves this controller's line over TCP as well, on `host` (a name or
    // an address) and `port` (0: a free one, see tcpPort()), to any number
    // of clients in turn. As a Modbus TCP server a request for an address
    // nobody has gets exception 0x0B, as from a gateway whose controller
    // did not answer; through the RTU gateway it stays unanswered, as on the
    // bus. Fault switches and pacing apply as on the pty. Before start();
    // false when it cannot listen (errno says why).
    bool listenTcp(TcpFront front, const std::string &host, int port);
    int tcpPort() const;
    // Closes every client's connection, as a gateway that restarts.
    void dropConnections();
    // Client connections accepted so far.
    int connectionCount() const;

    // Another controller on this one's line, as controllers share an RS-485
    // bus: it answers `options.slaveId` on this pty, with its own model,
    // registers, fault switches and test hooks, and is served by this
    // controller's thread (its own start() and stop() do nothing). Owned by
    // this controller. The line's pacing (baud, adapter, answer delay) is
    // this controller's; those in `options` are not used. Only before
    // start(); nullptr when started already, or when the address is taken.
    Controller *addToBus(Options options);

    // Applies `fault` to the next `times` requests (-1: until cleared).
    void setFault(Fault fault, int param = 0, int times = -1);
    void clearFault();

    // Raw register access, bypassing the fault switches. reg() reads what a
    // master would read now (even outside the model's blocks). setReg() acts
    // like a write from the line without its checks, and also reaches the
    // registers the line cannot write: sensor state, value, minimum and maximum
    // (tenths in the present unit), relay state words, flags (unit and mode
    // change without converting anything), log slot count,
    // last slot and the selected slot's words. With the relay logic on, an
    // autonomous relay switches when what its operation wants changes, so a
    // relay state set here holds until then.
    uint16_t reg(int address) const;
    void setReg(int address, uint16_t value);

    // A new reading, in tenths of the controller's present unit.
    void setSensor(int sensor, SensorState state, int tenths);
    // The same, and the sensor stays there: drift no longer moves it.
    void holdSensor(int sensor, SensorState state, int tenths);
    // Writes the next slot of the event ring, as a relay switching would.
    void addLogSlot(const LogSlot &slot);
    void setDrift(bool on); // temperatures wander slowly
    // Autonomous relays follow their operations (off at first: relays then
    // keep whatever they were set to, as tests like them).
    void setRelayLogic(bool on);
    void setFahrenheit(bool on);             // System[6] and the flags word
    void setSlaveMode(bool on);              // System[12] and the flags word
    void setClockOffsetSeconds(long long s); // controller clock = host + offset

    // Replies the emulated adapter passed on in more than one burst.
    int splitReplies() const;

    // Requests received (valid frames for our id), and the last one's bytes.
    int requestCount() const;
    std::vector<uint8_t> lastRequest() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
