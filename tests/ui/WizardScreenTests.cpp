#include "UiHarness.h"

#include "ui/drawings/CalculatorDisplay.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/screens/WizardScreen.h"
#include "ui/screens/steps/BackupStepBody.h"
#include "ui/screens/steps/ChecksumStepBody.h"
#include "ui/screens/steps/FirmwareStepBody.h"
#include "ui/screens/steps/FlashStepBody.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ChipLine.h"
#include "ui/widgets/FastTransferOption.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/StepRow.h"

#include <QLabel>
#include <QProgressBar>

#include <filesystem>

namespace pelwick::testing {
namespace {

std::filesystem::path demoImage() {
    return std::filesystem::path(PELWICK_BIN_DIR) / "demo-firmware" / "pelwick-demo-image.bin";
}

/// Texts of the visible labels under `widget`, in one string.
QString visibleText(const QWidget& widget) {
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        if (label->isVisible()) {
            texts << label->text();
        }
    }
    return texts.join('\n');
}

/// Begins a session from the welcome screen by clicking its card and Continue.
void beginByClicking(UiHarness& ui, FlasherMode mode) {
    WelcomeScreen* welcome = ui.window->welcomeScreen();
    ASSERT_EQ(ui.window->currentScreen(), welcome);
    ui.click(welcome->card(mode));
    ui.click(welcome->returnButton());
}

/// A DEMO session at the backup step, with the calculator's firmware read.
void demoAtBackup(UiHarness& ui) {
    beginByClicking(ui, FlasherMode::demo);
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

TEST(WizardScreen, CompletesADemoByClickingWhatAUserClicks) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    expectDescribedForScreenReaders(*ui.window);
    beginByClicking(ui, FlasherMode::demo);
    ASSERT_EQ(ui.window->currentScreen(), wizard);
    EXPECT_EQ(wizard->header()->badgeText(), "DEMO");
    EXPECT_EQ(wizard->header()->subtitle(), "DEMO — simulated Collector’s Edition");
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->continueButton()); // cable → programming mode
    EXPECT_EQ(ui.store->wizard().step, WizardStep::programmingMode);
    EXPECT_FALSE(wizard->continueButton()->isEnabled());
    ui.advance(4.0);
    ASSERT_TRUE(wizard->continueButton()->isEnabled());
    EXPECT_NE(visibleText(*wizard).indexOf("Status  Connected: ATSAM4LC2C"), -1);
    expectDescribedForScreenReaders(*wizard);

    // The automatic read fails while the calculator does not answer; Check Firmware retries.
    ui.store->simulator()->setClosed(true);
    ui.click(wizard->continueButton());
    ui.advance(3.0);
    auto* backup = static_cast<BackupStepBody*>(wizard->body(WizardStep::backup));
    ASSERT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->label(), "Could not read the calculator");
    ui.store->simulator()->setClosed(false);
    ui.advance(4.0);
    ui.click(backup->checkButton());
    EXPECT_FALSE(wizard->errorBox()->isVisible());
    // The shipped catalogue knows the simulated calculator's firmware, and no bar is left over.
    EXPECT_NE(visibleText(*backup).indexOf("original firmware of 2023-01-05"), -1);
    EXPECT_FALSE(wizard->progress()->isVisible());
    expectDescribedForScreenReaders(*wizard);

    const auto backupFile = ui.folder / "backup.bin";
    ui.platform.dialogs->saveAnswers.push_back(backupFile);
    ui.click(backup->saveButton());
    EXPECT_TRUE(std::filesystem::exists(backupFile));
    EXPECT_NE(visibleText(*backup).indexOf("Backup saved as backup.bin."), -1);

    ui.click(wizard->continueButton()); // → firmware
    auto* firmware = static_cast<FirmwareStepBody*>(wizard->body(WizardStep::firmware));
    EXPECT_FALSE(wizard->continueButton()->isEnabled());
    ui.platform.dialogs->openAnswers.push_back(demoImage());
    ui.click(firmware->chooseButton());
    EXPECT_NE(visibleText(*firmware).indexOf("pelwick-demo-image.bin"), -1);
    // In DEMO the sample image's verdict says what it is.
    EXPECT_TRUE(firmware->verdict()->note().contains("demo pattern"));
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->continueButton()); // → flash
    auto* flash = static_cast<FlashStepBody*>(wizard->body(WizardStep::flash));
    EXPECT_EQ(flash->flashButton()->text(), "Flash Simulated Calculator");
    EXPECT_EQ(flash->flashButton()->role(), ActionButton::Role::primary);
    EXPECT_FALSE(wizard->progress()->isVisible());
    ui.click(flash->flashButton());
    QMessageBox* box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    ui.click(UiHarness::button(*box, "Flash at 0x04000"));
    EXPECT_TRUE(ui.store->wizard().flashSucceeded);
    EXPECT_TRUE(wizard->successBox()->isVisible());
    EXPECT_EQ(wizard->successBox()->message(), "Flashed and verified.");
    EXPECT_TRUE(wizard->pagePreview()->isVisible());
    EXPECT_EQ(wizard->pagePreview()->header(), "Page 224 of 224 · 0x1FE00");
    EXPECT_FALSE(wizard->progress()->isVisible()); // the operation is over
    // Going on is next; flashing again stays possible as a secondary action.
    EXPECT_EQ(flash->flashButton()->text(), "Flash again");
    EXPECT_EQ(flash->flashButton()->role(), ActionButton::Role::secondary);
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->continueButton()); // → restart
    expectDescribedForScreenReaders(*wizard);
    ui.click(wizard->continueButton()); // → checksum
    auto* checksum = static_cast<ChecksumStepBody*>(wizard->body(WizardStep::checksum));
    EXPECT_FALSE(wizard->continueButton()->isVisible());
    EXPECT_EQ(checksum->display()->text(),
              QString::fromStdString(ui.store->expectedChecksumLabel()));
    EXPECT_EQ(checksum->display()->accessibleName(), checksum->display()->text());
    EXPECT_NE(
        visibleText(*checksum).indexOf("If you received the expected checksum of " +
                                       QString::fromStdString(ui.store->expectedChecksumShort()) +
                                       ", then congratulations"),
        -1);
    expectDescribedForScreenReaders(*wizard);

    ui.click(wizard->doneButton());
    EXPECT_EQ(ui.quits, 1);
    EXPECT_TRUE(ui.store->hasCompletedDemo());
    EXPECT_EQ(ui.platform.settings->boolean(FlasherStore::demoModeCompletedKey), true);
}

