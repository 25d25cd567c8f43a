#pragma once

#include "transport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QSerialPort;
class QThread;

// One serial device as a byte stream: fixed line settings (8N1, DTR and RTS
// held inactive), a byte read that waits a short while, block writes.
// Used from one thread only, the one its port object lives on.
class tUART : public tTransport {
  public:
    tUART();
    ~tUART() override;
    tUART(const tUART &) = delete;
    tUART &operator=(const tUART &) = delete;

    void SetBaud(int32_t rate);
    // The port's object to `thread`, from the one it lives on; every call
    // then comes from there.
    void MoveToThread(QThread *thread);
    bool Open(const QString &name) override;
    tOpenFailure OpenFailure() const override { return openFailure; }
    QString OpenFailureText() const override { return openFailureText; }
    void Close() override;
    // Open and usable: false once the device has failed under the port.
    bool Active() const override;
    void Purge() override;

    int32_t Write(const uint8_t *buffer, int32_t n) override;
    bool PutC(uint8_t c);
    int32_t PutS(const QString &s);
    bool Push(uint8_t c);
    bool Push(const QByteArray &buffer);
    bool Flush();

    bool GetC(uint8_t &c) override;
    int32_t ByteWait() const override { return Timeout; }
    void SetByteWait(int32_t ms) override { Timeout = ms; }
    int32_t Read(uint8_t *buffer, int32_t n);
    QString GetS();
    int32_t RXda();
    void Exec(const QString &command, QString &reply);

    // Number of device reads made since Open; lets tests see that bytes are
    // served from the receive buffer without touching the device.
    int64_t DeviceReads() const { return deviceReads; }

    QString port = QStringLiteral("COM1");
    int32_t baud = 9600;
    int32_t Timeout = 50;

  private:
    bool Refill();

    QByteArray rxbuf;
    QByteArray txbuf;
    int32_t rxcnt = 0;
    int32_t rxpos = 0;
    int32_t txpos = 0;
    std::unique_ptr<QSerialPort> com;
    int64_t deviceReads = 0;
    tOpenFailure openFailure = tOpenFailure::None;
    QString openFailureText;
    // The device reported an error it does not recover from (adapter
    // unplugged, pty hung up); reads and writes fail until the next Open.
    bool failed = false;
};

// A serial port as the system knows it: the name users recognise and open
// it by, and what the system says about the hardware behind it.
struct tPortInfo {
    QString name;
    QString description;
};

// The extra ports named in the environment variable TARVIK_PORTS (separated
// by ':' or ';', network names keeping their own colons), such as the
// simulator's pseudo-terminal or a gateway, followed by the ports the system
// lists by device path; each name once.
QList<tPortInfo> uart_GetCommInfo();

int32_t uart_GetCommList(QStringList &list);
int32_t uart_GetCommList(QStringList &list, const QString &filter, bool clear);
