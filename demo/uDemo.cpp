// Demo generator: a few days of speech-like recordings in the recorder's layout, their catalogue and a
// recorder settings file pointing at both.
#include "uDemo.h"
#include "uRecorderSchema.h"

#include "uReaderTypes.h"
#include "uSqlite.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

const char *const MarkerName = ".vornak-demo";
const char *const CatalogueName = "Vornak2026.sqlite";
const char *const RecorderIniName = "Vornak2026.ini";

enum class TDemoFormat { WAV, MP3, OGG, OPUS, FLAC };

struct TFormatSpec {
    const char *label;  // the catalogue's format column
    const char *ext;
    int rate;
    int channels;
    QStringList codec;  // ffmpeg output options
};

TFormatSpec OutputFormatOf(TDemoFormat AFormat, bool AStereo)
{
    switch (AFormat) {
    case TDemoFormat::WAV:
        return {"WAV", ".wav", 8000, 1, {"-c:a", "pcm_s16le"}};
    case TDemoFormat::MP3:
        return AStereo ? TFormatSpec{"MP3", ".mp3", 44100, 2, {"-c:a", "libmp3lame", "-b:a", "96k"}}
                      : TFormatSpec{"MP3", ".mp3", 22050, 1, {"-c:a", "libmp3lame", "-b:a", "48k"}};
    case TDemoFormat::OGG:
        return {"OGG", ".ogg", 22050, 2, {"-c:a", "libvorbis", "-q:a", "2"}};
    case TDemoFormat::OPUS:
        return {"OPUS", ".opus", 16000, 1, {"-c:a", "libopus", "-b:a", "24k", "-compression_level", "5"}};
    case TDemoFormat::FLAC:
        return {"FLAC", ".flac", 16000, 1, {"-c:a", "flac"}};
    }
    return {"WAV", ".wav", 8000, 1, {"-c:a", "pcm_s16le"}};
}

struct TPerson {
    const char *name;
    bool female;
};

const TPerson Operators[] = {{"Sanne Bakker", true}, {"Pieter Jansen", false}, {"Femke Visser", true},
                             {"Ruud Mulder", false}};
const TPerson Callers[] = {{"Jan de Vries", false}, {"Anouk Smit", true},    {"Kees van Dijk", false},
                           {"Lotte de Boer", true}, {"Willem Bos", false},   {"Marieke Peters", true},
                           {"Henk Meijer", false},  {"Eva de Graaf", true}};

struct TTopic {
    const char *title;  // empty: a recording nobody has described yet
    const char *about;
};

const TTopic Topics[] = {
    {"Storing pompstation Zuidbroek", "de storing bij het pompstation in Zuidbroek"},
    {"Terugbelverzoek klant", "een terugbelverzoek van vorige week"},
    {"Overleg planning onderhoud", "de planning van het onderhoud"},
    {"", "een vraag over mijn rekening"},
    {"Klacht levering", "een levering die niet compleet was"},
    {"Dienstoverdracht nachtploeg", "de overdracht aan de nachtploeg"},
    {"Melding wateroverlast", "wateroverlast in de kelder"},
    {"", "de nieuwe meterkast"},
    {"Afspraak monteur", "de afspraak met de monteur"},
    {"Bevestiging bestelling", "de bevestiging van mijn bestelling"},
};

// Lines of the operator (A) and the caller (B); {A}, {B}, {G} and {T} are filled in.
const char *const OperatorLines[] = {
    "{G}, u spreekt met {A} van de meldkamer. Waarmee kan ik u helpen?",
    "Dat is vervelend. Mag ik uw naam en uw klantnummer noteren?",
    "Ik zie het in het systeem staan. Er is al een monteur in de buurt.",
    "Ik maak er een melding van met hoge prioriteit.",
    "U krijgt binnen een uur een bericht met de verwachte aankomsttijd.",
    "Kan ik verder nog iets voor u doen?",
    "Graag gedaan, meneer of mevrouw. Tot ziens.",
};
const char *const CallerLines[] = {
    "{G}, met {B}. Ik bel over {T}.",
    "Het begon vanochtend rond half acht, en sindsdien is het niet opgelost.",
    "Mijn klantnummer is vier zeven twee negen een.",
    "Kunt u iemand sturen die er vandaag nog naar kan kijken?",
    "Het adres is Kerkstraat veertien. Ik ben de hele middag thuis.",
    "Dank u wel, dan wacht ik op het bericht.",
    "Nee, verder niets. Fijne dag nog.",
};

