#pragma once

#include "screen_host.h"

#include <functional>
#include <vector>

// The common shape of a page action, as a value: an optional question, a
// progress line, the message window, the page's values stored into the
// device, the commands in order until the first failure, the message window
// released, a failure reported (or kept silent), and on success the page
// refreshed and a success line.
struct tAction {
    uint32_t needs = 0;                  // tKnown: refused unless one is known
    QString question = {};               // Yes/No first; No sends nothing
    QString progress = {};               // Report line before anything is sent
    bool popup = false;                  // message window: progress + " no Ondrel..."
    std::function<void()> collect = {};  // page -> device, before the commands
    std::vector<tCommand> commands = {}; // sent in order, stopping at a failure
    // In place of `commands`: a sequence shared with tarvik-cli, sending
    // through the host; its result as a command's.
    std::function<tTask<int32_t>()> sequence = {};
    // A read nobody asked for (a refresh): it waits behind what a person asked.
    bool background = false;
    bool silent = false;                      // a failure is not reported
    std::function<void(int32_t)> failed = {}; // after a failure (and its report)
    std::function<void()> done = {};          // after every command succeeded
    QString success = {};                     // Report line after done
};

// Runs `action` through `host`; the task ends with its last answer. Its
// result: the last command's, the failed one's, or actDECLINED when nothing
// was sent: the question was answered No, or the copy holds none of the
// blocks the action `needs` (a write sends what its page shows, and a page
// shows a block only once it has been read or loaded in this session; said
// by NotKnownText).
tTask<int32_t> RunAction(ScreenHost &host, tAction action);
constexpr int32_t actDECLINED = 0;

// The one refusal of a write whose block is not known: "Leia ... do Ondrel
// antes de gravar", naming the first block of `needs`.
QString NotKnownText(uint32_t needs);
