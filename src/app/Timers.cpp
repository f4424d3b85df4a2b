#include "app/Timers.h"

#include <unordered_map>

#include <QPointer>
#include <QTimer>

namespace tapforge::app {

namespace {

class QtTimers final : public Timers {
public:
    TaskId runAfter(int64_t delayMs, std::function<void()> task) override {
        const TaskId id = ++lastId_;
        auto* timer = new QTimer;
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, [this, id, task = std::move(task)] {
            release(id);
            task();
        });
        pending_.emplace(id, timer);
        timer->start(static_cast<int>(std::max<int64_t>(0, delayMs)));
        return id;
    }

    void cancel(TaskId id) override { release(id); }

    ~QtTimers() override {
        for (auto& [id, timer] : pending_) delete timer;
    }

private:
    void release(TaskId id) {
        const auto found = pending_.find(id);
        if (found == pending_.end()) return;
        found->second->stop();
        // The timer may be the sender of the signal being handled.
        found->second->deleteLater();
        pending_.erase(found);
    }

    TaskId lastId_ = 0;
    std::unordered_map<TaskId, QTimer*> pending_;
};

}  // namespace

std::shared_ptr<Timers> makeQtTimers() { return std::make_shared<QtTimers>(); }

Timers::TaskId VirtualTimers::runAfter(int64_t delayMs, std::function<void()> task) {
    tasks_.emplace(std::pair{now_ + delayMs, ++lastId_}, std::move(task));
    return lastId_;
}

void VirtualTimers::cancel(TaskId id) {
    std::erase_if(tasks_, [id](const auto& entry) { return entry.first.second == id; });
}

void VirtualTimers::advance(int64_t ms) {
    const int64_t end = now_ + ms;
    while (!tasks_.empty() && tasks_.begin()->first.first <= end) {
        auto node = tasks_.extract(tasks_.begin());
        now_ = node.key().first;
        node.mapped()();
    }
    now_ = end;
}

}  // namespace tapforge::app
