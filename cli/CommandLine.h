#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace pelwick {

/// Options that apply to every command that talks to a calculator.
struct GlobalOptions {
    std::string deviceDirectory = "/dev";
    std::optional<std::string> port;
    bool demo = false;
    double timeout = 3.0;
    std::optional<double> settle;
    /// Flash without the settle pauses while the calculator keeps up (TransferPace).
    bool fast = false;
};

struct BackupOptions {
    std::optional<std::string> output;
    /// Replace `output` if a file is there already.
    bool force = false;
};

struct FlashOptions {
    std::string file;
    bool yes = false;
    std::optional<std::string> backupDirectory;
    /// Keep no backup of the calculator's firmware (by default one is kept).
    bool noBackup = false;
};

struct VerifyOptions {
    std::string file;
};

struct ChecksumOptions {
    std::vector<std::string> files;
    std::optional<std::string> against;
};

struct SimulateOptions {
    std::optional<std::string> link;
    double delay = 0.01;
    bool noPreload = false;
};

struct BatchOptions {
    std::string file;
    std::optional<std::string> backupDirectory;
    bool parallel = false;
    /// End after this many units instead of waiting for an interrupt.
    std::optional<int> count;
};

struct DemoOptions {
    /// The simulated transfer time per 512 bytes.
    double delay = 0.01;
    std::optional<std::string> folder;
};

enum class CommandName { ports, info, simulate, backup, flash, verify, checksum, demo, batch };

/// Everything the command line says: the global options, the chosen command and its options.
struct CommandLine {
    GlobalOptions global;
    CommandName command = CommandName::info;
    BackupOptions backup;
    FlashOptions flash;
    VerifyOptions verify;
    ChecksumOptions checksum;
    SimulateOptions simulate;
    DemoOptions demo;
    BatchOptions batch;

    /// Declares the options and commands on `app`, writing into this object as CLI11 parses.
    /// After a successful parse, `resolveCommand` names the command that was given.
    void declare(CLI::App& app);
    void resolveCommand(const CLI::App& app);
};

} // namespace pelwick
