#pragma once

#include "store/FlasherStore.h"
#include "support/TempDir.h"
#include "support/store/FakePlatform.h"
#include "ui/MainWindow.h"
#include "uisupport/CalculatorBench.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace pelwick::testing {

/// The window on a store that runs on the fake platform in virtual time. The real cable is a
/// simulated calculator behind a port listing the test controls; DEMO uses the store's own
/// simulator. Quitting is counted, not done.
struct UiHarness {
    explicit UiHarness(const std::function<void(MemorySettings&)>& settingsSetup = {}) {
        if (settingsSetup) {
            settingsSetup(*platform.settings);
        }
        store = FlasherStore::create(
            platform.storePlatform([bench = bench] { return bench->flasher(); }));
        window = std::make_unique<MainWindow>(store, [this] { ++quits; });
        window->resize(920, 760);
        window->show();
        QApplication::setActiveWindow(window.get());
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

    /// The open confirmation dialog, if any.
    QMessageBox* confirmation() const { return window->findChild<QMessageBox*>(); }

    /// The confirmation's button with this text.
    static QAbstractButton* button(QMessageBox& box, const QString& text) {
        for (QAbstractButton* candidate : box.buttons()) {
            if (candidate->text() == text) {
                return candidate;
            }
        }
        return nullptr;
    }

    FakePlatform platform;
    std::shared_ptr<CalculatorBench> bench = std::make_shared<CalculatorBench>();
    std::shared_ptr<FlasherStore> store;
    std::unique_ptr<MainWindow> window;
    int quits = 0;
    TempDir folder;
};

} // namespace pelwick::testing
