// Analysis ahead: recordings the operator is likely to open next are analysed into the envelope cache on
// a thread of the lowest scheduling priority, one at a time.
#pragma once

#include "uEnvelope.h"
#include "uEnvelopeCache.h"

#include <QString>
#include <QStringList>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// One worker thread for the object's lifetime, at SCHED_IDLE (nice 19 where that is refused), so that it
// only takes time no other thread wants. Its memory is one pass at a time: a decoder and one envelope.
// All methods are called from one thread (the user-interface thread) and return at once.
class TAnalyseAhead {
public:
    explicit TAnalyseAhead(std::shared_ptr<const TEnvelopeCache> ACache);
    ~TAnalyseAhead();  // cancels the pass in hand and ends the thread
    TAnalyseAhead(const TAnalyseAhead &) = delete;
    TAnalyseAhead &operator=(const TAnalyseAhead &) = delete;

    // Replaces the queue: the paths are analysed in this order, each unless the cache already holds it.
    // The pass in hand is cancelled unless its path is the new queue's first.
    void Queue(const QStringList &APaths);
    // A paused worker stops between two reads and starts no new file until resumed.
    void SetPaused(bool AOn);
    bool Idle() const;      // nothing queued and no pass in hand
    int Analysed() const;   // files analysed and stored so far

private:
    void Run();

    std::shared_ptr<const TEnvelopeCache> FCache;
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    QStringList FQueue;
    QString FCurrent;                        // the path in hand, empty when none
    std::shared_ptr<TEnvelopeWatch> FWatch;  // of the pass in hand
    bool FPaused = false;
    bool FQuit = false;
    int FAnalysed = 0;
    std::thread FThread;
};
