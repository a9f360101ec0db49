#include "UiHarness.h"

#include "device/SerialOpenHelp.h"
#include "ui/drawings/CalculatorDisplay.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/screens/WizardScreen.h"
#include "ui/screens/steps/BackupStepBody.h"
#include "ui/screens/steps/ChecksumStepBody.h"
#include "ui/screens/steps/FirmwareStepBody.h"
#include "ui/screens/steps/FlashStepBody.h"
#include "ui/screens/steps/ProgrammingModeStepBody.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/FastTransferOption.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ToneLabel.h"

#include <QProgressBar>

#include <cerrno>

namespace pelwick::testing {
namespace {

std::filesystem::path demoImage() {
    return std::filesystem::path(PELWICK_BIN_DIR) / "demo-firmware" / "pelwick-demo-image.bin";
}

/// A DEMO session at the backup step, with the calculator's firmware read.
void demoAtBackup(UiHarness& ui) {
    ui.begin(FlasherMode::demo);
    ui.click(ui.window->wizardScreen()->continueButton());
    ui.advance(4.0);
    ui.click(ui.window->wizardScreen()->continueButton());
    ASSERT_TRUE(ui.store->currentFirmware().has_value());
}

/// A DEMO session at the flash step: backup skipped, the demo image chosen.
void demoAtFlash(UiHarness& ui) {
    demoAtBackup(ui);
    ui.store->skipBackup();
    ui.store->advance();
    ui.store->applyFirmware(demoImage());
    ui.store->advance();
    ui.settle();
    ASSERT_EQ(ui.store->wizard().step, WizardStep::flash);
}

/// Confirms the flash the flash button asks about.
void flashByClicking(UiHarness& ui, FlashStepBody& flash) {
    ui.click(flash.flashButton());
    QMessageBox* box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    auto* destructive = dynamic_cast<ActionButton*>(UiHarness::button(*box, "Flash at 0x04000"));
    ASSERT_NE(destructive, nullptr);
    EXPECT_EQ(destructive->role(), ActionButton::Role::destructive);
    ui.click(destructive);
}

TEST(WizardScreen, CompletesADemoByClickingWhatAUserClicks) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    expectDescribedForScreenReaders(*ui.window);
    demoAtBackup(ui);
    auto* backup = static_cast<BackupStepBody*>(wizard->body(WizardStep::backup));
    ui.platform.dialogs->saveAnswers.push_back(ui.folder / "backup.bin");
    ui.click(backup->saveButton());
    EXPECT_TRUE(std::filesystem::exists(ui.folder / "backup.bin"));
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->continueButton()); // → firmware
    EXPECT_FALSE(wizard->continueButton()->isEnabled());
    ui.platform.dialogs->openAnswers.push_back(demoImage());
    ui.click(static_cast<FirmwareStepBody*>(wizard->body(WizardStep::firmware))->chooseButton());
    ui.click(wizard->continueButton()); // → flash
    auto* flash = static_cast<FlashStepBody*>(wizard->body(WizardStep::flash));
    EXPECT_EQ(flash->flashButton()->role(), ActionButton::Role::primary);
    flashByClicking(ui, *flash);
    EXPECT_TRUE(ui.store->wizard().flashSucceeded);
    EXPECT_TRUE(wizard->successBox()->isVisible());
    EXPECT_TRUE(wizard->pagePreview()->isVisible());
    EXPECT_FALSE(wizard->progress()->isVisible()); // the operation is over
    // Going on is next; flashing again stays possible as a secondary action.
    EXPECT_EQ(flash->flashButton()->role(), ActionButton::Role::secondary);
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->continueButton()); // → restart
    ui.click(wizard->continueButton()); // → checksum
    auto* checksum = static_cast<ChecksumStepBody*>(wizard->body(WizardStep::checksum));
    EXPECT_EQ(checksum->display()->text(),
              QString::fromStdString(ui.store->expectedChecksumLabel()));
    EXPECT_EQ(checksum->display()->accessibleName(), checksum->display()->text());
    expectDescribedForScreenReaders(*wizard);
    ui.click(wizard->doneButton());
    EXPECT_EQ(ui.quits, 1);
    EXPECT_TRUE(ui.store->hasCompletedDemo());
}

