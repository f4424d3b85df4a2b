#include "vision/SearchPool.h"

#include <algorithm>

namespace tapforge::vision {

SearchPool& SearchPool::shared() {
    static SearchPool pool;
    return pool;
}

SearchPool::SearchPool() {
    const int cores = static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
    maxThreads_ = cores;
    for (int k = 1; k < cores; ++k) threads_.emplace_back([this] { work(); });
}

SearchPool::~SearchPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void SearchPool::setMaxThreads(int threads) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxThreads_ = std::clamp(threads, 1, static_cast<int>(threads_.size()) + 1);
}

int SearchPool::maxThreads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxThreads_;
}

// Takes tasks until none is left; called with the lock held, returns with it held.
void SearchPool::drain(std::unique_lock<std::mutex>& lock) {
    while (next_ < count_) {
        const int index = next_++;
        const std::function<void(int)>* task = task_;
        lock.unlock();
        (*task)(index);
        lock.lock();
        if (++finished_ == count_) done_.notify_all();
    }
}

void SearchPool::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t seen = 0;
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || (generation_ != seen && helpers_ > 0); });
        if (quit_) return;
        seen = generation_;
        --helpers_;
        drain(lock);
    }
}

void SearchPool::run(int count, const std::function<void(int)>& task) {
    if (count <= 0) return;
    std::unique_lock<std::mutex> busy(runLock_, std::try_to_lock);
    const int threads = maxThreads();
    if (!busy.owns_lock() || threads <= 1 || count == 1) {
        for (int k = 0; k < count; ++k) task(k);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    task_ = &task;
    count_ = count;
    next_ = finished_ = 0;
    helpers_ = std::min(threads - 1, count - 1);
    ++generation_;
    lock.unlock();
    wake_.notify_all();
    lock.lock();
    drain(lock);
    done_.wait(lock, [&] { return finished_ == count_; });
    // Helpers that wake late find no task left and no helper slot: nothing refers to `task`.
    helpers_ = 0;
    task_ = nullptr;
    count_ = 0;
    next_ = 0;
}

}  // namespace tapforge::vision
