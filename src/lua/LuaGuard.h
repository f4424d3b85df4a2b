// The run-time guard every Lua run is under: a process-wide interrupt flag (the user pressed
// stop) and a process-wide deadline (the Lua step's time limit), enforced by a hook that is set
// on the running Lua code when either comes due, and checked by every host call.
//
// The flag is written by the main thread (stop) and read on the playback worker, so both
// values are relaxed atomics: the only promise is that a store becomes visible to the next
// check, which is all the guard needs. At most one Lua run is in progress in the process.
//
// Times are milliseconds of the guard clock: the platform clock given to setLuaGuardClock
// (the simulated desktop's virtual clock in tests and dry runs), or the steady system clock.
// This header carries no Lua type, so the runner and the CLI can use it directly.
#pragma once

#include <cstdint>
#include <atomic>
#include <memory>

namespace tapforge::platform {
class Clock;
}

extern "C" {

// Milliseconds of the guard clock (monotonic, arbitrary start).
int64_t tfg_now_ms(void);
// 1 requests the running Lua code to stop; 0 clears the request.
void tfg_request_interrupt(int32_t flag);
int32_t tfg_interrupt_requested(void);
// Absolute deadline in guard-clock milliseconds; a value below 1 means none. Any call also
// forgets that the previous deadline fired (see tfg_hook).
void tfg_set_deadline_ms(int64_t ms);
int64_t tfg_deadline_ms(void);
// Whether a deadline is set and the guard clock has reached it.
bool tfg_deadline_reached(void);

}  // extern "C"

namespace tapforge {

// Sets the clock behind tfg_now_ms; nullptr restores the steady system clock. The clock is
// kept alive until it is replaced. Callable from any thread.
void setLuaGuardClock(std::shared_ptr<platform::Clock> clock);
std::shared_ptr<platform::Clock> luaGuardClock();

// Waits `micros` microseconds on `clock`, or less when a stop is requested meanwhile (at once if
// one already is). False when it ended because of a stop. For the host calls that block, so that
// a stop does not wait for the end of their time slice.
bool waitUnlessLuaInterrupted(platform::Clock& clock, int64_t micros);

// Set while a stop is requested (tfg_request_interrupt): for host computations that poll a
// flag, such as an image search.
const std::atomic<bool>& luaInterruptFlag();

}  // namespace tapforge
