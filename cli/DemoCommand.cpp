#include "CommandInterrupts.h"
#include "Commands.h"
#include "DeviceSession.h"
#include "JsonFacts.h"
#include "ProgressDisplay.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "util/FileIO.h"
#include "util/Format.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ostream>

namespace pelwick {

namespace {

/// A full-size image that is plainly not firmware: a text header, then a byte pattern that never
/// ends in zeros, so its checksum covers the whole image.
Bytes demoImage() {
    static constexpr char header[] = "PELWICK DEMO IMAGE - NOT CALCULATOR FIRMWARE\n";
    Bytes image(FlashLayout::applicationSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>((i * 7 + i / 512) % 251 + 1);
    }
    std::copy(header, header + sizeof header - 1, image.begin());
    return image;
}

std::filesystem::path demoFolder(const DemoOptions& options) {
    if (options.folder) {
        std::filesystem::create_directories(*options.folder);
        return *options.folder;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "pelwick-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw FileAccessError("create", std::filesystem::temp_directory_path(),
                              std::error_code(errno, std::generic_category()));
    }
    return pattern;
}

} // namespace

int runDemoCommand(const GlobalOptions& global, const DemoOptions& options, Console& console) {
    CommandInterrupts interrupts(console);
    interrupts.endAtOnce("Interrupted. The demo touched no real calculator.");
    JsonReport* report = console.report.get();
    // The walk-through tells what happens; the test menu's value at the end is the result.
    std::ostream& out = console.notes();
    const auto simulator = std::make_shared<SimulatedCalculatorTransport>(options.delay, true);
    // The demo paces its writes as on a cable, so that --fast shows what it saves.
    GlobalOptions paced = global;
    paced.settle = global.settle.value_or(Flasher::cableSettleSeconds);
    DeviceSession session(simulator, paced, console.deviceTrace());
    auto step = [&](const char* title) { out << '\n' << title << '\n' << std::flush; };

    out << "Pelwick demo: a simulated calculator inside this program stands in for the cable and "
           "the calculator. Nothing real is written.\n";

    step("1. Identify the calculator");
    const ConnectedTarget& target = session.connectSupported();
    if (report) {
        reportTarget(*report, target);
    }
    out << "   Found " << target.identity.name << " on " << target.port.path << " (monitor "
        << target.client->version() << "). It can be backed up and flashed.\n";

    step("2. Read and judge the installed firmware");
    Bytes current;
    {
        ProgressDisplay display(console);
        current = session.flasher().readApplication(target.client, display.progress());
    }
    const BackupChecksumAssessment backup = VoyagerFirmwareChecksum::backupAssessment(current);
    if (report) {
        report->set("calculator", calculatorFirmwareFacts(backup));
    }
    out << "   " << backup.message() << '\n';
    if (!backup.isRecognized()) {
        out << "   (The simulated calculator holds a stand-in image, not real firmware, so it is "
               "not in the list.)\n";
    }

    step("3. Back it up");
    const std::filesystem::path folder = demoFolder(options);
    // Files already in the folder (an earlier demo's) are kept: new ones take numbered names.
    interrupts.finishFirst();
    const std::filesystem::path backupFile = writeNewFileAtomically(
        folder / backup.defaultBackupFileName(std::chrono::system_clock::now()), current);
    if (report) {
        report->set("backup", backupFile.string());
    }
    out << "   Saved to " << backupFile.string()
        << ". Flashing this file would put the calculator back as it was.\n";

    step("4. Make a sample image to flash");
    const Bytes image = demoImage();
    const std::filesystem::path imageFile =
        writeNewFileAtomically(folder / "pelwick-demo-image.bin", image);
    interrupts.endAtOnce("Interrupted. The demo touched no real calculator.");
    const FirmwareImage loaded{imageFile, image};
    const FirmwareFileAssessment verdict =
        VoyagerFirmwareChecksum::firmwareFileAssessment(image, backup, false);
    if (report) {
        report->set("file", imageFile.string());
        report->set("firmware", firmwareFileFacts(verdict));
    }
    out << "   " << imageFile.string() << " (" << image.size()
        << " bytes): a demo pattern, not calculator firmware.\n";
    out << "   " << verdict.message() << '\n';

    step("5. Flash it at 0x04000 (the bootloader below is never written)");
    const auto started = MonotonicClock::now();
    if (report) {
        report->set("fellBack", false);
    }
    {
        ProgressDisplay display(console);
        const TransferPace::FallbackHandler noteFallback = display.paceFallback();
        session.flasher().write(loaded, FlashLayout::applicationStart, target.client, true,
                                display.progress(), display.pageProgress(),
                                [&](const std::string& notice) {
                                    if (report) {
                                        report->set("fellBack", true);
                                    }
                                    noteFallback(notice);
                                });
    }
    const double seconds = secondsSince(started);
    if (report) {
        report->set("result", "flashed");
        report->set("seconds", seconds);
    }
    out << formatString("   Flashed and verified. (%.1f s)\n", seconds);

    step("6. Verify it once more, as \"pelwick-cli verify\" does");
    {
        ProgressDisplay display(console);
        session.flasher().verify(loaded, FlashLayout::applicationStart, target.client,
                                 display.progress());
    }
    out << "   Verified: the calculator holds " << imageFile.string() << ".\n";
    session.close();

    if (!report) {
        if (!console.quiet) {
            console.out << '\n';
        }
        console.out << "7. Restart the calculator and open its test menu; it should show:\n"
                    << VoyagerFirmwareChecksum::testMenuDisplayOf(image) << '\n';
    }
    return 0;
}

} // namespace pelwick
