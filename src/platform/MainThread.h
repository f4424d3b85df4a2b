// How a service hands work to the main thread. The application posts into its event loop;
// the CLI runs a small loop of its own; tests may run the function at once.
#pragma once

#include <functional>

namespace tapforge::platform {

using MainThreadPoster = std::function<void(std::function<void()>)>;

}  // namespace tapforge::platform
