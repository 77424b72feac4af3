// Analysis ahead into the envelope cache on a thread of the lowest scheduling priority.
#include "uAnalyseAhead.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The calling thread (and the decoder threads it starts later, which inherit it) gets only the time
// that no other thread wants.
void LowestPriority()
{
    sched_param param{};
    param.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

} // namespace

TAnalyseAhead::TAnalyseAhead(std::shared_ptr<const TEnvelopeCache> ACache) : FCache(std::move(ACache))
{
    FThread = std::thread([this] { Run(); });
}

TAnalyseAhead::~TAnalyseAhead()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FQuit = true;
        FQueue.clear();
        if (FWatch)
            FWatch->Cancel();
    }
    FWake.notify_all();
    FThread.join();
}

void TAnalyseAhead::Queue(const QStringList &APaths)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FQueue = APaths;
        if (!FCurrent.isEmpty() && FWatch) {
            if (!FQueue.isEmpty() && FQueue.first() == FCurrent)
                FQueue.removeFirst();  // goes on with it
            else
                FWatch->Cancel();
        }
    }
    FWake.notify_all();
}

void TAnalyseAhead::SetPaused(bool AOn)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FPaused = AOn;
        if (FWatch)
            FWatch->SetPaused(AOn);
    }
    FWake.notify_all();
}

bool TAnalyseAhead::Idle() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FQueue.isEmpty() && FCurrent.isEmpty();
}

int TAnalyseAhead::Analysed() const
{
    std::lock_guard<std::mutex> lock(FMutex);
    return FAnalysed;
}

void TAnalyseAhead::Run()
{
    LowestPriority();
    for (;;) {
        QString path;
        std::shared_ptr<TEnvelopeWatch> watch;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FCurrent.clear();
            FWatch.reset();
            FWake.wait(lock, [this] { return FQuit || (!FPaused && !FQueue.isEmpty()); });
            if (FQuit)
                return;
            path = FQueue.takeFirst();
            FCurrent = path;
            watch = std::make_shared<TEnvelopeWatch>();
            FWatch = watch;
        }
        const std::optional<TEnvelopeCacheKey> key = FCache->UsableKeyOf(path);
        if (!key)
            continue;
        TEnvelopeResult cached;
        if (FCache->Lookup(*key, cached))
            continue;
        // One part: the thread is meant to use what is left over, not to compete for the cores.
        const TEnvelopeResult r = BuildEnvelopeFromFile(path, {}, 1, watch.get());
        if (FCache->StoreAfterPass(path, *key, r) == TEnvelopeCache::TPassStore::Stored) {
            std::lock_guard<std::mutex> lock(FMutex);
            ++FAnalysed;
        }
    }
}
