#include "CommandInterrupts.h"

#include "JsonReport.h"

#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace pelwick {

CommandInterrupts::CommandInterrupts(Console& console)
    : console_(console), watcher_([this] { interrupt(); }) {}

void CommandInterrupts::endAtOnce(std::string farewell) {
    const std::lock_guard lock(mutex_);
    if (!atOnce_ && whileFinishing_ > 0) {
        throw Interrupted(farewell);
    }
    atOnce_ = true;
    farewell_ = std::move(farewell);
}

void CommandInterrupts::finishFirst(std::string notice, std::string secondFarewell) {
    const std::lock_guard lock(mutex_);
    atOnce_ = false;
    notice_ = std::move(notice);
    secondFarewell_ = std::move(secondFarewell);
}

void CommandInterrupts::interrupt() {
    const std::lock_guard lock(mutex_);
    if (atOnce_) {
        endProcess(farewell_);
    }
    ++whileFinishing_;
    if (whileFinishing_ == 1 && !notice_.empty()) {
        say(notice_);
    } else if (whileFinishing_ > 1 && !secondFarewell_.empty()) {
        endProcess(secondFarewell_);
    }
}

void CommandInterrupts::endProcess(const std::string& farewell) {
    // The lock stays held: the command's thread cannot start another step meanwhile. What the
    // command printed so far goes out first; nothing else is cleaned up, because nothing is left
    // half done in these moments (the port closes with the process).
    std::fflush(stdout);
    if (console_.report) {
        console_.report->write(console_.out, ErrorDescription{"interrupted", farewell});
    }
    say(farewell);
    std::_Exit(interruptedStatus);
}

void CommandInterrupts::say(const std::string& text) {
    // On a terminal a progress bar may be open on the current line.
    console_.err << (console_.errorIsTerminal ? "\n" : "") << text << '\n' << std::flush;
}

} // namespace pelwick
