#include "vision/ScreenCoordinates.h"

namespace tapforge::vision {

double ScreenCoordinates::primaryHeight(const std::vector<platform::ScreenInfo>& screens) {
    for (const auto& s : screens)
        if (s.frame.x == 0 && s.frame.y == 0) return s.frame.height;
    if (!screens.empty()) return screens.front().frame.height;
    return 0;
}

platform::Rect ScreenCoordinates::unionFrame(const std::vector<platform::ScreenInfo>& screens) {
    platform::Rect u{0, 0, 0, 0};
    for (const auto& s : screens) u = u.united(s.frame);
    return u;
}

}  // namespace tapforge::vision
