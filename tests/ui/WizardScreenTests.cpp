#include "UiHarness.h"

#include "device/SerialOpenHelp.h"
#include "ui/drawings/CalculatorDisplay.h"
#include "ui/screens/WizardScreen.h"
#include "ui/screens/steps/BackupStepBody.h"
#include "ui/screens/steps/ChecksumStepBody.h"
#include "ui/screens/steps/FirmwareStepBody.h"
#include "ui/screens/steps/FlashStepBody.h"
#include "ui/screens/steps/ProgrammingModeStepBody.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ToneLabel.h"

#include <cerrno>

namespace pelwick::testing {
namespace {

/// The window on its store, with its wizard screen at hand.
struct WizardWindow : ::testing::Test {
    FlashStepBody* flashBody() const {
        return static_cast<FlashStepBody*>(wizard->body(WizardStep::flash));
    }

    /// A DEMO session at the backup step, with the calculator's firmware read.
    void demoAtBackup() {
        ui.begin(FlasherMode::demo);
        ui.click(wizard->continueButton());
        ui.advance(4.0);
        ui.click(wizard->continueButton());
    }

    /// A DEMO session at the flash step: backup skipped (asked and confirmed), an image chosen.
    void demoAtFlash() {
        demoAtBackup();
        ui.click(static_cast<BackupStepBody*>(wizard->body(WizardStep::backup))->skipButton());
        ui.click(UiHarness::button(ui.confirmation(), "Skip backup"));
        ui.store->advance();
        ui.store->applyFirmware(ui.folder.write("firmware.bin", patternImage()));
        ui.store->advance();
        ui.settle();
    }

    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
};

TEST_F(WizardWindow, CompletesADemoByClickingWhatAUserClicks) {
    demoAtBackup();
    ui.platform.dialogs->saveAnswers.push_back(ui.folder / "backup.bin");
    ui.click(static_cast<BackupStepBody*>(wizard->body(WizardStep::backup))->saveButton());
    EXPECT_TRUE(std::filesystem::exists(ui.folder / "backup.bin"));

    ui.click(wizard->continueButton()); // → firmware
    ui.platform.dialogs->openAnswers.push_back(ui.folder.write("firmware.bin", patternImage()));
    ui.click(static_cast<FirmwareStepBody*>(wizard->body(WizardStep::firmware))->chooseButton());
    ui.click(wizard->continueButton()); // → flash
    ui.click(flashBody()->flashButton());
    auto* destructive =
        dynamic_cast<ActionButton*>(UiHarness::button(ui.confirmation(), "Flash at 0x04000"));
    ASSERT_NE(destructive, nullptr);
    EXPECT_EQ(destructive->role(), ActionButton::Role::destructive);
    ui.click(destructive);
    EXPECT_TRUE(wizard->successBox()->isVisible());
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->continueButton()); // → restart
    ui.click(wizard->continueButton()); // → checksum
    auto* checksum = static_cast<ChecksumStepBody*>(wizard->body(WizardStep::checksum));
    EXPECT_EQ(checksum->display()->text(),
              QString::fromStdString(ui.store->expectedChecksumLabel()));
    expectDescribedForScreenReaders(*wizard);
    ui.click(wizard->doneButton());
    EXPECT_EQ(ui.quits, 1);
    EXPECT_TRUE(ui.store->hasCompletedDemo());
}

// The one check that the store's failure reaches the screen: in a box on its step only, no
// success beside it, and the header and the step list agreeing that the connection is gone.
TEST_F(WizardWindow, ShowsTheStoresFailureOnItsStep) {
    demoAtFlash();
    ui.store->simulator()->setClosed(true);
    ui.store->flash();
    ui.advance(6.0);
    EXPECT_FALSE(wizard->progress()->isVisible());
    EXPECT_FALSE(wizard->successBox()->isVisible());
    ASSERT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->tone(), NoticeBox::Tone::danger);
    EXPECT_EQ(ui.store->lastError(), wizard->errorBox()->message().toStdString());
    EXPECT_EQ(wizard->chipLine()->text(), "Not connected");
    EXPECT_EQ(wizard->stepList()->row(WizardStep::programmingMode)->detail(), "Not connected");
    ui.click(wizard->backButton());
    EXPECT_FALSE(wizard->errorBox()->isVisible());
}

