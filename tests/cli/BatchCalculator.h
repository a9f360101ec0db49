#pragma once

#include "sim/PseudoTerminalServer.h"
#include "support/ObservedCalculator.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace pelwick::testing {

/// An observed calculator holding firmware of its own, served on a pseudo-terminal that is linked
/// into a device folder (as ttyACM0, ttyACM1, …). It counts the clients that spoke to it, and can
/// pull its cable in the middle of a flash.
class BatchCalculator {
public:
    /// Takes `operationDelay` seconds per 512 bytes a command moves.
    BatchCalculator(const std::filesystem::path& deviceFolder, const std::string& name,
                    unsigned seed, double operationDelay = 0);
    ~BatchCalculator();

    BatchCalculator(const BatchCalculator&) = delete;
    BatchCalculator& operator=(const BatchCalculator&) = delete;

    /// Hangs the terminal up just before the `appletRun`-th applet command reaches the chip.
    void pullCableAtAppletRun(int appletRun);
    /// Makes the `appletRun`-th applet command take `seconds`: the poll after it is answered late.
    void delayAppletRun(int appletRun, double seconds);

    /// Takes the port out of the device folder, and puts it back: a calculator unplugged, and one
    /// plugged in.
    void unplug();
    void plugIn();

    /// Ends the service; the chip and the connections are only looked at after this.
    void stop();

    const std::filesystem::path& link() const { return link_; }
    const Bytes& originalApplication() const { return originalApplication_; }
    const ObservedCalculator& chip() const;
    /// The clients that spoke and left.
    int connections() const;

private:
    class Chip;

    std::shared_ptr<Chip> chip_;
    std::unique_ptr<PseudoTerminalServer> server_;
    std::filesystem::path link_;
    Bytes originalApplication_;
};

/// A firmware image in a folder, and `count` calculators in a device folder beside it.
struct CalculatorBench {
    TempDir folder;
    Bytes image = patternImage(99);
    std::filesystem::path imageFile = folder.write("image.bin", image);
    std::filesystem::path devices = folder / "dev";
    std::vector<std::unique_ptr<BatchCalculator>> calculators;
    /// The pause after each applet command; none speeds the tests up.
    std::string settle = "0";

    explicit CalculatorBench(int count = 1, double operationDelay = 0);
    /// pelwick-cli arguments for `command` with the image on the calculators of the device folder.
    std::vector<std::string> run(const std::string& command,
                                 const std::vector<std::string>& options) const;
    void stopAll();
};

} // namespace pelwick::testing
