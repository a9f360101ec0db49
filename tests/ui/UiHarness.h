#pragma once

#include "store/FlasherStore.h"
#include "support/TempDir.h"
#include "support/store/FakePlatform.h"
#include "support/store/SimulatedBench.h"
#include "ui/MainWindow.h"
#include "ui/drawings/CalculatorDisplay.h"
#include "ui/drawings/IllustrationWidget.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/widgets/Badge.h"
#include "ui/widgets/ChipLine.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/StepRow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace pelwick::testing {

/// The window on a store that runs on the fake platform in virtual time. The real cable is a
/// simulated calculator behind a port listing the test controls; DEMO uses the store's own
/// simulator. Quitting is counted, not done.
struct UiHarness {
    UiHarness() {
        store = FlasherStore::create(
            platform.storePlatform([bench = bench] { return bench->flasher(); }));
        window = std::make_unique<MainWindow>(store, [this] { ++quits; });
        window->show();
        settle();
    }

    ~UiHarness() {
        window.reset();
        platform.settle();
        store.reset();
        platform.background->waitIdle();
    }

    /// Runs everything due now, then lets the window catch up.
    void settle() {
        platform.settle();
        catchUp();
    }

    /// Moves virtual time on (the store's monitoring passes and time-outs).
    void advance(double seconds) {
        platform.advance(seconds);
        catchUp();
    }

    void catchUp() {
        QCoreApplication::processEvents();
        // Closed dialogs go now, not when a top-level event loop would run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    /// Clicks a button the way a user does; it must be on screen and enabled.
    void click(QAbstractButton* button) {
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible()) << button->text().toStdString();
        ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        settle();
    }

    /// Begins a session from the welcome screen by clicking its card and Continue.
    void begin(FlasherMode mode) {
        click(window->welcomeScreen()->card(mode));
        click(window->welcomeScreen()->returnButton());
    }

    /// The open confirmation dialog, if any.
    QMessageBox* confirmation() const { return window->findChild<QMessageBox*>(); }

    /// Presses a key in the window, as the user does.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window.get(), Qt::Key(key), modifiers);
        settle();
    }

    /// The confirmation's button with this text; none without a confirmation.
    static QAbstractButton* button(QMessageBox* box, const QString& text) {
        const QList<QAbstractButton*> buttons = box ? box->buttons() : QList<QAbstractButton*>();
        const auto found = std::ranges::find(buttons, text, &QAbstractButton::text);
        return found == buttons.end() ? nullptr : *found;
    }

    FakePlatform platform;
    std::shared_ptr<SimulatedBench> bench = std::make_shared<SimulatedBench>();
    std::shared_ptr<FlasherStore> store;
    std::unique_ptr<MainWindow> window;
    int quits = 0;
    TempDir folder;
};

/// Every custom-drawn widget on screen under `root` tells screen readers what it is: a role, a
/// name and a description, read through Qt's accessibility interfaces.
inline void expectDescribedForScreenReaders(const QWidget& root) {
    int checked = 0;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        const bool customDrawn =
            dynamic_cast<StepRow*>(widget) || dynamic_cast<Badge*>(widget) ||
            dynamic_cast<CalculatorDisplay*>(widget) || dynamic_cast<IllustrationWidget*>(widget) ||
            dynamic_cast<ChipLine*>(widget) || dynamic_cast<NoticeBox*>(widget) ||
            dynamic_cast<ConnectionStatusBlock*>(widget) || dynamic_cast<FlashPagePreview*>(widget);
        if (!customDrawn || !widget->isVisible()) {
            continue;
        }
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        const std::string kind = typeid(*widget).name();
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << kind;
        EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty()) << kind;
        EXPECT_NE(accessible->role(), QAccessible::Client) << kind;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace pelwick::testing
