#pragma once

#include "store/FlasherStore.h"
#include "support/store/FakePlatform.h"

#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// A store on the fake platform, with its change notifications counted (and checked to come on
/// the main thread) and its status texts recorded as they change.
struct StoreHarness {
    explicit StoreHarness(std::function<Flasher()> realCable = {}) {
        // File-name dates are local time; the tests fix the zone.
        setenv("TZ", "UTC", 1);
        tzset();
        store = realCable ? FlasherStore::create(platform.storePlatform(std::move(realCable)))
                          : FlasherStore::create(platform.storePlatform());
        store->setOnChange([this] {
            ++notifications;
            if (!platform.queue->isMainThread()) {
                ++offMainNotifications;
            }
            if (statuses.empty() || statuses.back() != store->status()) {
                statuses.push_back(store->status());
                statusTimes.push_back(platform.queue->elapsed());
            }
            if (observe) {
                observe();
            }
        });
    }

    ~StoreHarness() {
        // The test's observer may point at locals that are already gone.
        observe = nullptr;
        store->stop();
        platform.settle();
        store.reset();
        platform.background->waitIdle();
    }

    /// Chooses `mode` on the welcome screen and begins it.
    void begin(FlasherMode mode) {
        store->setSelectedMode(mode);
        store->beginChosenSession();
        platform.settle();
    }

    /// Index of the first recorded status equal to `text` at or after `from`; none if absent.
    std::optional<std::size_t> statusIndex(const std::string& text, std::size_t from = 0) const {
        for (std::size_t index = from; index < statuses.size(); ++index) {
            if (statuses[index] == text) {
                return index;
            }
        }
        return std::nullopt;
    }

    FakePlatform platform;
    std::shared_ptr<FlasherStore> store;
    int notifications = 0;
    int offMainNotifications = 0;
    std::vector<std::string> statuses;
    std::vector<double> statusTimes;
    std::function<void()> observe;
};

} // namespace pelwick::testing
