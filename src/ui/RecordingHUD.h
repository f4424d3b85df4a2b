// The floating recording panel (460 x 56 points): a red dot, "录制中", the step count, the
// elapsed time (refreshed every 0.5 s), "含鼠标轨迹" when mouse movement is recorded, and a
// stop button. It never takes the keyboard focus from the application being recorded: no
// window manager decoration, no activation on show or click. Placed centred 24 points below
// the top of the primary monitor's available area; movable by dragging its background.
// Main thread only; needs a QApplication.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/UiServices.h"
#include "ui/RecordingHUDModel.h"

namespace tapforge::ui {

class RecordingHUDRow;

class RecordingHUD final : public app::RecordingPanel {
public:
    RecordingHUD();
    ~RecordingHUD() override;

    void show(const app::RecordingPanelState& state, std::function<void()> onStop) override;
    void update(const app::RecordingPanelState& state) override;
    void hide() override;
    std::optional<platform::Rect> frameInGlobalPoints() const override;

    RecordingHUDModel& model() { return model_; }

private:
    void tick();

    RecordingHUDModel model_;
    RecordingHUDRow* window_ = nullptr;
    QTimer timer_;
    QElapsedTimer startDate_;
    std::function<void()> stopHandler_;
};

}  // namespace tapforge::ui
