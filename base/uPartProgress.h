// Work done by the parts of a pass that runs on several threads, for the thread that reports it.
#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>

// Bytes done by all parts together, and the wake-up of the reporting thread when that changes. Any thread
// may call Add and PartFinished; one thread waits in WaitBeyond.
class TPartProgress {
public:
    void Add(qint64 ABytes)
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FDone += ABytes;
        }
        FChanged.notify_one();
    }
    void PartFinished()
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            ++FFinished;
        }
        FChanged.notify_one();
    }
    // Waits until more bytes are done than ASeen or AParts parts have finished; returns the bytes done and
    // sets AAllFinished when all AParts have finished.
    qint64 WaitBeyond(qint64 ASeen, int AParts, bool &AAllFinished)
    {
        std::unique_lock<std::mutex> lock(FMutex);
        FChanged.wait(lock, [&] { return FDone > ASeen || FFinished >= AParts; });
        AAllFinished = FFinished >= AParts;
        return FDone;
    }
    qint64 Done()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return FDone;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    qint64 FDone = 0;
    int FFinished = 0;
};
