// Helpers shared by the settings store's tests: the reader's settings file name, whole-file reads and
// writes, and UTF-16 text with its byte order mark.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

inline const char *const IniName = "VornakReader2026.ini";

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadAll(const QString &APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Writes the file whole, making its folder first.
inline bool WriteAll(const QString &APath, const QByteArray &AData)
{
    QDir().mkpath(QFileInfo(APath).absolutePath());
    QFile f(APath);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(AData) == AData.size();
}

// UTF-16 little endian with its byte order mark.
inline QByteArray Utf16(const QString &AText)
{
    QByteArray b("\xFF\xFE");
    for (QChar c : AText) {
        b += char(c.unicode() & 0xFF);
        b += char(c.unicode() >> 8);
    }
    return b;
}
