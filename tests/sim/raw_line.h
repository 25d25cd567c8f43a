#pragma once

#include <QByteArray>
#include <string>

// The client side of the line, byte for byte, with no Modbus logic of its own,
// so that a reply is seen exactly as the simulator sent it.
class RawLine {
  public:
    explicit RawLine(const std::string &port);
    ~RawLine();
    RawLine(const RawLine &) = delete;
    RawLine &operator=(const RawLine &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void send(const QByteArray &bytes);
    // Bytes until `quietMs` pass without one, waiting at most `firstMs` for
    // the first; `reads` counts the separate arrivals.
    QByteArray receive(int firstMs = 3000, int quietMs = 150, int *reads = nullptr);
    QByteArray transact(const QByteArray &request, int firstMs = 3000);

  private:
    int m_fd = -1;
};

// CRC-16/MODBUS appended low byte first.
QByteArray withCrc(const QByteArray &body);
bool crcHolds(const QByteArray &frame);
