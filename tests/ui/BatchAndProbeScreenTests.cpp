#include "UiHarness.h"

#include "ui/drawings/ProgrammingModeIllustration.h"
#include "ui/screens/BatchScreen.h"
#include "ui/screens/ProbeScreen.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/Badge.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FastTransferOption.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/ToneLabel.h"

#include <QPushButton>
#include <QTreeWidget>

namespace pelwick::testing {
namespace {

void begin(UiHarness& ui, FlasherMode mode) {
    ui.click(ui.window->welcomeScreen()->card(mode));
    ui.click(ui.window->welcomeScreen()->returnButton());
}

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

/// The texts of one row of the unit list.
QStringList unitRow(const BatchScreen& batch, int row) {
    QStringList texts;
    const QTreeWidgetItem* item = batch.unitList()->topLevelItem(row);
    for (int column = 0; item && column < item->columnCount(); ++column) {
        texts << item->text(column);
    }
    return texts;
}

TEST(BatchScreen, OffersTheButtonsOfEachPhaseAndListsTheSessionsUnits) {
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
    EXPECT_TRUE(batch->drawing()->isVisible()); // ERASE + RESET while waiting
    EXPECT_EQ(batch->doneCount()->text(), "0 done");
    expectDescribedForScreenReaders(*batch);

    // Connect (first held job), then hold the backup, then the flash.
    ui.platform.background->holdNextJobs(2);
    ui.advance(1.2);
    ui.platform.background->releaseHeld();
    ui.settle();
    ASSERT_EQ(ui.store->batchPhase(), BatchPhase::backingUp);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome"}));
    EXPECT_FALSE(batch->drawing()->isVisible());
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
    EXPECT_EQ(batch->doneCount()->text(), "1 done");
    EXPECT_EQ(batch->failedCount()->text(), "0 failed");
    const QStringList done = unitRow(*batch, 0);
    ASSERT_EQ(done.size(), 5);
    EXPECT_EQ(done.mid(0, 4),
              QStringList({"1", "/dev/cu.usbmodem14101", "hp15c-20260105-143209-001.bin",
                           "Flashed and verified"}));
    EXPECT_FALSE(done[4].isEmpty()); // the time

    ASSERT_TRUE(QTest::qWaitForWindowActive(ui.window.get()));
    ui.press(Qt::Key_Return); // Next unit
    EXPECT_EQ(ui.store->batchUnitNumber(), 2);
    EXPECT_EQ(batch->header()->subtitle(), "BATCH — unit 2");

    ui.bench->makeUnsupported();
    ui.advance(1.2);
    ASSERT_EQ(ui.store->batchPhase(), BatchPhase::error);
    EXPECT_EQ(visibleButtons(*batch), QStringList({"Back to welcome", "Stop batch", "Retry"}));
    ASSERT_TRUE(batch->errorBox()->isVisible());
    EXPECT_EQ(batch->errorBox()->label(), "Batch step failed. Fix the issue, then retry or stop.");
    EXPECT_TRUE(batch->errorBox()->message().startsWith("Unsupported chip ATSAM4LC8C"));
    EXPECT_EQ(batch->failedCount()->text(), "1 failed");
    EXPECT_EQ(unitRow(*batch, 0).mid(0, 4),
              QStringList({"2", "/dev/cu.usbmodem14101", "—", "Failed"}));
    ui.click(batch->retryButton());
    EXPECT_EQ(ui.store->batchPhase(), BatchPhase::waiting);
    EXPECT_EQ(ui.store->batchUnitNumber(), 2);

    // Unit 2 is under way: Stop batch asks first.
    ui.click(batch->stopButton());
    ASSERT_NE(batch->confirmation(), nullptr);
    ui.click(UiHarness::button(*batch->confirmation(), "Cancel"));
    EXPECT_EQ(ui.platform.app->quitCount, 0);
    ui.click(batch->stopButton());
    ui.click(UiHarness::button(*batch->confirmation(), "Stop batch"));
    EXPECT_EQ(ui.platform.app->quitCount, 1);
}

TEST(BatchScreen, SetupShowsTheCableAndARefusedFirmwareFile) {
    UiHarness ui;
    BatchScreen* batch = ui.window->batchScreen();
    begin(ui, FlasherMode::batch);
    ui.advance(1.2);
    EXPECT_TRUE(batch->statusBlock()->text().startsWith("Status  Cable detected."))
        << batch->statusBlock()->text().toStdString();
    ui.bench->listing->set({});
    ui.advance(1.2);
    EXPECT_TRUE(batch->statusBlock()->text().startsWith("Status  Waiting for programming cable"));

    // The fast-transfer choice is the one FLASH shows, off on first start.
    EXPECT_FALSE(batch->fastTransfer()->isChecked());
    ui.click(batch->fastTransfer());
    EXPECT_TRUE(ui.store->fastTransfer());

    ui.platform.dialogs->openAnswers.push_back(ui.folder.write("short.bin", Bytes(1000, 0x11)));
    ui.click(batch->chooseFirmwareButton());
    ASSERT_TRUE(batch->errorBox()->isVisible());
    EXPECT_EQ(batch->errorBox()->message(), QString::fromStdString(*ui.store->lastError()));
    EXPECT_FALSE(batch->startButton()->isEnabled());
    ui.click(batch->backButton());
    EXPECT_EQ(ui.window->currentScreen(), ui.window->welcomeScreen());
}

TEST(BatchLog, FindsTheNewestBackupOfAUnitAmongTheNumberedNames) {
    TempDir folder;
    const std::string stamp = "20260105-143209";
    EXPECT_EQ(BatchLog::backupFileOf(folder.path(), stamp, 3), std::nullopt);
    for (const char* name :
         {"hp15c-20260105-143209-003.bin", "hp15c-20260105-143209-003-2.bin",
          "hp15c-20260105-143209-003-10.bin", "hp15c-20260105-143209-0031.bin",
          "hp15c-20260105-143209-003-x.bin", "hp15c-20260105-143210-003-11.bin"}) {
        folder.write(name, {});
    }
    EXPECT_EQ(BatchLog::backupFileOf(folder.path(), stamp, 3), "hp15c-20260105-143209-003-10.bin");
    EXPECT_EQ(BatchLog::backupFileOf(folder.path(), stamp, 31), std::nullopt);
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
    EXPECT_TRUE(probe->drawing()->isVisible());
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
    EXPECT_FALSE(probe->errorBox()->isVisible());
    EXPECT_FALSE(probe->drawing()->isVisible());
    expectDescribedForScreenReaders(*probe);

    ui.bench->makeUnsupported();
    ui.advance(1.2);
    EXPECT_TRUE(probe->errorBox()->isVisible());
    EXPECT_EQ(probe->errorBox()->label(), "Unsupported chip");
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
