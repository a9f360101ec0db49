#pragma once

#include <filesystem>

namespace pelwick {

/// A symbolic link to the simulated calculator's terminal (for example DIR/ttyACM0, so that
/// "--device-dir DIR" finds it), kept for the life of the service. Only a symbolic link is ever
/// replaced; on destruction the link is removed if it still points to the terminal.
class TerminalLink {
public:
    /// Fails when `link` exists and is not a symbolic link, or cannot be made.
    TerminalLink(std::filesystem::path link, std::filesystem::path terminal);
    ~TerminalLink();

    TerminalLink(const TerminalLink&) = delete;
    TerminalLink& operator=(const TerminalLink&) = delete;

    const std::filesystem::path& path() const { return link_; }

private:
    std::filesystem::path link_;
    std::filesystem::path terminal_;
};

} // namespace pelwick
