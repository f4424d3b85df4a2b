// Opening the real X display for the commands that ask it one thing and exit.
#pragma once

#include <optional>

#include "platform/Desktop.h"

namespace tapforge::cli {

// Opens the X desktop with a poster that runs each task at once: nothing here runs on a main
// thread, the calls made answer synchronously. On failure, or in a build without X11, prints why
// to stderr and returns nothing.
std::optional<platform::Desktop> openSynchronousX11Desktop();

}  // namespace tapforge::cli
