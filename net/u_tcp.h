#pragma once

#include "transport.h"

#include <QString>

#include <cstdint>

// A TCP connection to a Modbus TCP server or a transparent gateway as a byte
// stream, opened by the name the user typed (tcp://HOST[:PORT] or
// rtu+tcp://HOST:PORT, see port_name.h). It only connects out. Reads and
// writes go to the socket directly, as the serial port's go to its device.
// Used from one thread only.
class tTCP : public tTransport {
  public:
    tTCP() = default;
    ~tTCP() override;
    tTCP(const tTCP &) = delete;
    tTCP &operator=(const tTCP &) = delete;

    // How long a connection may take to be accepted.
    void SetConnectTimeout(int32_t ms) { connectTimeoutMs = ms; }

    bool Open(const QString &name) override;
    void Close() override;
    bool Active() const override { return fd >= 0 && lost.isEmpty(); }
    void Purge() override;
    int32_t Write(const uint8_t *buffer, int32_t n) override;
    bool GetC(uint8_t &c) override;
    int32_t ByteWait() const override { return byteWait; }
    void SetByteWait(int32_t ms) override { byteWait = ms; }
    tOpenFailure OpenFailure() const override { return openFailure; }
    QString OpenFailureText() const override { return openFailureText; }

    // Why the open connection failed under the transport, in the user's
    // words ("o outro lado fechou a conexão"); empty while it is usable.
    QString LostText() const { return lost; }

  private:
    bool Refill();
    void Fail(int error);
    bool Connect(const QString &host, uint16_t port);

    int fd = -1;
    int32_t byteWait = 50;
    int32_t connectTimeoutMs = 3000;
    uint8_t rx[4096] = {};
    int32_t rxpos = 0;
    int32_t rxcnt = 0;
    QString lost;
    tOpenFailure openFailure = tOpenFailure::None;
    QString openFailureText;
};
