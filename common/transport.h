#pragma once

#include <QString>

#include <cstdint>

// Why the last Open of a transport failed, from what the system reported.
enum class tOpenFailure {
    None,         // the last Open succeeded (or none was tried)
    NoDevice,     // no device of that name
    InUse,        // another program holds it
    NoPermission, // the user may not read and write it
    Other,        // anything else: see OpenFailureText
    // A network address:
    HostNotFound, // the name does not resolve
    Refused,      // the host is there but nothing listens on that port
    NoAnswer,     // the connection was not accepted within the time-out
    Unreachable,  // no route to the host or its network
    BadAddress,   // not an address Tarvik can reach: see OpenFailureText
};

// What the driver binds the master's port callbacks to: a byte stream to
// the controllers, opened by name. A serial port and a TCP connection are
// two of them. Used from one thread only.
class tTransport {
  public:
    virtual ~tTransport() = default;

    virtual bool Open(const QString &name) = 0;
    virtual void Close() = 0;
    // Open and usable: false once the stream has failed under the transport
    // (adapter pulled, connection reset or closed by the peer).
    virtual bool Active() const = 0;
    // Drops whatever has arrived and not been read.
    virtual void Purge() = 0;
    // The whole block or -1.
    virtual int32_t Write(const uint8_t *buffer, int32_t n) = 0;
    // One byte, waiting up to the byte wait for it.
    virtual bool GetC(uint8_t &c) = 0;
    // The byte wait in milliseconds.
    virtual int32_t ByteWait() const = 0;
    virtual void SetByteWait(int32_t ms) = 0;

    virtual tOpenFailure OpenFailure() const = 0;
    // The system's own words for the last failed Open; empty after a good one.
    virtual QString OpenFailureText() const = 0;
};