// The window shows the store's failure in a box on its step only, with the header and the step
// list agreeing that the connection is gone.
TEST(WizardScreen, ShowsTheStoresFailureOnItsStep) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    demoAtFlash(ui);
    ui.store->simulator()->setClosed(true);
    ui.store->flash();
    ui.advance(6.0);
    ASSERT_TRUE(ui.store->lastError().has_value());
    EXPECT_FALSE(wizard->progress()->isVisible());
    ASSERT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->tone(), NoticeBox::Tone::danger);
    EXPECT_EQ(wizard->errorBox()->message(), QString::fromStdString(*ui.store->lastError()));
    EXPECT_EQ(wizard->chipLine()->text(), "Not connected");
    EXPECT_EQ(wizard->stepList()->row(WizardStep::programmingMode)->detail(), "Not connected");
    ui.click(wizard->backButton());
    EXPECT_FALSE(wizard->errorBox()->isVisible());
}

// A refused port: the help stands under the unchanged status, and under the error of an
// operation whose reconnect is refused.
TEST(WizardScreen, ShowsThePortOpenHelpUnderTheStatusAndTheError) {
    UiHarness ui;
    const std::string port = ui.folder.write("ttyACM0", {}).string();
    ui.bench->listing->set({SerialPort{port}});
    ui.bench->refuseOpens = EACCES;
    ui.begin(FlasherMode::flash);
    WizardScreen* wizard = ui.window->wizardScreen();
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
    EXPECT_FALSE(help->isVisible());

    ui.bench->calculator->setClosed(true);
    ui.bench->refuseOpens = EACCES;
    ui.click(wizard->continueButton()); // → backup, which reads the calculator
    ui.advance(3.0);
    ASSERT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->note().toStdString(), serialOpenHelp(port, EACCES));
}

TEST(WizardScreen, FastTransferIsAnOptionAndAFallbackShowsUnderTheSuccess) {
    UiHarness ui;
    // The poll of page 100 is answered late.
    *ui.platform.demoLineFault = [](FaultInjectingTransport& line) {
        line.injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040", 115),
                        Fault::replyLate);
    };
    demoAtFlash(ui);
    WizardScreen* wizard = ui.window->wizardScreen();
    auto* flash = static_cast<FlashStepBody*>(wizard->body(WizardStep::flash));
    EXPECT_FALSE(flash->fastTransfer()->isChecked());
    ui.click(flash->fastTransfer());
    EXPECT_TRUE(ui.store->fastTransfer());
    flashByClicking(ui, *flash);
    ASSERT_TRUE(wizard->successBox()->isVisible());
    EXPECT_EQ(wizard->successBox()->note(), FastTransferOption::fellBackNote);
}

TEST(WizardScreen, BackIsHiddenWhileBusyAndLeavingASessionAsksFirst) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    ui.begin(FlasherMode::demo);
    ui.click(wizard->continueButton());
    ui.click(wizard->welcomeButton()); // nothing to lose yet: no question
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());

    ui.begin(FlasherMode::demo);
    ui.click(wizard->continueButton());
    ui.advance(4.0);
    ui.platform.background->holdNextJobs(1); // the firmware read stays "running"
    ui.click(wizard->continueButton());
    ASSERT_TRUE(ui.store->wizard().isBusy);
    EXPECT_FALSE(wizard->backButton()->isVisible());
    EXPECT_FALSE(wizard->welcomeButton()->isVisible());
    EXPECT_FALSE(wizard->continueButton()->isEnabled());
    EXPECT_TRUE(wizard->progress()->isVisible());
    ui.platform.background->releaseHeld();
    ui.settle();

    ui.click(wizard->welcomeButton());
    ui.click(UiHarness::button(*ui.confirmation(), "Cancel"));
    EXPECT_EQ(ui.store->wizard().step, WizardStep::backup);
    ui.click(wizard->welcomeButton());
    ui.click(UiHarness::button(*ui.confirmation(), "Leave session"));
    EXPECT_TRUE(ui.store->showWelcome());
}

