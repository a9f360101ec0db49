#pragma once

#include "util/Bytes.h"

#include <string>

namespace pelwick::testing {

/// A raw pseudo-terminal pair for serial link tests: the code under test opens `slavePath()` as
/// its port, and the test plays the device on the master side. Closing the master is unplugging
/// the cable.
class PseudoTerminal {
public:
    /// Opens the pair in raw mode; our own slave descriptor is closed again, so that the master
    /// sees exactly the client's opens and closes.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    /// Writes all bytes to the master (blocking until the terminal has taken them).
    void write(const Bytes& bytes);
    /// Reads from the master until `count` bytes came or `timeout` seconds passed; returns what
    /// came.
    Bytes read(std::size_t count, double timeout);

    /// Closes the master: the client's next read or write finds the cable gone.
    void closeMaster();

private:
    int master_ = -1;
    std::string slavePath_;
};

} // namespace pelwick::testing
