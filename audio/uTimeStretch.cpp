// Time stretch with kept pitch for playback at another speed (SoundTouch).
#include "uTimeStretch.h"

#include <SoundTouch.h>

#include <algorithm>
#include <cmath>

struct TTimeStretch::Impl {
    soundtouch::SoundTouch st;
};

TTimeStretch::TTimeStretch(int sampleRate, int channels, double speed)
    : d(std::make_unique<Impl>()), FChannels(channels)
{
    d->st.setSampleRate(static_cast<unsigned>(sampleRate));
    d->st.setChannels(static_cast<unsigned>(channels));
    // The library's automatic sequence and seek-window lengths: on speech they measured closer to the
    // original than the fixed "speech" settings it suggests (README, time stretch).
    d->st.setTempo(speed);
}

TTimeStretch::~TTimeStretch() = default;

void TTimeStretch::Put(const int16_t *frames, int count)
{
    FBuf.resize(static_cast<size_t>(count) * FChannels);
    for (size_t i = 0; i < FBuf.size(); ++i)
        FBuf[i] = frames[i] * (1.0f / 32768.0f);
    d->st.putSamples(FBuf.data(), static_cast<unsigned>(count));
}

int TTimeStretch::Receive(int16_t *out, int maxFrames)
{
    FBuf.resize(static_cast<size_t>(maxFrames) * FChannels);
    const unsigned got = d->st.receiveSamples(FBuf.data(), static_cast<unsigned>(maxFrames));
    const size_t n = static_cast<size_t>(got) * FChannels;
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<int16_t>(std::clamp(std::lrint(FBuf[i] * 32768.0f), -32768L, 32767L));
    return static_cast<int>(got);
}

void TTimeStretch::Flush()
{
    d->st.flush();
}
