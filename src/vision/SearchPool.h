// The threads that share out the bands of one template search: one pool for the process,
// sized to the cores and reused by every search (a search never starts threads of its own).
// One search uses it at a time; a second search that finds it busy runs on its own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tapforge::vision {

class SearchPool {
public:
    static SearchPool& shared();

    // Calls task(0) .. task(count - 1), each once, on the pool's threads and the caller's, and
    // returns when all are done. Tasks must not throw.
    void run(int count, const std::function<void(int)>& task);

    // At most `threads` threads (the caller's included) work on one run; 1 runs everything on
    // the caller's thread. Defaults to the number of cores. For benchmarks and tests.
    void setMaxThreads(int threads);
    int maxThreads() const;

    ~SearchPool();

private:
    SearchPool();
    void work();
    void drain(std::unique_lock<std::mutex>& lock);

    std::mutex runLock_;                   // one run at a time
    mutable std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(int)>* task_ = nullptr;
    int count_ = 0, next_ = 0, finished_ = 0, helpers_ = 0;
    int maxThreads_ = 1;
    uint64_t generation_ = 0;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tapforge::vision
