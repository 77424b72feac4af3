// Time stretch with kept pitch for playback at another speed (SoundTouch).
#include "uTimeStretch.h"

#include <SoundTouch.h>

#include <algorithm>
#include <cmath>

struct TTimeStretch::Impl {
    soundtouch::SoundTouch st;
};

TTimeStretch::TTimeStretch(int ASampleRate, int AChannels, double ASpeed)
    : d(std::make_unique<Impl>()), FChannels(AChannels)
{
    d->st.setSampleRate(static_cast<unsigned>(ASampleRate));
    d->st.setChannels(static_cast<unsigned>(AChannels));
    // The library's automatic sequence and seek-window lengths: on speech they measured closer to the
    // original than the fixed "speech" settings it suggests (README, time stretch).
    d->st.setTempo(ASpeed);
}

TTimeStretch::~TTimeStretch() = default;

void TTimeStretch::Put(const int16_t *AFrames, int ACount)
{
    FBuf.resize(static_cast<size_t>(ACount) * FChannels);
    for (size_t i = 0; i < FBuf.size(); ++i)
        FBuf[i] = AFrames[i] * (1.0f / 32768.0f);
    d->st.putSamples(FBuf.data(), static_cast<unsigned>(ACount));
}

int TTimeStretch::Receive(int16_t *AOut, int AMaxFrames)
{
    FBuf.resize(static_cast<size_t>(AMaxFrames) * FChannels);
    const unsigned got = d->st.receiveSamples(FBuf.data(), static_cast<unsigned>(AMaxFrames));
    const size_t n = static_cast<size_t>(got) * FChannels;
    for (size_t i = 0; i < n; ++i)
        AOut[i] = static_cast<int16_t>(std::clamp(std::lrint(FBuf[i] * 32768.0f), -32768L, 32767L));
    return static_cast<int>(got);
}

void TTimeStretch::Flush()
{
    d->st.flush();
}
