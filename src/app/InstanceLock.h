// One Tapforge application per user at a time: two would fight over the autosave and both
// react to the global hotkeys. The lock is a file in the application folder, held for the life
// of the process; a lock left by a crashed process is taken over.
// Main thread.
#pragma once

#include <memory>
#include <string>

class QLockFile;

namespace tapforge::app {

class InstanceLock {
public:
    // What a second start tells the user before it exits.
    static constexpr const char* kAlreadyRunningMessage = "Tapforge 已经在运行，同一用户只能打开一个。请切换到已打开的 Tapforge 窗口。";

    // The lock in `appFolder` (created when missing); nothing when a running process holds it.
    static std::unique_ptr<InstanceLock> acquire(const std::string& appFolder);
    ~InstanceLock();

private:
    explicit InstanceLock(std::unique_ptr<QLockFile> lock);
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace tapforge::app
