#include "UiHarness.h"

#include "ui/screens/BatchScreen.h"
#include "ui/screens/ProbeScreen.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/ProminentButton.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/ToneLabel.h"

#include <QPushButton>

namespace pelwick::testing {
namespace {

void begin(UiHarness& ui, FlasherMode mode) {
    ui.click(ui.window->welcomeScreen()->card(mode));
    ui.click(ui.window->welcomeScreen()->returnButton());
}

/// The texts of the batch screen's visible footer buttons, left to right.
QStringList visibleButtons(const BatchScreen& batch) {
    QStringList shown;
    for (QPushButton* button : {batch.backButton(), static_cast<QPushButton*>(batch.stopButton()),
                                static_cast<QPushButton*>(batch.startButton()),
                                static_cast<QPushButton*>(batch.nextButton()),
                                static_cast<QPushButton*>(batch.retryButton())}) {
        if (button->isVisible()) {
            shown << button->text();
        }
    }
    return shown;
}

TEST(BatchScreen, OffersTheButtonsOfEachPhase) {
    UiHarness ui;
    BatchScreen* batch = ui.window->batchScreen();
    begin(ui, FlasherMode::batch);
    ASSERT_EQ(ui.window->currentScreen(), batch);
    EXPECT_EQ(batch->header()->badgeText(), "BATCH");
    EXPECT_EQ(batch->header()->subtitle(), "BATCH — sequential flash");
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Start batch"}));
    EXPECT_FALSE(batch->startButton()->isEnabled());

    ui.platform.dialogs->openAnswers.push_back(ui.folder.write("unit.bin", patternImage(5)));
    ui.click(batch->chooseFirmwareButton());
    EXPECT_TRUE(batch->startButton()->isEnabled());
    ui.click(batch->backupPicker()->segment(1)); // Save to folder…
    EXPECT_EQ(ui.store->batchBackupChoice(), BatchBackupChoice::autoSave);
    EXPECT_TRUE(batch->chooseFolderButton()->isVisible());
    EXPECT_FALSE(batch->startButton()->isEnabled()); // no folder yet
    ui.platform.dialogs->folderAnswers.push_back(ui.folder.path());
    ui.click(batch->chooseFolderButton());
    ASSERT_TRUE(batch->startButton()->isEnabled());

    ui.click(batch->startButton());
    EXPECT_EQ(ui.store->batchPhase(), BatchPhase::waiting);
    EXPECT_EQ(batch->header()->subtitle(), "BATCH — unit 1");
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch"}));

    // Connect (first held job), then hold the backup, then the flash.
    ui.platform.background->holdNextJobs(2);
    ui.advance(1.2);
    ui.platform.background->releaseHeld();
    ui.settle();
    ASSERT_EQ(ui.store->batchPhase(), BatchPhase::backingUp);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome"}));
    ui.platform.background->holdNextJobs(1);
    ui.platform.background->releaseHeld();
    ui.settle();
    ASSERT_EQ(ui.store->batchPhase(), BatchPhase::flashing);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome"}));
    ui.platform.background->releaseHeld();
    ui.settle();
    ASSERT_EQ(ui.store->batchPhase(), BatchPhase::unitDone);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch", "Next unit"}));
    EXPECT_TRUE(std::filesystem::exists(ui.folder.path() / "hp15c-20260105-143209-001.bin"));

    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    QTest::keyClick(ui.window.get(), Qt::Key_Return); // Next unit
    ui.settle();
    EXPECT_EQ(ui.store->batchUnitNumber(), 2);
    EXPECT_EQ(batch->header()->subtitle(), "BATCH — unit 2");

    ui.bench->makeUnsupported();
    ui.advance(1.2);
    ASSERT_EQ(ui.store->batchPhase(), BatchPhase::error);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch", "Retry"}));
    EXPECT_TRUE(batch->errorText()->isVisible());
    EXPECT_TRUE(batch->errorText()->text().startsWith("Unsupported chip ATSAM4LC8C"));
    ui.click(batch->retryButton());
    EXPECT_EQ(ui.store->batchPhase(), BatchPhase::waiting);
    EXPECT_EQ(ui.store->batchUnitNumber(), 2);

    ui.click(batch->stopButton());
    EXPECT_EQ(ui.platform.app->quitCount, 1);
}

TEST(BatchScreen, ShowsARefusedFirmwareFileInTheSetup) {
    UiHarness ui;
    BatchScreen* batch = ui.window->batchScreen();
    begin(ui, FlasherMode::batch);
    ui.platform.dialogs->openAnswers.push_back(ui.folder.write("short.bin", Bytes(1000, 0x11)));
    ui.click(batch->chooseFirmwareButton());
    EXPECT_TRUE(batch->errorText()->isVisible());
    EXPECT_EQ(batch->errorText()->text(), QString::fromStdString(*ui.store->lastError()));
    EXPECT_FALSE(batch->startButton()->isEnabled());
    ui.click(batch->backButton());
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());
}

TEST(ProbeScreen, ShowsThePortAndTheConnectionLines) {
    UiHarness ui;
    ProbeScreen* probe = ui.window->probeScreen();
    ui.bench->listing->set({});
    begin(ui, FlasherMode::probe);
    ASSERT_EQ(ui.window->currentScreen(), probe);
    EXPECT_EQ(probe->header()->badgeText(), "PROBE");
    EXPECT_EQ(probe->header()->title(), "Pelwick");
    EXPECT_EQ(probe->header()->subtitle(), "Connection Probe — test cable detection only");
    ui.advance(1.2);
    EXPECT_FALSE(probe->portHeading()->isVisible());
    EXPECT_EQ(probe->statusBlock()->text(),
              "Status  No programming cable detected\nPort    —\nSAM-BA  —");

    ui.bench->listing->set({SerialPort{"/dev/cu.usbmodem14101"}});
    ui.advance(1.2);
    ASSERT_TRUE(probe->portHeading()->isVisible());
    EXPECT_EQ(probe->portHeading()->text(), "Programming port");
    EXPECT_EQ(probe->portLine()->text(), "cu.usbmodem14101 · USB CDC (SAM-BA)");
    EXPECT_EQ(probe->statusBlock()->text(),
              "Status  Connected: ATSAM4LC2C\nPort    /dev/cu.usbmodem14101\nSAM-BA  " +
                  QString::fromStdString(*ui.store->sambaVersion()));
    EXPECT_FALSE(probe->errorText()->isVisible());

    ui.bench->makeUnsupported();
    ui.advance(1.2);
    EXPECT_TRUE(probe->errorText()->isVisible());
    EXPECT_TRUE(probe->statusBlock()->text().startsWith("Status  Unsupported chip: ATSAM4LC8C"));

    ui.click(probe->quitButton());
    EXPECT_EQ(ui.quits, 1);
    ui.click(probe->backButton());
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());
}

