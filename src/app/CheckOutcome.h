// The outcome of the last test or run of a colour or image check, kept per step so that the
// step's editor can show why a check failed: the best score and where it was found on a small
// copy of the searched screen area, or each colour point's actual colour against the expected.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "model/Uuid.h"
#include "platform/Geometry.h"
#include "platform/ScreenGrab.h"
#include "vision/ColorMatcher.h"
#include "vision/ImageMatcher.h"
#include "vision/ScreenSnapshot.h"

namespace tapforge::app {

struct CheckOutcome {
    enum class Kind { color, image };
    Kind kind = Kind::color;
    bool passed = false;
    uint64_t serial = 0;   // set by CheckOutcomes::record, increasing: a newer outcome differs

    // Image checks: the best score and where it lies (absent when nothing was found at all).
    double score = 0;
    std::optional<platform::Rect> matchRect;   // global points
    // A reduced copy of the searched area (at most kThumbnailPixels on its longer side) and
    // the global rectangle it shows. Empty when the capture failed.
    platform::RgbaImage thumbnail;
    platform::Rect thumbnailBounds;

    // Colour checks: one per enabled point, in order (none when the capture failed).
    std::vector<vision::ColorCheckDetail> details;

    static constexpr int kThumbnailPixels = 320;

    static CheckOutcome color(const vision::ColorCheckResult& result);
    // `searchPixelRect`: the searched part of the snapshot in its pixels, as the matcher got it
    // (absent: the whole snapshot).
    static CheckOutcome image(const vision::ImageMatchResult& result, const vision::ScreenSnapshot& snapshot,
                              std::optional<platform::Rect> searchPixelRect);
};

// The last outcome of every step that was tested or run.
class CheckOutcomes {
public:
    void record(const Uuid& stepID, CheckOutcome outcome) {
        outcome.serial = ++serial_;
        outcomes_[stepID] = std::move(outcome);
    }
    const CheckOutcome* find(const Uuid& stepID) const {
        const auto it = outcomes_.find(stepID);
        return it == outcomes_.end() ? nullptr : &it->second;
    }

private:
    std::unordered_map<Uuid, CheckOutcome> outcomes_;
    uint64_t serial_ = 0;
};

}  // namespace tapforge::app