TEST(WizardScreen, ReturnActsOnTheFocusedButtonEscapeGoesBackAndTabFollowsTheScreen) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    demoAtBackup(ui);
    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    auto* backup = static_cast<BackupStepBody*>(wizard->body(WizardStep::backup));
    // Top to bottom, left to right; the disabled Continue is skipped and nothing invisible
    // takes a stop.
    EXPECT_EQ(ui.tabStops(5), (std::vector<QWidget*>{wizard->welcomeButton(), backup->saveButton(),
                                                     backup->skipButton(), wizard->backButton(),
                                                     wizard->welcomeButton()}));
    // Return presses the button the user moved to, even when it is not the default one.
    ui.tabStops(3);
    ASSERT_EQ(QApplication::focusWidget(), wizard->backButton());
    ui.press(Qt::Key_Return);
    EXPECT_EQ(ui.store->wizard().step, WizardStep::programmingMode);
    ui.press(Qt::Key_Escape);
    EXPECT_EQ(ui.store->wizard().step, WizardStep::cable);
    // With no button chosen, Return is Continue.
    ui.window->setFocus();
    ui.press(Qt::Key_Return);
    EXPECT_EQ(ui.store->wizard().step, WizardStep::programmingMode);
}

// Confirmations clear their flag however they close; only the confirming button acts.
TEST(WizardScreen, ConfirmationsClearTheirFlagHoweverTheyClose) {
    UiHarness ui;
    ui.begin(FlasherMode::demo);
    ui.store->setConfirmFlash(true);
    ui.settle();
    ui.click(UiHarness::button(*ui.confirmation(), "Cancel"));
    EXPECT_FALSE(ui.store->confirmFlash());
    EXPECT_FALSE(ui.store->wizard().isBusy);
    EXPECT_EQ(ui.confirmation(), nullptr);

    ui.store->setConfirmFlash(true);
    ui.settle();
    ui.confirmation()->reject(); // Escape or the window's close button
    ui.settle();
    EXPECT_FALSE(ui.store->confirmFlash());

    ui.store->setConfirmSkipBackup(true);
    ui.settle();
    ui.click(UiHarness::button(*ui.confirmation(), "Skip backup"));
    EXPECT_FALSE(ui.store->confirmSkipBackup());
    EXPECT_TRUE(ui.store->wizard().backupResolved);
}

TEST(WizardScreen, ShowsTheFlashInProgressOnFreshBars) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    ui.begin(FlasherMode::demo);
    ui.store->beginBusy("Writing firmware…", "Flashing");
    ui.store->applyFlashProgress(0.5, FlashProgressPhase::writing);
    ui.settle();
    ASSERT_TRUE(wizard->progress()->isVisible());
    EXPECT_EQ(wizard->progress()->tint(), LabelledProgress::Tint::flashing);
    EXPECT_EQ(wizard->progress()->bar()->value(), wizard->progress()->bar()->maximum() / 2);
    const QProgressBar* writingBar = wizard->progress()->bar();
    ui.store->applyFlashProgress(0.1, FlashProgressPhase::verifying);
    ui.settle();
    EXPECT_NE(wizard->progress()->bar(), writingBar); // a new bar, not the old one running back
    EXPECT_EQ(wizard->progress()->tint(), LabelledProgress::Tint::verifying);
    expectDescribedForScreenReaders(*wizard);
}

TEST(MainWindow, CtrlQQuitsAtOnceWhenIdleAndAsksWhileTheCalculatorIsBusy) {
    UiHarness ui;
    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    demoAtBackup(ui);
    ui.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(ui.quits, 1);
    ui.platform.background->holdNextJobs(1); // a read of the calculator that does not end
    ui.store->checkCurrentFirmware();
    ui.settle();
    ui.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(ui.quits, 1);
    ASSERT_NE(ui.window->quitConfirmation(), nullptr);
    ui.click(UiHarness::button(*ui.window->quitConfirmation(), "Quit"));
    EXPECT_EQ(ui.quits, 2);
    ui.platform.background->releaseHeld();
}

} // namespace
} // namespace pelwick::testing
