#include "UiHarness.h"

#include "device/SerialOpenHelp.h"
#include "ui/screens/ProbeScreen.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/screens/WizardScreen.h"
#include "ui/screens/steps/ProgrammingModeStepBody.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ToneLabel.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick::testing {
namespace {

const QString waitingHint =
    "Status  Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.";

void begin(UiHarness& ui, FlasherMode mode) {
    ui.click(ui.window->welcomeScreen()->card(mode));
    ui.click(ui.window->welcomeScreen()->returnButton());
}

/// The calculator's port as the bench lists it: a real node (so the help can name its group)
/// whose USB id is the SAM-BA monitor's, and whose opens are refused as not permitted.
std::string refusedMonitorPort(UiHarness& ui) {
    const std::string port = ui.folder.write("ttyACM0", {}).string();
    if (const group* dialout = ::getgrnam("dialout"); dialout && ::geteuid() == 0) {
        [[maybe_unused]] const int changed = ::chown(port.c_str(), 0, dialout->gr_gid);
    }
    ::chmod(port.c_str(), 0660);
    ui.bench->listing->set({SerialPort{port, UsbIdentity{0x03EB, 0x6124, "ATMEL", "SAM-BA", ""}}});
    ui.bench->refuseOpens = EACCES;
    return port;
}

TEST(PortOpenHelpUi, TheProbeShowsTheHelpAndTheConfirmedMonitorBesideItsTexts) {
    UiHarness ui;
    const std::string port = refusedMonitorPort(ui);
    begin(ui, FlasherMode::probe);
    ui.advance(1.2);
    ProbeScreen* probe = ui.window->probeScreen();
    ASSERT_EQ(ui.window->currentScreen(), probe);

    // The specified lines stay as they are (the probe keeps its "Waiting…" status); the USB
    // line and the help come after them.
    const QString lines = probe->statusBlock()->text();
    EXPECT_TRUE(lines.endsWith("\nPort    " + QString::fromStdString(port) +
                               "\nSAM-BA  —\nUSB     03eb:6124 ATMEL SAM-BA · SAM-BA monitor"))
        << lines.toStdString();
    ToneLabel* help = probe->statusBlock()->helpLine();
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->text().toStdString(), serialOpenHelp(port, EACCES));
    EXPECT_EQ(probe->portLine()->text(),
              "ttyACM0 · USB CDC (SAM-BA) · confirmed by USB id 03eb:6124");
    EXPECT_FALSE(probe->errorBox()->isVisible());

    // Permission granted: connected, no help.
    ui.bench->refuseOpens = 0;
    ui.advance(1.0);
    EXPECT_TRUE(probe->statusBlock()->text().startsWith("Status  Connected: ATSAM4LC2C"));
    EXPECT_FALSE(help->isVisible());
}

TEST(PortOpenHelpUi, TheWizardShowsTheHelpUnderTheStatusAndUnderTheError) {
    UiHarness ui;
    const std::string port = refusedMonitorPort(ui);
    begin(ui, FlasherMode::flash);
    WizardScreen* wizard = ui.window->wizardScreen();
    ui.click(wizard->continueButton()); // → programming mode
    ui.advance(1.2);
    ConnectionStatusBlock* status =
        static_cast<ProgrammingModeStepBody*>(wizard->body(WizardStep::programmingMode))
            ->statusBlock();
    EXPECT_TRUE(status->text().startsWith(waitingHint));
    EXPECT_TRUE(status->helpLine()->isVisible());
    EXPECT_EQ(status->helpLine()->text().toStdString(), serialOpenHelp(port, EACCES));
    EXPECT_FALSE(wizard->errorBox()->isVisible());

    ui.bench->refuseOpens = 0;
    ui.advance(1.0);
    ASSERT_TRUE(wizard->continueButton()->isEnabled());
    EXPECT_FALSE(status->helpLine()->isVisible());

    // The calculator stops answering and the port is refused again: the read's reconnect fails
    // with the specified text, and the help stands under it.
    ui.bench->calculator->setClosed(true);
    ui.bench->refuseOpens = EACCES;
    ui.click(wizard->continueButton()); // → backup, which reads the calculator
    ui.advance(3.0);
    EXPECT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->message().toStdString(),
              "Could not open serial port " + port + ".");
    EXPECT_EQ(wizard->errorBox()->note().toStdString(), serialOpenHelp(port, EACCES));
}

} // namespace
} // namespace pelwick::testing