struct TPlannedRec {
    QDateTime start;
    int number = 0;
    TDemoFormat format = TDemoFormat::WAV;
    bool stereo = false;
    int seconds = 0;
    TPerson op{};
    TPerson caller{};
    TTopic topic{};
    bool described = true;  // title and persons stored
};

// Days before today, hour and number of recordings in that hour.
struct THourPlan {
    int daysBack;
    int hour;
    int count;
};
const THourPlan Plan[] = {
    {0, 8, 3},  {0, 9, 1},  {0, 11, 2}, {0, 14, 2},  {0, 16, 1},  //
    {1, 0, 1},  {1, 7, 2},  {1, 10, 1}, {1, 13, 2},  {1, 23, 2},  //
    {2, 9, 2},  {2, 12, 1}, {2, 15, 1},                           //
    {3, 10, 2}, {3, 17, 1},
};
const int Durations[] = {24, 37, 52, 20, 31, 68, 28, 45, 22, 90, 33, 26, 41, 58, 21, 35, 29, 74};

QList<TPlannedRec> MakePlan(const QDate &AToday, int AMaxSeconds)
{
    QList<TPlannedRec> recs;
    int i = 0;
    for (const THourPlan &h : Plan) {
        const QDate day = AToday.addDays(-h.daysBack);
        for (int n = 1; n <= h.count; ++n, ++i) {
            TPlannedRec r;
            const int minute = 3 + (n - 1) * (52 / h.count) + (i * 7) % 9;
            r.start = QDateTime(day, QTime(h.hour, minute, (i * 13) % 60));
            r.number = n;
            r.format = static_cast<TDemoFormat>(i % 5);
            r.stereo = r.format == TDemoFormat::MP3 && (i / 5) % 2 == 1;
            r.seconds = Durations[i % std::size(Durations)];
            if (AMaxSeconds > 0)
                r.seconds = qMin(r.seconds, AMaxSeconds);
            r.op = Operators[i % std::size(Operators)];
            r.caller = Callers[(i * 3) % std::size(Callers)];
            r.topic = Topics[i % std::size(Topics)];
            r.described = r.topic.title[0] != '\0';
            recs << r;
        }
    }
    return recs;
}

QString Greeting(int AHour)
{
    return AHour < 12 ? QStringLiteral("Goedemorgen") : AHour < 18 ? QStringLiteral("Goedemiddag")
                                                                 : QStringLiteral("Goedenavond");
}

QString Fill(const char *ALine, const TPlannedRec &ARec)
{
    return QString::fromUtf8(ALine)
        .replace(QLatin1String("{A}"), QString::fromUtf8(ARec.op.name))
        .replace(QLatin1String("{B}"), QString::fromUtf8(ARec.caller.name))
        .replace(QLatin1String("{G}"), Greeting(ARec.start.time().hour()))
        .replace(QLatin1String("{T}"), QString::fromUtf8(ARec.topic.about));
}

struct TJob {
    QStringList args;
    QString path;
};

// Waits for a started tool and throws with its error output when it failed.
void Finish(QProcess &AProcess, const QString &AProgram)
{
    if (!AProcess.waitForStarted(30000))
        throw EReaderError(QStringLiteral("cannot start %1: %2").arg(AProgram, AProcess.errorString()));
    if (!AProcess.waitForFinished(180000)) {
        AProcess.kill();
        AProcess.waitForFinished(5000);
        throw EReaderError(QStringLiteral("%1 did not finish").arg(AProgram));
    }
    if (AProcess.exitStatus() != QProcess::NormalExit || AProcess.exitCode() != 0) {
        const QString err = QString::fromLocal8Bit(AProcess.readAllStandardError()).trimmed();
        throw EReaderError(QStringLiteral("%1 failed (exit code %2): %3")
                               .arg(QFileInfo(AProgram).fileName())
                               .arg(AProcess.exitCode())
                               .arg(err.right(600)));
    }
}

void RunTool(const QString &AProgram, const QStringList &AArgs)
{
    QProcess p;
    p.start(AProgram, AArgs);
    Finish(p, AProgram);
}

