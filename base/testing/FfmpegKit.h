// Test fixtures made by the ffmpeg program, for the tests of every folder (target ffmpeg_testing).
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <unistd.h>
#include <utime.h>

// True when the ffmpeg program can be found. tools/install.sh installs it: a test that needs it fails
// without it (QVERIFY2(HaveFfmpeg(), ...)); it does not skip.
inline bool HaveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

namespace ffmpeg_kit {

// The folder in which the tests keep what ffmpeg made (VORNAK_FIXTURE_CACHE, set by ctest), shared by the tests
// of a build and by both builds of the test command; empty: every run is made anew. A file's time is that of
// its last use; tools/test.sh removes those unused for a month (fixtures of tests changed since).
inline QString CacheFolder()
{
    return qEnvironmentVariable("VORNAK_FIXTURE_CACHE");
}

// The name of a run in that folder: the program (path, size, time), the arguments, every argument that names a
// file by that file's bytes (so a fixture made from another fixture follows it), and the output by its name
// alone (its extension chooses the container; its folder is the test's own).
inline QString RunKey(const QString &AProgram, const QStringList &AArgs, int AOutput)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QFileInfo program(AProgram);
    hash.addData(program.canonicalFilePath().toUtf8() + '\n' + QByteArray::number(program.size()) + '\n' +
                 QByteArray::number(program.lastModified().toMSecsSinceEpoch()) + '\n');
    for (int i = 0; i < AArgs.size(); ++i) {
        const QFileInfo file(AArgs[i]);
        QFile input(AArgs[i]);
        if (i == AOutput) {
            hash.addData("output " + file.fileName().toUtf8());
        } else if (file.isFile() && input.open(QIODevice::ReadOnly)) {
            hash.addData(QByteArrayLiteral("file "));
            hash.addData(&input);
        } else {
            hash.addData("arg " + AArgs[i].toUtf8());
        }
        hash.addData(QByteArrayLiteral("\n"));
    }
    return QString::fromLatin1(hash.result().toHex());
}

// Keeps what AWrite writes to the path it is given under the name AKept in the shared folder: written under a
// temporary name beside it and renamed, so that a test reading AKept sees the whole file or none (other tests
// read the folder at the same time). Nothing is kept when AWrite fails.
inline void Keep(const QString &AKept, const std::function<bool(const QString &)> &AWrite)
{
    const QString part = AKept + QStringLiteral(".part%1").arg(::getpid());
    QFile::remove(part);
    if (AWrite(part))
        std::rename(QFile::encodeName(part).constData(), QFile::encodeName(AKept).constData());
    QFile::remove(part);
}

} // namespace ffmpeg_kit

// Runs the ffmpeg program quietly, overwriting its output; standard output into AOut when given. False
// when it cannot run, fails or takes longer than ATimeoutMs. The output (the last argument, or standard output
// when it is "-") is kept in the tests' shared folder and copied from there when the same run is asked again:
// ffmpeg gives the same bytes for the same input, so a test sees the file it would have made.
inline bool Ffmpeg(const QStringList &AArgs, QByteArray *AOut = nullptr, int ATimeoutMs = 120000)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    const bool toStdout = !AArgs.isEmpty() && AArgs.last() == QLatin1String("-");
    const QString cache = ffmpeg_kit::CacheFolder();
    QString kept;
    if (!program.isEmpty() && !cache.isEmpty() && !AArgs.isEmpty() && (AOut || !toStdout) &&
        QDir().mkpath(cache)) {
        kept = cache + QLatin1Char('/') + ffmpeg_kit::RunKey(program, AArgs, AArgs.size() - 1);
        if (QFileInfo(kept).isFile()) {
            ::utime(QFile::encodeName(kept).constData(), nullptr);  // in use: the test command prunes by this time
            if (toStdout) {
                QFile f(kept);
                if (f.open(QIODevice::ReadOnly)) {
                    *AOut = f.readAll();
                    return true;
                }
            } else {  // written in place, as ffmpeg itself writes it
                QFile::remove(AArgs.last());
                if (QFile::copy(kept, AArgs.last()))
                    return true;
            }
        }
    }

    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + AArgs);
    if (!p.waitForFinished(ATimeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    const QByteArray out = p.readAllStandardOutput();
    if (AOut)
        *AOut = out;
    if (!kept.isEmpty()) {  // a failure to keep it costs only the next test's time
        ffmpeg_kit::Keep(kept, [&](const QString &APart) {
            if (!toStdout)
                return QFile::copy(AArgs.last(), APart);
            QFile f(APart);
            return f.open(QIODevice::WriteOnly) && f.write(out) == out.size() && f.flush();
        });
    }
    return true;
}

// A stereo 440 Hz tone of ASeconds at ARate Hz in APath (its folder made).
inline bool MakeTone(const QString &APath, int ASeconds, int ARate = 44100)
{
    QDir().mkpath(QFileInfo(APath).absolutePath());
    return Ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("sine=frequency=440:duration=%1").arg(ASeconds), QStringLiteral("-ac"),
                   QStringLiteral("2"), QStringLiteral("-ar"), QString::number(ARate), APath});
}
