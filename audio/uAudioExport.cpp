// Range export of a recording file: WAV written here, MP3, OGG and Opus through the encoder layer.
#include "uAudioExport.h"

#include "uDecoder.h"
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

// A read of the export's stream that notes an early end of the decoding: the loop asks for more only while
// the range is not complete, so no data here means the recording ended before the range did.
std::function<qint64(char *, qint64)> ReadNoting(TDecodeStream &AStream, TExportOutcome &AOutcome)
{
    return [&AStream, &AOutcome](char *buf, qint64 max) {
        const qint64 n = AStream.Read(buf, max);
        if (n <= 0)
            AOutcome.EndedEarly = true;
        return n;
    };
}

bool WriteWav(TDecodeStream &AStream, const QString &ADest, qint64 C, const TCancelProgress &AProgress,
              TExportOutcome &AOutcome)
{
    TWavWriter wav;
    wav.Create(ADest, AStream.SampleRate(), AStream.Channels());
    const qint64 done = ExportReadLoop(ReadNoting(AStream, AOutcome), C, AProgress, [&](const char *data, qint64 n) {
        wav.Write(data, n);
        return true;
    });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    wav.Finish();
    return done > 0;
}

bool EncodeToFile(TDecodeStream &AStream, const QString &ADest, qint64 C, TAudioFormat AFmt, int ABitrate,
                  const TCancelProgress &AProgress, TExportOutcome &AOutcome)
{
    TEncoder encoder;
    if (!encoder.Start(AFmt, EncoderOptionText(AFmt, ABitrate), AStream.SampleRate(), AStream.Channels(), ADest)) {
        qWarning("export: %s", qUtf8Printable(encoder.ErrorText()));
        return false;
    }
    const qint64 done = ExportReadLoop(ReadNoting(AStream, AOutcome), C, AProgress,
                                       [&](const char *data, qint64 n) { return encoder.Feed(data, n); });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    // Stopping completes and closes the file, also after an early end; a failed write anywhere is no success.
    const bool written = encoder.Stop();
    if (!written)
        qWarning("export: %s", qUtf8Printable(encoder.ErrorText()));
    return done > 0 && written;
}

} // namespace

bool ExportFileRange(const QString &ASource, double ADurationSec, const QString &ADest, TAudioFormat AFmt,
                     int ABitrate, double AStartSec, double AEndSec, const TCancelProgress &AProgress,
                     TExportOutcome *AOutcome)
{
    TExportOutcome local;
    TExportOutcome &outcome = AOutcome ? *AOutcome : local;
    outcome = TExportOutcome{};
    // Writing onto the recording would destroy it while it is read.
    if (SameFile(ADest, ASource)) {
        qWarning("export: the target \"%s\" is the loaded recording itself", qUtf8Printable(ADest));
        return false;
    }
    TDecodeStream stream;  // our own: a playback stream and its position stay as they are
    if (!stream.Open(ASource))
        return false;
    // A damaged recording exports what decodes, not a silent tail that pretends to be the rest.
    stream.SetPadToLength(false);

    const qint64 B = qMax(stream.Channels() * 2, 2);
    const qint64 T = stream.LengthBytes();
    qint64 start = AStartSec <= 0 ? 0 : stream.SecondsToBytes(AStartSec);
    qint64 end = AEndSec <= 0 || AEndSec >= ADurationSec ? T : stream.SecondsToBytes(AEndSec);
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
        return WriteWav(stream, ADest, C, AProgress, outcome);
    return EncodeToFile(stream, ADest, C, AFmt, ABitrate, AProgress, outcome);
}
