#pragma once

#include <string>

namespace sim {

// A raw pseudo-terminal pair. The master end carries the controller's side of
// the line; a client opens slaveName() like a serial port. One slave
// descriptor stays open here for the pair's lifetime so that the master never
// sees a hang-up while clients come and go.
class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open();
    void close();
    int master() const { return m_master; }
    const std::string &slaveName() const { return m_slaveName; }
    // The speed the client last set the line to, in bit/s (0 when unknown).
    int speed() const;

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

} // namespace sim
