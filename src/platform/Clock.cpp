#include "platform/Clock.h"

#include <thread>

namespace tapforge::platform {

void SystemClock::sleepMicros(int64_t micros) {
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

}  // namespace tapforge::platform
