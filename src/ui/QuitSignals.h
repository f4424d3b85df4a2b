// SIGTERM (a session logout), SIGINT and SIGHUP end the application the way closing its window
// does: the handler only writes a byte to a pipe; the event loop reads it and calls `quit`.
// Install once, on the main thread, after the QApplication exists.
#pragma once

#include <functional>

namespace tapforge::ui {

void installQuitSignals(std::function<void()> quit);

}  // namespace tapforge::ui
