#include "app/InstanceLock.h"

#include <QDir>
#include <QLockFile>

namespace tapforge::app {

InstanceLock::InstanceLock(std::unique_ptr<QLockFile> lock) : lock_(std::move(lock)) {}

InstanceLock::~InstanceLock() = default;

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& appFolder) {
    const QString folder = QString::fromStdString(appFolder);
    QDir().mkpath(folder);
    auto lock = std::make_unique<QLockFile>(folder + "/tapforge.lock");
    // Never stale by age: the application runs for days. A dead owner's lock is still taken
    // over, as QLockFile checks whether the recorded process lives.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) return nullptr;
    return std::unique_ptr<InstanceLock>(new InstanceLock(std::move(lock)));
}

}  // namespace tapforge::app
