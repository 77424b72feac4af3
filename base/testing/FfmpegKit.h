// Test fixtures made by the ffmpeg program, for the tests of every folder (target ffmpeg_testing).
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

// True when the ffmpeg program can be found. tools/install.sh installs it: a test that needs it fails
// without it (QVERIFY2(HaveFfmpeg(), ...)); it does not skip.
inline bool HaveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

// Runs the ffmpeg program quietly, overwriting its output; standard output into AOut when given. False
// when it cannot run, fails or takes longer than ATimeoutMs.
inline bool Ffmpeg(const QStringList &AArgs, QByteArray *AOut = nullptr, int ATimeoutMs = 120000)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + AArgs);
    if (!p.waitForFinished(ATimeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (AOut)
        *AOut = p.readAllStandardOutput();
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
