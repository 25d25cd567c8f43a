#pragma once

// The controllers' readings on an MQTT broker: one client per controller, so
// that each has its own "offline" will, all served by one network thread.
// Readings are handed over without waiting; each waits in its controller's
// buffer until the broker acknowledges it (QoS 1), across lost connections,
// which are tried again with a growing pause. Nothing is ever subscribed:
// nobody on the broker can reach a controller through this program.

#include "buffer.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct tBrokerAddress {
    bool tls = false;
    QString host;
    int port = 1883;
    // As the user would write it, port included; an IPv6 host in brackets.
    QString text() const;
};

// "mqtt://HOST[:PORT]" (1883) or "mqtts://HOST[:PORT]" (8883); nothing when
// `url` is neither, with the reason in `error`.
std::optional<tBrokerAddress> ParseBroker(const QString &url, QString &error);

struct tPublishOptions {
    tBrokerAddress broker;
    QString prefix; // topics under it; DefaultTopicPrefix() when empty
    QString user;   // empty: no user name
    QString password;
    QString caFile; // empty: the system's certificate authorities
    bool homeAssistant = false;
    QString discoveryPrefix; // where discovery goes; DefaultDiscoveryPrefix() when empty
    int keepAliveSeconds = 30;
    int firstRetryMs = 1000; // the pause after a failure, doubled up to maxRetryMs
    int maxRetryMs = 30000;
    // A buffer per controller; a bounded memory buffer when not set.
    std::function<std::unique_ptr<tReadingBuffer>(int address)> makeBuffer;
};

class tPublisher {
  public:
    // `say` receives every message for the user; it is called from the
    // network thread too.
    tPublisher(const tPublishOptions &options, const QString &port,
               const std::vector<int> &addresses, std::function<void(const QString &)> say);
    ~tPublisher();
    tPublisher(const tPublisher &) = delete;
    tPublisher &operator=(const tPublisher &) = delete;

    // Hands a reading of one of the addresses over; never waits on the network.
    void submit(const tStatusReading &reading);
    // The alarm state of one of the addresses (AlarmJson), retained on its
    // alarm topic when it differs from the last one handed over.
    void submitAlarm(int address, const QByteArray &json);
    // The broker refused us before we ever got in (credentials, certificate):
    // trying again cannot help, the run should end.
    bool refused() const;
    // Publishes what waits, then "offline" for every controller and leaves
    // cleanly, for at most `limit`; returns the readings left unpublished.
    // A broker not connected when this is called gets at most
    // connectWhenLeaving to take the connection under way.
    size_t finish(std::chrono::milliseconds limit);
    // Of the readings finish left, those kept for the next run.
    size_t kept() const;
    // After finish, from the thread that submits: a last try to store what
    // the history file refused; the readings it never got.
    size_t storeWaiting();

  private:
    struct tImpl;
    std::unique_ptr<tImpl> d;
};

// How long finish waits for a connection still being made.
constexpr std::chrono::milliseconds connectWhenLeaving{1500};

// The client identifier of `address` on `port`: from this computer's name
// and the whole prefix, so that sites whose prefixes end alike never throw
// each other off the broker. 23 characters, what every broker must take.
QString MqttClientId(const QString &host, const QString &prefix, const QString &port, int address);

// The bound of the memory buffer of one controller.
constexpr size_t memoryBufferReadings = 3600;
