#pragma once

#include "device/ByteTransport.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace pelwick {

/// Serves a simulated calculator on a pseudo-terminal, so that the real serial code (or any other
/// program) can open the terminal's slave side and talk to it as to a cable. Bytes the client sends
/// are fed to the calculator; its replies are written back as soon as they are queued.
///
/// A client closing the terminal is a cable pulled out: the calculator's buffers are reset (its
/// memory stays) and the server waits for the next client to open the terminal.
class PseudoTerminalServer {
public:
    /// Receives the user-facing text of a command the calculator rejected.
    using CommandErrorHandler = std::function<void(const std::string& message)>;

    /// Opens the pseudo-terminal in raw mode. Fails with std::system_error.
    explicit PseudoTerminalServer(std::shared_ptr<ByteTransport> calculator);
    /// Stops and joins the background thread, and closes the terminal.
    ~PseudoTerminalServer();

    PseudoTerminalServer(const PseudoTerminalServer&) = delete;
    PseudoTerminalServer& operator=(const PseudoTerminalServer&) = delete;

    /// The path clients open, e.g. "/dev/pts/7".
    const std::string& slavePath() const { return slavePath_; }

    /// Serves on a background thread until stop() or hangUp().
    void start(CommandErrorHandler onCommandError = {});
    /// Serves on the calling thread until stop() or hangUp(). Fails with std::system_error when
    /// the terminal cannot be waited on.
    void serve(CommandErrorHandler onCommandError = {});
    /// Ends the service; safe to call from a signal handler and from any thread.
    void stop() noexcept;
    /// Closes the terminal now: a client sees the cable vanish, and the service ends.
    void hangUp() noexcept;

private:
    void serveLoop(const CommandErrorHandler& onCommandError);
    void feed(const std::uint8_t* data, std::size_t size, const CommandErrorHandler& onError);
    // Writes what the master accepts of the queued replies; false when the client is gone.
    bool flushReplies();
    void clientLeft();
    void wake() noexcept;
    void drainWakeUps() noexcept;
    bool ending() const noexcept { return stopRequested_ || hungUp_; }

    std::shared_ptr<ByteTransport> calculator_;
    int master_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::string slavePath_;
    Bytes replies_;
    std::size_t repliesStart_ = 0;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> hungUp_{false};
    std::thread thread_;
};

} // namespace pelwick
