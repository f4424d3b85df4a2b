// The picking overlays and the recording panel of the Qt user interface, for the application's
// main to hand to the controller (UiServices::pickers and ::recordingPanel). Call after the
// QApplication exists; everything then runs on the main thread.
#pragma once

#include <memory>

#include "app/UiServices.h"
#include "platform/Desktop.h"

namespace tapforge::ui {

struct OverlayServices {
    std::shared_ptr<app::Pickers> pickers;
    std::shared_ptr<app::RecordingPanel> recordingPanel;
};

// The overlays grab the desktop through `desktop.grab` (with `desktop.screens` for its bounds).
OverlayServices makeOverlayServices(const platform::Desktop& desktop);

}  // namespace tapforge::ui
