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
    /// The result as JSON on standard output.
    bool json = false;
    /// A timestamped trace of every conversation with a calculator on standard error.
    bool verbose = false;
    /// Only errors, questions and the result.
    bool quiet = false;
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

struct HelpOptions {
    /// The command whose help is asked for; none: the program's.
    std::optional<std::string> command;
};

/// `none`: the command line named no command (and asked for no version).
enum class CommandName {
    none,
    ports,
    info,
    simulate,
    backup,
    flash,
    verify,
    checksum,
    demo,
    batch,
    help,
    version
};

/// The command's name as it is typed ("flash").
const char* commandText(CommandName command);

/// Everything the command line says: the global options, the chosen command and its options.
struct CommandLine {
    GlobalOptions global;
    CommandName command = CommandName::none;
    BackupOptions backup;
    FlashOptions flash;
    VerifyOptions verify;
    ChecksumOptions checksum;
    SimulateOptions simulate;
    DemoOptions demo;
    BatchOptions batch;
    HelpOptions help;
    /// -V or --version was given.
    bool versionAsked = false;

    /// Declares the options and commands on `app`, with their help, writing into this object as
    /// CLI11 parses. After a successful parse, `resolveCommand` names the command that was given
    /// (`version` also for --version).
    void declare(CLI::App& app);
    void resolveCommand(const CLI::App& app);
};

} // namespace pelwick
