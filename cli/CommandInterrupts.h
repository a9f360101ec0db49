#pragma once

#include "CommandError.h"
#include "Console.h"
#include "InterruptWatcher.h"

#include <mutex>
#include <stdexcept>
#include <string>

namespace pelwick {

/// The exit status of a command that an interrupt ended.
inline constexpr int interruptedStatus = 130;

/// A command ended by an interrupt between two of its steps; the text says what was left undone.
class Interrupted : public CommandError {
public:
    explicit Interrupted(const std::string& farewell) : CommandError("interrupted", farewell) {}
};

/// What an interrupt (SIGINT, SIGTERM, SIGHUP) does to a command that talks to one calculator.
/// While the command connects, reads or waits for an answer, an interrupt ends the process at once
/// with `interruptedStatus`, after a sentence saying what was left undone (with --json, after the
/// report too, which says the same): nothing has been written then, and no file is half saved. A
/// step that must not be cut off (a file being saved, the page writes and verify of a flash) is
/// finished first. Make it before any other thread.
class CommandInterrupts {
public:
    explicit CommandInterrupts(Console& console);

    /// From now on an interrupt ends the process at once after `farewell`. If one came while the
    /// step before was being finished, throws `Interrupted` with `farewell` instead.
    void endAtOnce(std::string farewell);
    /// From now on the step under way is finished whatever comes. The first interrupt shows
    /// `notice`; a second one ends the process at once after `secondFarewell`, or is ignored
    /// when that is empty. Calling it again changes the texts and keeps the count.
    void finishFirst(std::string notice = {}, std::string secondFarewell = {});

private:
    // On the watcher's thread.
    void interrupt();
    [[noreturn]] void endProcess(const std::string& farewell);
    void say(const std::string& text);

    Console& console_;
    std::mutex mutex_;
    bool atOnce_ = true;
    std::string farewell_ = "Interrupted.";
    std::string notice_;
    std::string secondFarewell_;
    int whileFinishing_ = 0;
    // Last, so that it starts after the fields it uses and ends before them.
    InterruptWatcher watcher_;
};

} // namespace pelwick