// A refused port: the help stands under the unchanged status, and under the error of an
// operation whose reconnect is refused.
TEST_F(WizardWindow, ShowsThePortOpenHelpUnderTheStatusAndTheError) {
    const std::string port = ui.folder.write("ttyACM0", {}).string();
    ui.bench->listing->set({SerialPort{port}});
    ui.bench->refuseOpens = EACCES;
    ui.begin(FlasherMode::flash);
    ui.click(wizard->continueButton());
    ui.advance(1.2);
    ToneLabel* help =
        static_cast<ProgrammingModeStepBody*>(wizard->body(WizardStep::programmingMode))
            ->statusBlock()
            ->helpLine();
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->text().toStdString(), *ui.store->portOpenHelp());
    ui.bench->refuseOpens = 0;
    ui.advance(1.0);

    ui.bench->calculator->setClosed(true);
    ui.bench->refuseOpens = EACCES;
    ui.click(wizard->continueButton()); // → backup, which reads the calculator
    ui.advance(3.0);
    ASSERT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->note().toStdString(), serialOpenHelp(port, EACCES));
}

// The keys never write a calculator by themselves: Return presses the button the user moved to
// (Back, not Flash), Escape is Back, and in a confirmation Return and Escape both answer Cancel.
TEST_F(WizardWindow, KeysActOnTheFocusedButtonAndNeverConfirmAFlash) {
    demoAtFlash();
    ui.window->activateWindow(); // the skip-backup question had the keyboard
    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    ui.press(Qt::Key_Escape);
    EXPECT_EQ(ui.store->wizard().step, WizardStep::firmware);
    ui.press(Qt::Key_Return); // no button chosen: Continue
    ASSERT_EQ(ui.store->wizard().step, WizardStep::flash);
    wizard->backButton()->setFocus(Qt::TabFocusReason);
    ui.press(Qt::Key_Return);
    EXPECT_EQ(ui.store->wizard().step, WizardStep::firmware);
    ui.window->setFocus();
    ui.press(Qt::Key_Return);

    for (const Qt::Key answer : {Qt::Key_Return, Qt::Key_Escape}) {
        ui.click(flashBody()->flashButton());
        ASSERT_TRUE(QTest::qWaitForWindowActive(ui.confirmation()));
        QTest::keyClick(QApplication::focusWidget(), answer);
        ui.settle();
        EXPECT_EQ(ui.confirmation(), nullptr);
        EXPECT_FALSE(ui.store->confirmFlash());
        EXPECT_FALSE(ui.store->wizard().isBusy);
        EXPECT_FALSE(ui.store->wizard().flashSucceeded);
    }
}

// Leaving asks first when something is at stake: Ctrl+Q while the calculator is busy (when Back
// and Back to welcome are hidden), Back to welcome once the calculator has been read.
TEST_F(WizardWindow, CtrlQAndBackToWelcomeAskWhenSomethingIsAtStake) {
    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    demoAtBackup();
    ui.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(ui.quits, 1);
    ui.platform.background->holdNextJobs(1); // a read of the calculator that does not end
    ui.store->checkCurrentFirmware();
    ui.settle();
    EXPECT_FALSE(wizard->backButton()->isVisible());
    EXPECT_FALSE(wizard->welcomeButton()->isVisible());
    ui.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(ui.quits, 1);
    ui.click(UiHarness::button(ui.window->quitConfirmation(), "Quit"));
    EXPECT_EQ(ui.quits, 2);
    ui.platform.background->releaseHeld();
    ui.settle();

    ui.click(wizard->welcomeButton());
    ui.click(UiHarness::button(ui.confirmation(), "Cancel"));
    EXPECT_EQ(ui.store->wizard().step, WizardStep::backup);
    ui.click(wizard->welcomeButton());
    ui.click(UiHarness::button(ui.confirmation(), "Leave session"));
    EXPECT_TRUE(ui.store->showWelcome());
}

} // namespace
} // namespace pelwick::testing
