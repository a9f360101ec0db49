#include "UiHarness.h"

#include "ui/screens/BatchScreen.h"
#include "ui/screens/ProbeScreen.h"
#include "ui/screens/WizardScreen.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/StepRow.h"

#include <QTreeWidget>

#include <functional>

namespace pelwick::testing {
namespace {

/// The texts of the batch screen's visible footer buttons, left to right.
QStringList visibleButtons(const BatchScreen& batch) {
    QStringList shown;
    for (QPushButton* button : std::initializer_list<QPushButton*>{
             batch.backButton(), batch.stopButton(), batch.startButton(), batch.nextButton(),
             batch.retryButton()}) {
        if (button->isVisible()) {
            shown << button->text();
        }
    }
    return shown;
}

// The one table of the window's own texts: what each screen shows in a given situation.
TEST(WindowTexts, EachScreenShowsItsTexts) {
    struct Row {
        const char* shown;
        std::function<QString(UiHarness&)> reach;
        QString expected;
    };
    const auto asked = [](FlasherMode mode, void (FlasherStore::*ask)(bool)) {
        return [mode, ask](UiHarness& ui) {
            ui.begin(mode);
            ((*ui.store).*ask)(true);
            ui.settle();
            return ui.confirmation()->windowTitle() + " | " + ui.confirmation()->informativeText();
        };
    };
    const std::vector<Row> rows{
        {"DEMO card",
         [](UiHarness& ui) {
             return ui.window->welcomeScreen()->card(FlasherMode::demo)->detail();
         },
         "Walk through the full wizard against a simulated calculator on this computer. No "
         "cable. Nothing is written to a real calculator."},
        {"DEMO header",
         [](UiHarness& ui) {
             ui.begin(FlasherMode::demo);
             return ui.window->wizardScreen()->header()->subtitle();
         },
         "DEMO — simulated Collector’s Edition"},
        {"DEMO flash confirmation", asked(FlasherMode::demo, &FlasherStore::setConfirmFlash),
         "Flash the simulated calculator? | DEMO writes only the simulated calculator on this "
         "computer. A real calculator is not changed."},
        {"FLASH flash confirmation", asked(FlasherMode::flash, &FlasherStore::setConfirmFlash),
         "Flash the calculator? | FLASH writes a real calculator. User memory will be wiped. The "
         "bootloader at 0x0000–0x3FFF is not overwritten."},
        {"skip-backup confirmation", asked(FlasherMode::flash, &FlasherStore::setConfirmSkipBackup),
         "Skip backup? | If the new firmware misbehaves, you will not have a copy of what is on "
         "the calculator now."},
        {"step rows",
         [](UiHarness& ui) {
             ui.begin(FlasherMode::flash);
             ui.click(ui.window->wizardScreen()->continueButton());
             const StepList* steps = ui.window->wizardScreen()->stepList();
             return steps->row(WizardStep::cable)->accessibleName() + " | " +
                    steps->row(WizardStep::programmingMode)->accessibleName() + " | " +
                    steps->row(WizardStep::finish)->accessibleName();
         },
         "Cable, completed | Programming mode, current | Restart, not started"},
        {"probe lines",
         [](UiHarness& ui) {
             ui.begin(FlasherMode::probe);
             ui.advance(1.2);
             return ui.window->probeScreen()->statusBlock()->text() + " | " +
                    ui.window->probeScreen()->portLine()->text();
         },
         "Status  Connected: ATSAM4LC2C\nPort    /dev/cu.usbmodem14101\nSAM-BA  v1.1 Dec 15 "
         "2013 19:03:14 | cu.usbmodem14101 · USB CDC (SAM-BA)"},
    };
    for (const Row& row : rows) {
        UiHarness ui;
        EXPECT_EQ(row.reach(ui).toStdString(), row.expected.toStdString()) << row.shown;
    }
}

TEST(BatchScreen, OffersTheButtonsOfEachPhaseShowsItsFailureAndStopBatchAsks) {
    UiHarness ui;
    BatchScreen* batch = ui.window->batchScreen();
    ui.begin(FlasherMode::batch);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Start batch"}));
    EXPECT_FALSE(batch->startButton()->isEnabled());
    ui.platform.dialogs->openAnswers.push_back(ui.folder.write("unit.bin", patternImage(5)));
    ui.click(batch->chooseFirmwareButton());
    ui.click(batch->backupPicker()->segment(1)); // Save to folder…
    ui.platform.dialogs->folderAnswers.push_back(ui.folder.path());
    ui.click(batch->chooseFolderButton());
    ui.click(batch->startButton());
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch"}));

    // Connect (first held job), then hold the backup: nothing but Back while the unit runs.
    ui.platform.background->holdNextJobs(2);
    ui.advance(1.2);
    ui.platform.background->releaseHeld();
    ui.settle();
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome"}));
    ui.platform.background->releaseHeld();
    ui.settle();
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch", "Next unit"}));
    EXPECT_EQ(batch->unitList()->topLevelItem(0)->text(2), "hp15c-20260105-143209-001.bin");
    expectDescribedForScreenReaders(*batch);

    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    ui.press(Qt::Key_Return); // Next unit
    EXPECT_EQ(ui.store->batchUnitNumber(), 2);
    ui.bench->makeUnsupported();
    ui.advance(1.2);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch", "Retry"}));
    ASSERT_TRUE(batch->errorBox()->isVisible());
    EXPECT_EQ(batch->errorBox()->message(), QString::fromStdString(*ui.store->lastError()));
    ui.click(batch->retryButton());
    EXPECT_EQ(ui.store->batchPhase(), BatchPhase::waiting);

    // A unit is under way: Stop batch asks first.
    ui.click(batch->stopButton());
    ui.click(UiHarness::button(batch->confirmation(), "Cancel"));
    EXPECT_EQ(ui.platform.app->quitCount, 0);
    ui.click(batch->stopButton());
    ui.click(UiHarness::button(batch->confirmation(), "Stop batch"));
    EXPECT_EQ(ui.platform.app->quitCount, 1);
}

TEST(BatchLog, FindsTheNewestBackupOfAUnitAmongTheNumberedNames) {
    TempDir folder;
    const std::string stamp = "20260105-143209";
    for (const char* name :
         {"hp15c-20260105-143209-003.bin", "hp15c-20260105-143209-003-2.bin",
          "hp15c-20260105-143209-003-10.bin", "hp15c-20260105-143209-0031.bin",
          "hp15c-20260105-143209-003-x.bin", "hp15c-20260105-143210-003-11.bin"}) {
        folder.write(name, {});
    }
    EXPECT_EQ(BatchLog::backupFileOf(folder.path(), stamp, 3), "hp15c-20260105-143209-003-10.bin");
    EXPECT_EQ(BatchLog::backupFileOf(folder.path(), stamp, 31), std::nullopt);
}

TEST(ProbeScreen, ShowsAnUnsupportedChipInABoxAndBackLeaves) {
    UiHarness ui;
    ProbeScreen* probe = ui.window->probeScreen();
    ui.bench->makeUnsupported();
    ui.begin(FlasherMode::probe);
    ui.advance(1.2);
    ASSERT_TRUE(probe->errorBox()->isVisible());
    EXPECT_EQ(probe->errorBox()->message(), QString::fromStdString(*ui.store->lastError()));
    ui.click(probe->backButton());
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());
}

} // namespace
} // namespace pelwick::testing
