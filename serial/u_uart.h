#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QSerialPort;

// Why the last Open failed, from what the system reported.
enum class tOpenFailure {
    None,         // the last Open succeeded (or none was tried)
    NoDevice,     // no device of that name
    InUse,        // another program holds it
    NoPermission, // the user may not read and write it
    Other,        // anything else: see OpenFailureText
};

// One serial device as a byte stream: fixed line settings (8N1, DTR and RTS
// held inactive), a byte read that waits a short while, block writes.
// Used from one thread only.
class tUART {
  public:
    tUART();
    ~tUART();
    tUART(const tUART &) = delete;
    tUART &operator=(const tUART &) = delete;

    void SetBaud(int32_t rate);
    bool Open(const QString &name);
    tOpenFailure OpenFailure() const { return openFailure; }
    // The system's own words for the last failed Open; empty after a good one.
    QString OpenFailureText() const { return openFailureText; }
    void Close();
    // Open and usable: false once the device has failed under the port.
    bool Active() const;
    void Purge();

    int32_t Write(const uint8_t *buffer, int32_t n);
    bool PutC(uint8_t c);
    int32_t PutS(const QString &s);
    bool Push(uint8_t c);
    bool Push(const QByteArray &buffer);
    bool Flush();

    bool GetC(uint8_t &c);
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
// by ':' or ';'), such as the simulator's pseudo-terminal, followed by the
// ports the system lists by device path; each name once.
QList<tPortInfo> uart_GetCommInfo();

int32_t uart_GetCommList(QStringList &list);
int32_t uart_GetCommList(QStringList &list, const QString &filter, bool clear);
