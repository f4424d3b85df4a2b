// An event sink that remembers which keys and buttons it pressed and has not released, so that
// the command line can release them itself when the run cannot: on a second SIGINT, when a
// stopped run does not end, or through a fresh connection when the X connection was lost.
// Posting (the runner's worker) and releasing (any thread) share one lock, held across one
// posted event; once closed the sink refuses every event, so nothing is pressed after the release.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/EventSink.h"

namespace tapforge::cli {

class HeldInputSink final : public platform::EventSink {
public:
    explicit HeldInputSink(std::shared_ptr<platform::EventSink> inner) : inner_(std::move(inner)) {}

    bool postButton(platform::PointerButton button, platform::Press press, platform::Point at,
                    platform::EventFlags flags, int64_t clickState) override;
    bool postMove(platform::Point at) override;
    bool postScroll(int32_t lines, platform::Point at) override;
    bool postKey(uint16_t keyCode, platform::Press press, platform::EventFlags flags) override;
    std::optional<platform::Point> pointerLocation() override { return inner_->pointerLocation(); }
    bool confirmPosted() override { return inner_->confirmPosted(); }

    // Refuses every later event and releases what is held, newest first, through `through`
    // (the wrapped sink when null). True once that sink confirms it has taken in the releases
    // and everything posted before them, so that the process may end at once.
    bool releaseAllAndClose(platform::EventSink* through = nullptr);

private:
    struct Held {
        bool isKey;
        uint16_t keyCode;
        platform::PointerButton button;
        platform::Point at;
    };
    void note(Held held, platform::Press press);

    std::shared_ptr<platform::EventSink> inner_;
    std::mutex mutex_;
    std::vector<Held> held_;
    bool closed_ = false;
};

}  // namespace tapforge::cli
