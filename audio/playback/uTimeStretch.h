// Time stretch with kept pitch for playback at another speed (SoundTouch).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Interleaved 16-bit frames in, the same sound at ASpeed times the tempo out, pitch unchanged.
// Output starts with the start of the input (no leading delay), so output frame o carries input frame
// o * ASpeed, give or take the few milliseconds of the overlap window. Not thread-safe: one thread uses it.
class TTimeStretch {
public:
    TTimeStretch(int ASampleRate, int AChannels, double ASpeed);
    ~TTimeStretch();
    TTimeStretch(const TTimeStretch &) = delete;
    TTimeStretch &operator=(const TTimeStretch &) = delete;

    void Put(const int16_t *AFrames, int ACount);
    // Moves up to AMaxFrames finished frames into AOut; 0 when none are ready yet.
    int Receive(int16_t *AOut, int AMaxFrames);
    // The end of the input: what was put becomes receivable (padded out to the window's end).
    void Flush();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    int FChannels;
    std::vector<float> FBuf;
};