// FLASH offers fast transfer, off on first start; a click keeps the choice in the settings, and a
// fast flash that fell back says so under its success.
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
    EXPECT_EQ(ui.platform.settings->boolean(FlasherStore::fastTransferKey), true);
    EXPECT_TRUE(ui.store->fastTransfer());

    ui.click(flash->flashButton());
    QMessageBox* box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    ui.click(UiHarness::button(*box, "Flash at 0x04000"));
    ASSERT_TRUE(wizard->successBox()->isVisible());
    EXPECT_EQ(wizard->successBox()->note(), FastTransferOption::fellBackNote);
    EXPECT_TRUE(flash->fastTransfer()->isChecked());
}

TEST(WizardScreen, BackLeavesTheFirstStepAndHidesWhileBusy) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    beginByClicking(ui, FlasherMode::demo);
    ui.click(wizard->backButton());
    EXPECT_TRUE(ui.store->showWelcome());
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());

    beginByClicking(ui, FlasherMode::demo);
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
    EXPECT_TRUE(wizard->backButton()->isVisible());
    ui.click(wizard->backButton());
    EXPECT_EQ(ui.store->wizard().step, WizardStep::programmingMode);
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

TEST(WizardScreen, ShowsAFailureInABoxWithTheNextActionOnItsStepOnly) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    demoAtFlash(ui);
    EXPECT_EQ(wizard->chipLine()->text(), "ATSAM4LC2C");

    ui.store->simulator()->setClosed(true);
    ui.store->flash();
    ui.advance(6.0);
    ASSERT_TRUE(ui.store->lastError().has_value());
    EXPECT_FALSE(wizard->progress()->isVisible());
    ASSERT_TRUE(wizard->errorBox()->isVisible());
    EXPECT_EQ(wizard->errorBox()->tone(), NoticeBox::Tone::danger);
    EXPECT_EQ(wizard->errorBox()->label(), "Flash failed");
    EXPECT_EQ(wizard->errorBox()->message(), QString::fromStdString(*ui.store->lastError()));
    EXPECT_TRUE(wizard->errorBox()->note().contains("Flash Simulated Calculator"));
    // The failure dropped the connection: the header and the step list say the same.
    EXPECT_EQ(wizard->chipLine()->text(), "Not connected");
    EXPECT_EQ(wizard->stepList()->row(WizardStep::programmingMode)->detail(), "Not connected");

    ui.click(wizard->backButton());
    EXPECT_TRUE(ui.store->lastError().has_value());
    EXPECT_FALSE(wizard->errorBox()->isVisible());
}

TEST(WizardScreen, BackToWelcomeAsksOnlyWhenTheSessionWouldLoseSomething) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    beginByClicking(ui, FlasherMode::demo);
    ui.click(wizard->continueButton());
    ui.click(wizard->welcomeButton());
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());

    demoAtBackup(ui);
    ui.click(wizard->welcomeButton());
    QMessageBox* box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Leave this session?");
    ui.click(UiHarness::button(*box, "Cancel"));
    EXPECT_EQ(ui.store->wizard().step, WizardStep::backup);
    ui.click(wizard->welcomeButton());
    ui.click(UiHarness::button(*ui.confirmation(), "Leave session"));
    EXPECT_TRUE(ui.store->showWelcome());
}

