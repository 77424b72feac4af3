// Range export of the loaded recording: WAV written here, MP3, OGG and Opus through the encoder layer.
#include "uAudioEngine.h"

#include "uEncoder.h"
#include "uExportLoop.h"
#include "uWavWriter.h"

#include <QFile>
#include <QtDebug>

#include <sys/stat.h>

namespace {

// True when both paths name one existing file (device and inode after following links), so a symbolic
// or a hard link to the recording counts as the recording itself.
bool SameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

bool TAudioEngine::ExportRange(const QString &ADest, TAudioFormat AFmt, int ABitrate, double AStartSec,
                               double AEndSec, const TCancelProgress &AProgress)
{
    FLastExportSec = 0;
    FLastExportEndedEarly = false;
    if (FLoadedPath.isEmpty())
        return false;
    // Writing onto the recording would destroy it while it is read.
    if (SameFile(ADest, FLoadedPath)) {
        qWarning("export: the target \"%s\" is the loaded recording itself", qUtf8Printable(ADest));
        return false;
    }
    TDecodeStream stream;  // our own: the playback stream and its position stay as they are
    if (!stream.Open(FLoadedPath))
        return false;
    // A damaged recording exports what decodes, not a silent tail that pretends to be the rest.
    stream.SetPadToLength(false);

    const qint64 B = qMax(stream.Channels() * 2, 2);
    const qint64 T = stream.LengthBytes();
    qint64 start = AStartSec <= 0 ? 0 : stream.SecondsToBytes(AStartSec);
    qint64 end = AEndSec <= 0 || AEndSec >= FDurationSec ? T : stream.SecondsToBytes(AEndSec);
    start = start / B * B;
    end = end / B * B;
    if (end > T)
        end = T;
    if (start >= end)
        return false;
    const qint64 C = end - start;
    // The 32-bit size fields cannot describe more: refuse rather than write a header that wraps around.
    if (AFmt == TAudioFormat::afWAV && C > WavMaxDataBytes) {
        qWarning("export: %lld bytes do not fit in a WAV file", static_cast<long long>(C));
        return false;
    }
    if (start > 0 && !stream.SeekBytes(start))
        return false;

    if (AFmt == TAudioFormat::afWAV)
        return WriteWav(stream, ADest, C, AProgress);
    return EncodeToFile(stream, ADest, C, AFmt, ABitrate, AProgress);
}

std::function<qint64(char *, qint64)> TAudioEngine::ReadNoting(TDecodeStream &AStream)
{
    // The loop asks for more only while the range is not complete: no data here is an early end.
    return [this, &AStream](char *buf, qint64 max) {
        const qint64 n = AStream.Read(buf, max);
        if (n <= 0)
            FLastExportEndedEarly = true;
        return n;
    };
}

bool TAudioEngine::WriteWav(TDecodeStream &AStream, const QString &ADest, qint64 C, const TCancelProgress &AProgress)
{
    TWavWriter wav;
    wav.Create(ADest, AStream.SampleRate(), AStream.Channels());
    const qint64 done = ExportReadLoop(ReadNoting(AStream), C, AProgress, [&](const char *data, qint64 n) {
        wav.Write(data, n);
        return true;
    });
    FLastExportSec = AStream.BytesToSeconds(done);
    wav.Finish();
    return done > 0;
}

bool TAudioEngine::EncodeToFile(TDecodeStream &AStream, const QString &ADest, qint64 C, TAudioFormat AFmt,
                                int ABitrate, const TCancelProgress &AProgress)
{
    TEncoder encoder;
    if (!encoder.Start(AFmt, EncoderOptionText(AFmt, ABitrate), AStream.SampleRate(), AStream.Channels(), ADest)) {
        qWarning("export: %s", qUtf8Printable(encoder.ErrorText()));
        return false;
    }
    const qint64 done = ExportReadLoop(ReadNoting(AStream), C, AProgress,
                                       [&](const char *data, qint64 n) { return encoder.Feed(data, n); });
    FLastExportSec = AStream.BytesToSeconds(done);
    // Stopping completes and closes the file, also after an early end; a failed write anywhere is no success.
    const bool written = encoder.Stop();
    if (!written)
        qWarning("export: %s", qUtf8Printable(encoder.ErrorText()));
    return done > 0 && written;
}
