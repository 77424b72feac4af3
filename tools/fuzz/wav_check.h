// An independent reader of the PCM WAV files the reader writes: walks the RIFF chunks itself (no code shared
// with the writer) and tells whether the header is consistent with the file and with the expected data.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct TWavFacts {
    bool ok = false;
    std::string why;        // the first inconsistency found
    uint16_t format = 0;    // 1 = PCM
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    size_t dataOffset = 0;
};

inline uint32_t WavLE(const unsigned char *ABytes, int AByteCount)
{
    uint32_t v = 0;
    for (int i = AByteCount - 1; i >= 0; --i)
        v = (v << 8) | ABytes[i];
    return v;
}

inline TWavFacts ParseWav(const std::vector<unsigned char> &ABytes)
{
    TWavFacts w;
    auto fail = [&](const char *AWhy) {
        w.ok = false;
        w.why = AWhy;
        return w;
    };
    if (ABytes.size() < 12 || std::memcmp(ABytes.data(), "RIFF", 4) != 0
        || std::memcmp(ABytes.data() + 8, "WAVE", 4) != 0)
        return fail("no RIFF/WAVE signature");
    w.riffSize = WavLE(ABytes.data() + 4, 4);
    if (uint64_t(w.riffSize) + 8 != ABytes.size())
        return fail("RIFF size does not match the file length");
    bool haveFmt = false, haveData = false;
    size_t at = 12;
    while (at + 8 <= ABytes.size()) {
        const unsigned char *c = ABytes.data() + at;
        const uint32_t size = WavLE(c + 4, 4);
        if (uint64_t(at) + 8 + size > ABytes.size())
            return fail("a chunk runs past the end of the file");
        if (std::memcmp(c, "fmt ", 4) == 0) {
            if (size < 16)
                return fail("fmt chunk too small");
            w.format = static_cast<uint16_t>(WavLE(c + 8, 2));
            w.channels = static_cast<uint16_t>(WavLE(c + 10, 2));
            w.rate = WavLE(c + 12, 4);
            w.byteRate = WavLE(c + 16, 4);
            w.blockAlign = static_cast<uint16_t>(WavLE(c + 20, 2));
            w.bits = static_cast<uint16_t>(WavLE(c + 22, 2));
            haveFmt = true;
        } else if (std::memcmp(c, "data", 4) == 0) {
            if (!haveFmt)
                return fail("data chunk before the fmt chunk");
            w.dataSize = size;
            w.dataOffset = at + 8;
            haveData = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!haveFmt || !haveData)
        return fail("fmt or data chunk missing");
    if (w.format != 1 || w.bits != 16)
        return fail("not 16-bit PCM");
    if (w.channels == 0 || w.rate == 0)
        return fail("zero channels or rate");
    if (w.blockAlign != w.channels * 2u || w.byteRate != uint64_t(w.rate) * w.blockAlign)
        return fail("block align or byte rate inconsistent");
    if (w.dataSize % w.blockAlign != 0)
        return fail("data is not whole frames");
    w.ok = true;
    return w;
}
