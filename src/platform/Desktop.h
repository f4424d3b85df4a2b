// One desktop's services bundled, as the runner, the recorder and the CLI receive them.
// A backend (sim or x11) builds one; the pieces are shared so each service keeps what it uses.
#pragma once

#include <memory>

#include "platform/Clock.h"
#include "platform/EventSink.h"
#include "platform/EventTap.h"
#include "platform/KeyDownMonitor.h"
#include "platform/Permissions.h"
#include "platform/ScreenGrab.h"
#include "platform/Screens.h"

namespace tapforge::platform {

struct Desktop {
    std::shared_ptr<Clock> clock;
    std::shared_ptr<EventSink> events;
    std::shared_ptr<Screens> screens;
    std::shared_ptr<ScreenGrab> grab;
    std::shared_ptr<EventTap> tap;
    std::shared_ptr<KeyDownMonitor> keyMonitor;
    std::shared_ptr<Permissions> permissions;
};

}  // namespace tapforge::platform
