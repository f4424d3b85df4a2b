#include "ui/OverlayServices.h"

#include "ui/ColorPickController.h"
#include "ui/OverlayContext.h"
#include "ui/PointPickController.h"
#include "ui/RecordingHUD.h"
#include "ui/RegionSelectorController.h"

namespace tapforge::ui {

namespace {

class OverlayPickers final : public app::Pickers {
public:
    explicit OverlayPickers(const platform::Desktop& desktop) : context_(desktop.screens, desktop.grab) {}

    void selectRegion(std::function<void(std::optional<app::RegionPick>)> completion) override {
        region_.start(std::move(completion));
    }
    void pickPoint(std::function<void(std::optional<platform::Point>)> completion) override {
        point_.start(std::move(completion));
    }
    void pickColors(std::vector<ColorPoint> existing, std::function<void(const ColorPoint&)> onPick,
                    std::function<void()> onFinish) override {
        color_.start(std::move(existing), std::move(onPick), std::move(onFinish));
    }
    bool anyPickerOpen() const override { return context_.anyOpen(); }

private:
    OverlayContext context_;   // outlives the controllers' windows
    RegionSelectorController region_{context_};
    PointPickController point_{context_};
    ColorPickController color_{context_};
};

}  // namespace

OverlayServices makeOverlayServices(const platform::Desktop& desktop) {
    return {std::make_shared<OverlayPickers>(desktop), std::make_shared<RecordingHUD>()};
}

}  // namespace tapforge::ui