TEST(WizardScreen, ConfirmationsFollowTheModeWhenRaisedAndClearTheirFlag) {
    UiHarness ui;
    beginByClicking(ui, FlasherMode::demo);
    ui.store->setConfirmFlash(true);
    ui.settle();
    QMessageBox* box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Flash the simulated calculator?");
    EXPECT_EQ(box->informativeText(), "DEMO writes only the simulated calculator on this "
                                      "computer. A real calculator is not changed.");
    auto* destructive = dynamic_cast<ActionButton*>(UiHarness::button(*box, "Flash at 0x04000"));
    ASSERT_NE(destructive, nullptr);
    EXPECT_EQ(destructive->role(), ActionButton::Role::destructive);
    ui.click(UiHarness::button(*box, "Cancel"));
    EXPECT_FALSE(ui.store->confirmFlash());
    EXPECT_EQ(ui.confirmation(), nullptr);

    ui.store->setUsingSimulator(false); // as the demo shortcut does
    ui.store->setConfirmFlash(true);
    ui.settle();
    box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Flash the calculator?");
    EXPECT_EQ(box->informativeText(),
              "FLASH writes a real calculator. User memory will be wiped. The bootloader at "
              "0x0000–0x3FFF is not overwritten.");
    box->reject(); // Escape or the window's close button
    ui.settle();
    EXPECT_FALSE(ui.store->confirmFlash());

    ui.store->setConfirmSkipBackup(true);
    ui.settle();
    box = ui.confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Skip backup?");
    EXPECT_EQ(box->informativeText(), "If the new firmware misbehaves, you will not have a copy "
                                      "of what is on the calculator now.");
    ui.click(UiHarness::button(*box, "Skip backup"));
    EXPECT_FALSE(ui.store->confirmSkipBackup());
    EXPECT_TRUE(ui.store->backupSkipped());
    EXPECT_TRUE(ui.store->wizard().backupResolved);
}

TEST(WizardScreen, StepRowsAndTheCableStepCarryTheirAccessibleTexts) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    beginByClicking(ui, FlasherMode::flash);
    ui.click(wizard->continueButton());
    ui.advance(1.5);

    StepList* steps = wizard->stepList();
    EXPECT_EQ(steps->row(WizardStep::cable)->accessibleName(), "Cable, completed");
    EXPECT_EQ(steps->row(WizardStep::cable)->detail(), "Pogo cable seated");
    EXPECT_EQ(steps->row(WizardStep::programmingMode)->accessibleName(),
              "Programming mode, current");
    EXPECT_EQ(steps->row(WizardStep::finish)->accessibleName(), "Restart, not started");
    EXPECT_EQ(steps->row(WizardStep::finish)->detail(), "");
    EXPECT_EQ(wizard->header()->badgeText(), "");
    EXPECT_EQ(wizard->header()->subtitle(),
              "Native SAM-BA programmer for the post-2015 Voyager series");

    ui.click(wizard->backButton());
    bool sawWarning = false;
    for (const QWidget* widget : wizard->findChildren<QWidget*>()) {
        const auto* box = dynamic_cast<const NoticeBox*>(widget);
        if (box && box->isVisible() && box->tone() == NoticeBox::Tone::caution) {
            sawWarning = true;
            EXPECT_TRUE(box->accessibleName().startsWith("Warning. Use the POGO cable only"))
                << box->accessibleName().toStdString();
        }
    }
    EXPECT_TRUE(sawWarning);
    bool sawCable = false;
    for (const QWidget* widget : wizard->findChildren<QWidget*>()) {
        if (widget->isVisible() &&
            widget->accessibleName() == "Seat the pogo plug · keyed, one way only") {
            sawCable = true;
            EXPECT_TRUE(widget->accessibleDescription().endsWith(
                "ends in a USB-A/C connector next to this computer."));
        }
    }
    EXPECT_TRUE(sawCable);
}

TEST(WizardScreen, ShowsTheFlashInProgressOnFreshBars) {
    UiHarness ui;
    WizardScreen* wizard = ui.window->wizardScreen();
    beginByClicking(ui, FlasherMode::demo);
    ui.store->beginBusy("Writing firmware…", "Flashing");
    ui.store->applyFlashProgress(0.5, FlashProgressPhase::writing);
    ui.settle();
    ASSERT_TRUE(wizard->progress()->isVisible());
    EXPECT_EQ(wizard->progress()->caption(), "Flashing");
    EXPECT_EQ(wizard->progress()->tint(), LabelledProgress::Tint::flashing);
    EXPECT_EQ(wizard->progress()->bar()->value(), wizard->progress()->bar()->maximum() / 2);
    const QProgressBar* writingBar = wizard->progress()->bar();

    ui.store->applyFlashProgress(0.1, FlashProgressPhase::verifying);
    ui.settle();
    EXPECT_NE(wizard->progress()->bar(), writingBar); // a new bar, not the old one running back
    EXPECT_EQ(wizard->progress()->tint(), LabelledProgress::Tint::verifying);
    EXPECT_EQ(wizard->progress()->caption(), "Verifying");
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
    ASSERT_TRUE(ui.store->wizard().isBusy);
    ui.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(ui.quits, 1);
    ASSERT_NE(ui.window->quitConfirmation(), nullptr);
    ui.click(UiHarness::button(*ui.window->quitConfirmation(), "Quit"));
    EXPECT_EQ(ui.quits, 2);
    ui.platform.background->releaseHeld();
}

} // namespace
} // namespace pelwick::testing