// Length in seconds of a 16-bit mono WAV written by espeak-ng (header of 44 bytes).
double WavSeconds(const QString &APath, int ARate)
{
    const qint64 bytes = QFileInfo(APath).size() - 44;
    return bytes > 0 ? double(bytes) / (2.0 * ARate) : 0.0;
}

class TDemoMaker {
public:
    TDemoMaker(const QString &ARoot) : FRoot(ARoot)
    {
        FFfmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (FFfmpeg.isEmpty())
            throw EReaderError(QStringLiteral("the ffmpeg command line tool is needed to generate the demo audio"));
        FEspeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
        if (!FWork.isValid())
            throw EReaderError(QStringLiteral("cannot create a temporary folder"));
    }

    // The ffmpeg arguments that write the recording's file (its spoken lines are made here), and its path.
    TJob Prepare(const TPlannedRec &ARec)
    {
        const TFormatSpec outFmt = OutputFormatOf(ARec.format, ARec.stereo);
        const QString dir = FRoot + QLatin1Char('/') + ARec.start.toString(QStringLiteral("yyyy/MM/dd"));
        if (!QDir().mkpath(dir))
            throw EReaderError(QStringLiteral("cannot create %1").arg(dir));
        const QString path = dir + QLatin1Char('/') + FileName(ARec, outFmt);

        QStringList args = {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-threads", "1"};
        QString graph;
        const QString panA = outFmt.channels == 2 ? QStringLiteral("pan=stereo|c0=c0|c1=0.2*c0")
                                                : QStringLiteral("aformat=channel_layouts=mono");
        const QString panB = outFmt.channels == 2 ? QStringLiteral("pan=stereo|c0=0.2*c0|c1=c0")
                                                : QStringLiteral("aformat=channel_layouts=mono");
        const QString panBoth = outFmt.channels == 2 ? QStringLiteral("pan=stereo|c0=c0|c1=c0")
                                                   : QStringLiteral("aformat=channel_layouts=mono");
        const QString rate = QString::number(outFmt.rate);

        // The speech track: alternating lines of operator and caller until the length is filled.
        QStringList parts;
        int input = 0;
        if (!FEspeak.isEmpty()) {
            double filled = 0.8;
            for (int line = 0; filled < ARec.seconds && line < 40; ++line) {
                const bool op = line % 2 == 0;
                const int k = line / 2;
                const int nLines = int(std::size(OperatorLines));
                const QString text = op ? Fill(OperatorLines[k % nLines], ARec) : Fill(CallerLines[k % nLines], ARec);
                const TPerson who = op ? ARec.op : ARec.caller;
                const QString wav = Speak(text, who);
                const double gap = 0.35 + 0.1 * ((line * 7 + ARec.number) % 6);
                args << "-i" << wav;
                parts << QStringLiteral("[%1]aresample=%2,volume=0.7,%3,apad=pad_dur=%4[s%1]")
                             .arg(input)
                             .arg(rate, op ? panA : panB)
                             .arg(gap, 0, 'f', 2);
                filled += WavSeconds(wav, 22050) + gap;
                ++input;
            }
        } else {
            // Without a speech synthesiser: a voiced, syllable-like tone with pauses.
            args << "-f" << "lavfi" << "-i"
                 << QStringLiteral("aevalsrc=0.35*sin(2*PI*(150+30*sin(2*PI*0.6*t))*t)*(0.55+0.45*sin(2*PI*4*t))"
                                   "*gt(sin(2*PI*0.23*t)+0.3\\,0):s=%1:d=%2")
                        .arg(rate)
                        .arg(ARec.seconds);
            parts << QStringLiteral("[0]%1[s0]").arg(panA);
            input = 1;
        }
        const int speechInputs = input;
        // The recorder's start beep and the line's background noise.
        args << "-f" << "lavfi" << "-i" << QStringLiteral("sine=frequency=1000:sample_rate=%1:duration=0.3").arg(rate);
        const int beep = input++;
        args << "-f" << "lavfi" << "-i"
             << QStringLiteral("anoisesrc=color=pink:amplitude=0.02:sample_rate=%1:duration=%2:seed=%3")
                    .arg(rate)
                    .arg(ARec.seconds)
                    .arg(ARec.number * 101 + ARec.start.time().hour());
        const int noise = input++;

        graph = QStringLiteral("[%1]volume=0.25,%2,apad=pad_dur=0.5[beep];").arg(beep).arg(panBoth);
        graph += parts.join(QLatin1Char(';')) + QLatin1Char(';');
        graph += QStringLiteral("[beep]");
        for (int i = 0; i < speechInputs; ++i)
            graph += QStringLiteral("[s%1]").arg(i);
        graph += QStringLiteral("concat=n=%1:v=0:a=1,apad,atrim=0:%2[speech];").arg(speechInputs + 1).arg(ARec.seconds);
        graph += QStringLiteral("[%1]%2[noise];").arg(noise).arg(panBoth);
        // A look-ahead limiter at -6 dBFS: a recording peaks at -3 dBFS or lower after lossy encoding too, and
        // never clips.
        graph += QStringLiteral("[speech][noise]amix=inputs=2:duration=first:normalize=0,"
                                "alimiter=limit=0.5:level=disabled:latency=1[out]");

        args << "-filter_complex" << graph << "-map" << "[out]" << "-ar" << rate << "-ac"
             << QString::number(outFmt.channels) << outFmt.codec << "-map_metadata" << "-1" << path;
        return {args, path};
    }

    // Runs the jobs, at most AParallel at a time, and reports each written file in the jobs' order.
    void Run(const QList<TJob> &AJobs, int AParallel, const std::function<void(const QString &)> &AOnFile)
    {
        std::vector<std::unique_ptr<QProcess>> running(AJobs.size());
        int next = 0;
        for (int done = 0; done < AJobs.size(); ++done) {
            while (next < AJobs.size() && next - done < qMax(1, AParallel)) {
                running[next] = std::make_unique<QProcess>();
                running[next]->start(FFfmpeg, AJobs[next].args);
                ++next;
            }
            Finish(*running[done], FFfmpeg);
            running[done].reset();
            if (QFileInfo(AJobs[done].path).size() <= 0)
                throw EReaderError(QStringLiteral("ffmpeg wrote nothing to %1").arg(AJobs[done].path));
            if (AOnFile)
                AOnFile(AJobs[done].path);
        }
    }

    static QString FileName(const TPlannedRec &ARec, const TFormatSpec &AOutFmt)
    {
        return ARec.start.toString(QStringLiteral("ddMMyyyy")) +
               QStringLiteral("%1").arg(ARec.start.time().hour(), 2, 10, QLatin1Char('0')) + QString::number(ARec.number) +
               QLatin1String(AOutFmt.ext);
    }

private:
    // A spoken line as a 22050 Hz mono WAV; the same line of the same speaker is made once.
    QString Speak(const QString &AText, const TPerson &AWho)
    {
        const QString voice = AWho.female ? QStringLiteral("nl+f3") : QStringLiteral("nl+m3");
        const QString key = voice + QLatin1Char('|') + AText;
        const auto it = FSpoken.constFind(key);
        if (it != FSpoken.constEnd())
            return *it;
        const QString wav = FWork.filePath(QStringLiteral("line%1.wav").arg(FSpoken.size()));
        RunTool(FEspeak, {"-v", voice, "-s", AWho.female ? "165" : "155", "-p", AWho.female ? "60" : "40", "-w", wav,
                          AText});
        FSpoken.insert(key, wav);
        return wav;
    }

    QString FRoot;
    QString FFfmpeg;
    QString FEspeak;
    QTemporaryDir FWork;
    QHash<QString, QString> FSpoken;
};

// The value of [Paths] Database in an INI file (section and key without regard to case), or a null string.
QString IniDatabase(const QString &APath)
{
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&f);
    bool inPaths = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inPaths = line.compare(QLatin1String("[Paths]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (inPaths && eq > 0 && line.left(eq).trimmed().compare(QLatin1String("Database"), Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

void WriteText(const QString &APath, const QByteArray &AText)
{
    QSaveFile f(APath);
    if (!f.open(QIODevice::WriteOnly) || f.write(AText) != AText.size() || !f.commit())
        throw EReaderError(QStringLiteral("cannot write %1: %2").arg(APath, f.errorString()));
}

} // namespace

QString MakeDemo(const QString &AAppDir, const std::function<void(const QString &)> &AOnFile,
                 const TDemoOptions &AOptions)
{
    if (AAppDir.isEmpty())
        throw EReaderError(QStringLiteral("no application folder given"));
    const QString appDir = QDir::cleanPath(QFileInfo(AAppDir).absoluteFilePath());
    const QString demoDir = appDir + QStringLiteral("/demo");
    const QString dbPath = demoDir + QLatin1Char('/') + QLatin1String(CatalogueName);
    const QString root = demoDir + QStringLiteral("/Recordings");
    const QString iniPath = appDir + QLatin1Char('/') + QLatin1String(RecorderIniName);

    // Never replace a real recorder's settings or a folder this generator did not make.
    if (QFileInfo::exists(iniPath)) {
        const QString db = IniDatabase(iniPath);
        if (db.isNull() || QDir::cleanPath(QFileInfo(db).absoluteFilePath()) != dbPath)
            throw EReaderError(QStringLiteral("%1 exists and belongs to a recorder; the demo does not replace it")
                                   .arg(iniPath));
    }
    QDir demo(demoDir);
    if (demo.exists() && !QFileInfo::exists(demo.filePath(QLatin1String(MarkerName))) &&
        !demo.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).isEmpty())
        throw EReaderError(QStringLiteral("%1 exists and was not made by the demo generator; it is left alone")
                               .arg(demoDir));

    if (demo.exists() && !demo.removeRecursively())
        throw EReaderError(QStringLiteral("cannot remove the previous demo in %1").arg(demoDir));
    if (!QDir().mkpath(root))
        throw EReaderError(QStringLiteral("cannot create %1").arg(root));
    WriteText(demo.filePath(QLatin1String(MarkerName)),
              "Demo recordings made by vornak-tool demo; this folder is removed and made anew on every run.\n");

    const QList<TPlannedRec> plan = MakePlan(AOptions.Today, AOptions.MaxSeconds);
    TDemoMaker maker(root);
    QList<TJob> jobs;
    QStringList paths;
    for (const TPlannedRec &r : plan) {
        jobs << maker.Prepare(r);
        paths << jobs.last().path;
    }
    maker.Run(jobs, AOptions.Parallel, AOnFile);

    // The catalogue, built beside its place and renamed into it when complete.
    const QString tmpDb = dbPath + QStringLiteral(".tmp");
    QFile::remove(tmpDb);
    {
        TSqliteDb db(tmpDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Exec(QString::fromLatin1(RecorderTableSql));
        db.Exec(QStringLiteral("BEGIN"));
        for (int i = 0; i < plan.size(); ++i) {
            const TPlannedRec &r = plan[i];
            TSqliteStmt st(db, QStringLiteral("INSERT INTO recordings (rec_dt, rec_date, rec_hour, rec_number, format,"
                                              " filename, filepath, title, persons, duration_sec)"
                                              " VALUES (:dt, :d, :h, :n, :f, :fn, :fp, :t, :p, :s)"));
            st.BindText(":dt", r.start.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
            st.BindText(":d", r.start.toString(QStringLiteral("yyyy-MM-dd")));
            st.BindInt(":h", r.start.time().hour());
            st.BindInt(":n", r.number);
            st.BindText(":f", QString::fromLatin1(OutputFormatOf(r.format, r.stereo).label));
            st.BindText(":fn", QFileInfo(paths[i]).fileName());
            st.BindText(":fp", paths[i]);
            st.BindText(":t", r.described ? QString::fromUtf8(r.topic.title) : QString());
            st.BindText(":p", r.described ? QString::fromUtf8(r.caller.name) + QStringLiteral("\r\n") +
                                                QString::fromUtf8(r.op.name)
                                          : QString());
            st.BindInt(":s", r.seconds);
            st.Step();
        }
        db.Exec(QStringLiteral("COMMIT"));
    }
    if (!QFile::rename(tmpDb, dbPath))
        throw EReaderError(QStringLiteral("cannot move the catalogue into %1").arg(dbPath));

    WriteText(iniPath, QStringLiteral("; Demo recorder settings written by vornak-tool demo\r\n"
                                      "[Paths]\r\nDatabase=%1\r\nRootFolder=%2\r\n")
                           .arg(dbPath, root)
                           .toUtf8());
    return dbPath;
}