TEST(WelcomeScreen, CardsFollowTheSelectedModeAndTheFinishedDemo) {
    UiHarness first;
    WelcomeScreen* welcome = first.window->welcomeScreen();
    EXPECT_TRUE(welcome->card(FlasherMode::demo)->isChecked());
    EXPECT_EQ(welcome->card(FlasherMode::demo)->badgeText(), "Recommended");
    EXPECT_EQ(welcome->card(FlasherMode::demo)->detail(),
              "Walk through the full wizard against a simulated calculator on this computer. No "
              "cable. Nothing is written to a real calculator.");
    first.click(welcome->card(FlasherMode::probe));
    EXPECT_EQ(first.store->selectedMode(), FlasherMode::probe);
    EXPECT_TRUE(welcome->card(FlasherMode::probe)->isChecked());
    EXPECT_FALSE(welcome->card(FlasherMode::demo)->isChecked());
    EXPECT_EQ(first.window->objectName(), "flasher-main");
    EXPECT_EQ(first.window->windowTitle(), "Pelwick");

    UiHarness later([](MemorySettings& settings) {
        settings.setBool(FlasherStore::demoModeCompletedKey, true);
        settings.setString(FlasherStore::flasherModeKey, "batch");
    });
    welcome = later.window->welcomeScreen();
    EXPECT_EQ(welcome->card(FlasherMode::demo)->badgeText(), "");
    EXPECT_TRUE(welcome->card(FlasherMode::batch)->isChecked());
}

} // namespace
} // namespace pelwick::testing
