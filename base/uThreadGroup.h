// A group of threads that are all joined on every way out of their owner's scope, exceptions included.
#pragma once

#include <thread>
#include <utility>
#include <vector>

// Joins every thread it started, in Join or at the latest when destroyed (also while an exception unwinds),
// so that no thread outlives the data it borrows. One owner, one thread.
class TThreadGroup {
public:
    TThreadGroup() = default;
    ~TThreadGroup() { Join(); }
    TThreadGroup(const TThreadGroup &) = delete;
    TThreadGroup &operator=(const TThreadGroup &) = delete;

    // Runs AFunc on a new thread of the group.
    template <class F>
    void Start(F &&AFunc) { FThreads.emplace_back(std::forward<F>(AFunc)); }
    // Waits for every thread started so far.
    void Join()
    {
        for (std::thread &t : FThreads)
            if (t.joinable())
                t.join();
    }

private:
    std::vector<std::thread> FThreads;
};
