// The WAV writer. Input: 4 bytes sample rate, 1 byte channel count, then blocks of sample bytes, each
// preceded by a 1-byte length unit (length = unit × block align). The writer writes them into a new file;
// an independent parser (wav_check.h) then reads the file: 16-bit PCM, the rate and channels given, RIFF and
// data sizes that match the file and the bytes written, and the data exactly as handed in.
#include "uWavWriter.h"
#include "uReaderTypes.h"
#include "wav_check.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

QTemporaryDir *Work = nullptr;

[[noreturn]] void Fail(const char *AWhat, const std::string &ADetail = {})
{
    std::fprintf(stderr, "fuzz_wav: %s %s\n", AWhat, ADetail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize)
{
    if (!Work)
        Work = new QTemporaryDir;
    if (ASize < 5)
        return 0;
    // Plausible formats: 1 Hz .. 1,048,575 Hz, 1 .. 16 channels.
    const int rate = 1 + int(WavLE(AData, 4) & 0xFFFFF) % 1048575;
    const int channels = 1 + AData[4] % 16;
    const int block = channels * 2;
    std::vector<unsigned char> expected;
    const QString path = Work->filePath("out.wav");
    {
        TWavWriter w;
        try {
            w.Create(path, rate, channels);
            size_t at = 5;
            while (at < ASize) {
                const size_t want = size_t(AData[at++]) * block;
                const size_t n = std::min(want, (ASize - at) / block * block);
                w.Write(AData + at, qint64(n));
                expected.insert(expected.end(), AData + at, AData + at + n);
                at += n;
                if (n < want)
                    break;
            }
            w.Finish();
        } catch (const EReaderError &e) {
            Fail("the writer refused a writable file:", e.Message().toStdString());
        }
        if (w.DataBytes() != qint64(expected.size()))
            Fail("DataBytes differs from the bytes written");
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        Fail("the file is gone");
    const QByteArray all = f.readAll();
    const std::vector<unsigned char> bytes(all.begin(), all.end());
    const TWavFacts w = ParseWav(bytes);
    if (!w.ok)
        Fail("the file does not parse:", w.why);
    if (w.rate != uint32_t(rate) || w.channels != channels)
        Fail("rate or channels differ");
    if (w.dataOffset != 44 || w.dataSize != expected.size() || bytes.size() != 44 + expected.size())
        Fail("sizes do not match the data");
    if (!std::equal(expected.begin(), expected.end(), bytes.begin() + 44))
        Fail("the data differs from what was written");
    return 0;
}
