#pragma once

#include <QObject>

#include <array>
#include <cstdint>

// The menu buttons; each carries a first-visit flag.
enum class tMenu : int {
    Main,
    Status,
    Log,
    Hist,
    PAR,
    RTC,
    SetOP,
    Relay1,
    Relay2,
    Relay3,
    Relay4,
    About,
    Sair,
};
constexpr int tMenuCount = int(tMenu::Sair) + 1;

// Colours of a report line.
constexpr uint32_t clOK = 0xFF000000;
constexpr uint32_t clERROR = 0xFFFF0000;

// First-visit flags: true once the menu's page has read since connecting.
// The window clears them at every connection attempt and end of a session.
class tFirstVisits : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    bool Visited(tMenu menu) const { return visited[size_t(menu)]; }
    void SetVisited(tMenu menu, bool on) {
        bool &flag = visited[size_t(menu)];
        if (flag == on)
            return;
        flag = on;
        Q_EMIT visitedChanged(menu, on);
    }
    void Clear() {
        for (int m = 0; m < tMenuCount; ++m)
            SetVisited(tMenu(m), false);
    }

  Q_SIGNALS:
    void visitedChanged(tMenu menu, bool visited);

  private:
    std::array<bool, tMenuCount> visited{};
};
