#pragma once

#include "store/Platform.h"

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

namespace pelwick {

class FlasherStore;

/// The session a piece of device work started in. The store ends it when the user leaves that
/// session (the welcome screen, a new session, the simulator switch, Back to the cable step,
/// stopping a batch); work checks it, from any thread, before each step it would take next.
class WorkSession {
public:
    void end() { ended_ = true; }
    bool ended() const { return ended_; }

private:
    std::atomic<bool> ended_{false};
};

/// How device work reports back: an action posted to the main thread runs only while the store
/// still exists and the session the work started in has not ended. Work of an ended session thus
/// changes nothing the user sees.
struct SessionPost {
    std::shared_ptr<MainQueue> queue;
    std::weak_ptr<FlasherStore> store;
    std::shared_ptr<WorkSession> session;

    bool ended() const { return session->ended(); }

    void operator()(std::function<void(FlasherStore&)> action) const {
        queue->post([store = store, session = session, action = std::move(action)] {
            if (auto current = store.lock(); current && !session->ended()) {
                action(*current);
            }
        });
    }
};

} // namespace pelwick
