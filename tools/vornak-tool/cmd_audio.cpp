// vornak-tool sub-commands of the audio engine: the envelope of a load, filling the envelope cache, the output
// devices, playback, the signal measurement.
#include "commands.h"

#include "uAudioEngine.h"
#include "uEnvelope.h"
#include "uEnvelopeCache.h"
#include "uLoudness.h"
#include "uReaderData.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

void Out(const QString &ALine)
{
    std::fputs((ALine + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// A failed load: the code on standard output, the operator's text on standard error. The engine fails a
// missing file without a code; here it counts as a file that cannot be opened (2).
int LoadFailed(const TAudioEngine &AEngine)
{
    const int code = AEngine.LastError() != 0 ? AEngine.LastError() : 2;
    Out(QStringLiteral("error=%1").arg(code));
    std::fputs((AudioErrorText(code) + QLatin1Char('\n')).toUtf8().constData(), stderr);
    return ExitError;
}

} // namespace

int CmdEnvelope(const QStringList &AArgs)
{
    const char *usage = "envelope FILE [--progress] [--dump] [--no-cache] [--cache DIR] [--threads N]";
    QString file, cacheDir;
    bool progress = false, dump = false, cache = true;
    int threads = 0;
    for (int i = 0; i < AArgs.size(); ++i) {
        const QString &a = AArgs[i];
        bool ok = true;
        if (a == QLatin1String("--progress"))
            progress = true;
        else if (a == QLatin1String("--dump"))
            dump = true;
        else if (a == QLatin1String("--no-cache"))
            cache = false;
        else if (a == QLatin1String("--cache") && i + 1 < AArgs.size() && !AArgs[i + 1].isEmpty())
            cacheDir = AArgs[++i];
        else if (a == QLatin1String("--threads") && i + 1 < AArgs.size())
            ok = (threads = AArgs[++i].toInt(&ok), ok && threads >= 1);  // more than 8 counts as 8
        else if (file.isEmpty() && !a.startsWith(QLatin1String("--")))
            file = a;
        else
            ok = false;
        if (!ok)
            return BadArgs(usage);
    }
    if (file.isEmpty())
        return BadArgs(usage);

    TAudioEngine engine;
    engine.SetInitialDevice(0);  // no sound: the load alone
    engine.InitAudio();
    if (!cache)
        engine.SetEnvelopeCacheFolder(QString());
    else if (!cacheDir.isEmpty())
        engine.SetEnvelopeCacheFolder(cacheDir);
    engine.SetEnvelopeParts(threads);
    TProgressProc report;
    if (progress)
        report = [](int APercent) { Out(QStringLiteral("progress=%1").arg(APercent)); };
    if (!engine.Load(file, report))
        return LoadFailed(engine);

    const qint64 bytes = static_cast<qint64>(engine.DurationSec() * engine.SampleRate() + 0.5) * engine.Channels() * 2;
    const qint64 frames = qMax<qint64>(bytes / (engine.Channels() * 2), 1);
    const qint64 perPoint = (frames + engine.EnvCount() - 1) / engine.EnvCount();
    Out(QStringLiteral("rate=%1").arg(engine.SampleRate()));
    Out(QStringLiteral("channels=%1").arg(engine.Channels()));
    Out(QStringLiteral("bytes=%1").arg(bytes));
    Out(QStringLiteral("duration=%1").arg(engine.DurationSec(), 0, 'f', 6));
    Out(QStringLiteral("envcount=%1").arg(engine.EnvCount()));
    Out(QStringLiteral("frames_per_point=%1").arg(qMax<qint64>(perPoint, 1)));
    const TEnvelopeCacheUse use = engine.LastCacheUse();
    Out(use == TEnvelopeCacheUse::Hit ? QStringLiteral("cache=hit")
        : use == TEnvelopeCacheUse::Miss ? QStringLiteral("cache=miss") : QStringLiteral("cache=off"));
    if (dump) {
        QByteArray text;
        for (const TEnvPoint &p : *engine.Envelope()) {
            text += QByteArray::number(p.MnL) + ' ' + QByteArray::number(p.MxL) + ' ' + QByteArray::number(p.MnR)
                    + ' ' + QByteArray::number(p.MxR) + '\n';
        }
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    }
    return ExitOk;
}

int CmdWarm(const QStringList &AArgs)
{
    const char *usage = "warm DB ROOT [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--cache DIR] [--progress]";
    if (AArgs.size() < 2 || AArgs[0].startsWith(QLatin1String("--")) || AArgs[1].startsWith(QLatin1String("--")))
        return BadArgs(usage);
    QDate from, to;
    QString cacheDir = TEnvelopeCache::DefaultFolder();
    bool progress = false;
    for (int i = 2; i < AArgs.size(); ++i) {
        const QString &a = AArgs[i];
        const bool hasValue = i + 1 < AArgs.size();
        if ((a == QLatin1String("--from") || a == QLatin1String("--to")) && hasValue) {
            const QDate day = QDate::fromString(AArgs[++i], QStringLiteral("yyyy-MM-dd"));
            if (!day.isValid() || AArgs[i].size() != 10)
                return BadArgs(usage);
            (a == QLatin1String("--from") ? from : to) = day;
        } else if (a == QLatin1String("--cache") && hasValue && !AArgs[i + 1].isEmpty()) {
            cacheDir = AArgs[++i];
        } else if (a == QLatin1String("--progress")) {
            progress = true;
        } else {
            return BadArgs(usage);
        }
    }
    TRecList list;
    try {
        TReaderData db(AArgs[0]);
        db.Search(QString(), -1, QString(), list);
    } catch (const EReaderError &e) {
        std::fputs((e.Message() + QLatin1Char('\n')).toUtf8().constData(), stderr);
        return ExitError;
    }
    const TEnvelopeCache cache(cacheDir);
    if (!cache.Usable()) {
        std::fputs(QStringLiteral("De cachemap kan niet worden gebruikt: %1\n").arg(cacheDir).toUtf8().constData(),
                   stderr);
        return ExitError;
    }
    // Newest first: the recordings an operator is most likely to open next.
    std::stable_sort(list.begin(), list.end(), [](const TRecInfo &ALeft, const TRecInfo &ARight) {
        return std::make_pair(ALeft.RecDT, ALeft.RecNumber) > std::make_pair(ARight.RecDT, ARight.RecNumber);
    });
    int hits = 0, analysed = 0, failed = 0;
    for (const TRecInfo &ri : list) {
        const QDate day = QDate::fromString(ri.RecDate, QStringLiteral("yyyy-MM-dd"));
        if ((from.isValid() && (!day.isValid() || day < from)) || (to.isValid() && (!day.isValid() || day > to)))
            continue;
        const QString path = TReaderData::ResolveExistingPath(ri, AArgs[1]);
        QString result = QStringLiteral("failed"), detail;
        const std::optional<TEnvelopeCacheKey> key = TEnvelopeCache::KeyOf(path);
        TEnvelopeResult r;
        if (!key) {
            detail = QFileInfo::exists(path) ? QStringLiteral("Het geluidsbestand kan niet gelezen worden.")
                                             : QStringLiteral("Het geluidsbestand werd niet teruggevonden.");
        } else if (cache.Lookup(*key, r)) {
            result = QStringLiteral("hit");
        } else {
            TProgressProc report;
            if (progress)
                report = [](int APercent) { std::fprintf(stderr, "progress=%d\n", APercent); };
            r = BuildEnvelopeFromFile(path, report, 0);
            if (r.Error != 0)
                detail = QStringLiteral("%1 (audiofout %2)").arg(AudioErrorText(r.Error)).arg(r.Error);
            else if (r.EnvCount <= 0)
                detail = QStringLiteral("Het geluidsbestand bevat geen audio.");
            else
                switch (cache.StoreAfterPass(path, *key, r)) {
                case TEnvelopeCache::TPassStore::Stored:
                    result = QStringLiteral("analysed");
                    break;
                case TEnvelopeCache::TPassStore::Changed:
                    detail = QStringLiteral("Het geluidsbestand veranderde tijdens de analyse.");
                    break;
                case TEnvelopeCache::TPassStore::Refused:
                    detail = QStringLiteral("De cachemap kan niet beschreven worden.");
                    break;
                }
        }
        (result == QLatin1String("hit") ? hits : result == QLatin1String("analysed") ? analysed : failed)++;
        Out(QStringLiteral("id=%1\tfile=%2\tresult=%3\tdetail=%4")
                .arg(ri.Id)
                .arg(EscapedField(path), result, EscapedField(detail)));
    }
    Out(QStringLiteral("hit=%1 analysed=%2 failed=%3").arg(hits).arg(analysed).arg(failed));
    return failed > 0 ? ExitFindings : ExitOk;
}

int CmdDevices(const QStringList &AArgs)
{
    if (!AArgs.isEmpty())
        return BadArgs("devices");
    QList<QPair<QString, int>> list;
    ListOutputDevices(list);
    for (const auto &d : list)
        Out(QStringLiteral("%1\t%2").arg(d.second).arg(d.first));
    return ExitOk;
}

int CmdPlay(const QStringList &AArgs)
{
    const char *usage = "play FILE [--device N] [--seconds S] [--speed X] [--channel both|left|right]";
    QString file;
    int device = -1;
    double seconds = -1;
    double speed = 1.0;
    TChannelMode channel = TChannelMode::cmBoth;
    for (int i = 0; i < AArgs.size(); ++i) {
        bool ok = true;
        if (AArgs[i] == QLatin1String("--device") && i + 1 < AArgs.size()) {
            device = AArgs[++i].toInt(&ok);
        } else if (AArgs[i] == QLatin1String("--seconds") && i + 1 < AArgs.size()) {
            seconds = AArgs[++i].toDouble(&ok);
        } else if (AArgs[i] == QLatin1String("--speed") && i + 1 < AArgs.size()) {
            speed = AArgs[++i].toDouble(&ok);
            ok = ok && speed >= MinPlaySpeed && speed <= MaxPlaySpeed;
        } else if (AArgs[i] == QLatin1String("--channel") && i + 1 < AArgs.size()) {
            const QString c = AArgs[++i];
            if (c == QLatin1String("both"))
                channel = TChannelMode::cmBoth;
            else if (c == QLatin1String("left"))
                channel = TChannelMode::cmLeft;
            else if (c == QLatin1String("right"))
                channel = TChannelMode::cmRight;
            else
                ok = false;
        } else if (file.isEmpty() && !AArgs[i].startsWith(QLatin1String("--"))) {
            file = AArgs[i];
        } else {
            ok = false;
        }
        if (!ok)
            return BadArgs(usage);
    }
    if (file.isEmpty())
        return BadArgs(usage);

    TAudioEngine engine;
    engine.SetInitialDevice(device);
    const bool output = engine.InitAudio();
    if (!engine.Load(file))
        return LoadFailed(engine);
    if (!output) {
        Out(QStringLiteral("error=%1").arg(3));
        std::fputs((AudioErrorText(3) + QLatin1Char('\n')).toUtf8().constData(), stderr);
        return ExitError;
    }
    engine.SetSpeed(speed);
    engine.SetChannelMode(channel);
    engine.Play();
    QElapsedTimer clock;
    clock.start();
    qint64 nextReport = 0;
    while (engine.IsPlaying() && (seconds < 0 || clock.elapsed() < seconds * 1000)) {
        if (clock.elapsed() >= nextReport) {
            Out(QStringLiteral("position=%1").arg(engine.PositionSec(), 0, 'f', 3));
            nextReport += 500;
        }
        QThread::msleep(20);
    }
    Out(QStringLiteral("position=%1").arg(engine.PositionSec(), 0, 'f', 3));
    engine.Stop();
    return ExitOk;
}

namespace {

// A figure with a dot as decimal sign, or -inf.
QString Figure(double AValue, int ADecimals)
{
    return std::isinf(AValue) && AValue < 0 ? QStringLiteral("-inf") : QString::number(AValue, 'f', ADecimals);
}

} // namespace

int CmdLoudness(const QStringList &AArgs)
{
    const char *usage = "loudness FILE [--start S] [--end E] [--silence-db D] [--silence-min S] [--threads N]";
    if (AArgs.isEmpty() || AArgs[0].startsWith(QLatin1String("--")))
        return BadArgs(usage);
    double startSec = 0, endSec = 0;
    TLoudnessOptions options;
    for (int i = 1; i < AArgs.size(); i += 2) {
        if (i + 1 >= AArgs.size())
            return BadArgs(usage);
        bool ok = false;
        if (AArgs[i] == QLatin1String("--threads")) {
            // 1: one pass; more than MaxLoudnessParts counts as MaxLoudnessParts.
            options.Parts = AArgs[i + 1].toInt(&ok);
            if (!ok || options.Parts < 1)
                return BadArgs(usage);
            continue;
        }
        const double v = AArgs[i + 1].toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return BadArgs(usage);
        if (AArgs[i] == QLatin1String("--start") && v >= 0)
            startSec = v;
        else if (AArgs[i] == QLatin1String("--end") && v >= 0)
            endSec = v;
        else if (AArgs[i] == QLatin1String("--silence-db") && v <= 0)
            options.SilenceDb = v;
        else if (AArgs[i] == QLatin1String("--silence-min") && v > 0)
            options.SilenceMinSec = v;
        else
            return BadArgs(usage);
    }
    if (endSec > 0 && endSec <= startSec)
        return BadArgs(usage);
    const TLoudnessResult r = MeasureFileRange(AArgs[0], startSec, endSec, options);
    if (r.Error != 0) {
        std::fputs((QStringLiteral("%1: %2\n").arg(AArgs[0], AudioErrorText(r.Error))).toUtf8().constData(), stderr);
        return ExitError;
    }
    Out(QStringLiteral("integrated_lufs=") + Figure(r.IntegratedLufs, 2));
    Out(QStringLiteral("range_lu=") + Figure(r.RangeLu, 2));
    Out(QStringLiteral("true_peak_dbtp=") + Figure(r.TruePeakDbtp, 2));
    Out(QStringLiteral("sample_peak_dbfs=") + Figure(r.SamplePeakDbfs, 2));
    Out(QStringLiteral("momentary_max_lufs=") + Figure(r.MomentaryMaxLufs, 2));
    Out(QStringLiteral("shortterm_max_lufs=") + Figure(r.ShorttermMaxLufs, 2));
    Out(QStringLiteral("clipped_runs=%1").arg(r.ClipRunCount));
    Out(QStringLiteral("silence_runs=%1").arg(r.SilentStretchCount));
    Out(QStringLiteral("silence_seconds=") + Figure(r.SilentSeconds, 3));
    for (const TSilentStretch &s : r.SilentStretches)
        Out(QStringLiteral("silence=%1\t%2").arg(Figure(s.StartSec, 3), Figure(s.EndSec, 3)));
    for (const TClipRun &c : r.ClipRuns)
        Out(QStringLiteral("clip=%1\t%2").arg(Figure(c.StartSec, 3)).arg(c.Channel + 1));
    return ExitOk;
}
