// 16-bit PCM WAV files: the 44-byte header and a writer that checks every write.
#include "uWavWriter.h"

#include "uReaderTypes.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void PutLE(QByteArray &b, int at, quint32 v, int n)
{
    for (int i = 0; i < n; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

[[noreturn]] void WriteError()
{
    throw EReaderError(QStringLiteral("Stream write error"));
}

} // namespace

QByteArray WavHeader(int sampleRate, int channels, quint32 dataBytes)
{
    QByteArray h(44, '\0');
    std::memcpy(h.data(), "RIFF", 4);
    PutLE(h, 4, dataBytes + 36u, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLE(h, 16, 16, 4);
    PutLE(h, 20, 1, 2);
    PutLE(h, 22, static_cast<quint32>(channels), 2);
    PutLE(h, 24, static_cast<quint32>(sampleRate), 4);
    PutLE(h, 28, static_cast<quint32>(sampleRate) * static_cast<quint32>(channels) * 2u, 4);
    PutLE(h, 32, static_cast<quint32>(channels) * 2u, 2);
    PutLE(h, 34, 16, 2);
    std::memcpy(h.data() + 36, "data", 4);
    PutLE(h, 40, dataBytes, 4);
    return h;
}

TWavWriter::~TWavWriter()
{
    CloseFile();
}

void TWavWriter::Create(const QString &path, int sampleRate, int channels)
{
    CloseFile();
    FDataBytes = 0;
    const QByteArray native = PathBytes(path);
    do {
        FFd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (FFd < 0 && errno == EINTR);
    if (FFd < 0) {
        const QString cause = QString::fromLocal8Bit(std::strerror(errno));
        throw EReaderError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, cause));
    }
    // Both sizes stay 0 until Finish: a RIFF size of 36 would claim a complete, empty file.
    QByteArray header = WavHeader(sampleRate, channels, 0);
    std::memset(header.data() + 4, 0, 4);
    WriteAll(header.constData(), header.size(), -1);
}

void TWavWriter::Write(const void *data, qint64 bytes)
{
    WriteAll(data, bytes, -1);
    FDataBytes += bytes;
}

void TWavWriter::Finish()
{
    if (FFd < 0)
        WriteError();
    if (FDataBytes > WavMaxDataBytes)
        WriteError();
    const quint32 data = static_cast<quint32>(FDataBytes);
    const QByteArray header = WavHeader(1, 1, data);
    WriteAll(header.constData() + 4, 4, 4);
    WriteAll(header.constData() + 40, 4, 40);
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        WriteError();
}

void TWavWriter::WriteAll(const void *data, qint64 bytes, qint64 offset)
{
    if (FFd < 0)
        WriteError();
    const char *p = static_cast<const char *>(data);
    while (bytes > 0) {
        const ssize_t n = offset < 0 ? ::write(FFd, p, static_cast<size_t>(bytes))
                                     : ::pwrite(FFd, p, static_cast<size_t>(bytes), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            WriteError();
        p += n;
        bytes -= n;
        if (offset >= 0)
            offset += n;
    }
}

void TWavWriter::CloseFile()
{
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}
