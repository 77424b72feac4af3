// 16-bit PCM WAV files: the 44-byte header and a writer that checks every write.
#include "uWavWriter.h"

#include "uReaderTypes.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void PutLE(QByteArray &ABytes, int AAt, quint32 AValue, int AByteCount)
{
    for (int i = 0; i < AByteCount; ++i)
        ABytes[AAt + i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

[[noreturn]] void WriteError()
{
    throw EReaderError(QStringLiteral("Stream write error"));
}

} // namespace

QByteArray WavHeader(int ASampleRate, int AChannels, quint32 ADataBytes)
{
    QByteArray h(44, '\0');
    std::memcpy(h.data(), "RIFF", 4);
    PutLE(h, 4, ADataBytes + 36u, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLE(h, 16, 16, 4);
    PutLE(h, 20, 1, 2);
    PutLE(h, 22, static_cast<quint32>(AChannels), 2);
    PutLE(h, 24, static_cast<quint32>(ASampleRate), 4);
    PutLE(h, 28, static_cast<quint32>(ASampleRate) * static_cast<quint32>(AChannels) * 2u, 4);
    PutLE(h, 32, static_cast<quint32>(AChannels) * 2u, 2);
    PutLE(h, 34, 16, 2);
    std::memcpy(h.data() + 36, "data", 4);
    PutLE(h, 40, ADataBytes, 4);
    return h;
}

TWavWriter::~TWavWriter()
{
    CloseFile();
}

void TWavWriter::Create(const QString &APath, int ASampleRate, int AChannels)
{
    CloseFile();
    FDataBytes = 0;
    const QByteArray native = PathBytes(APath);
    do {
        FFd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (FFd < 0 && errno == EINTR);
    if (FFd < 0) {
        const QString cause = QString::fromLocal8Bit(std::strerror(errno));
        throw EReaderError(QStringLiteral("Cannot create file \"%1\". %2").arg(APath, cause));
    }
    // Both sizes stay 0 until Finish: a RIFF size of 36 would claim a complete, empty file.
    QByteArray header = WavHeader(ASampleRate, AChannels, 0);
    std::memset(header.data() + 4, 0, 4);
    WriteAll(header.constData(), header.size(), -1);
}

void TWavWriter::Write(const void *AData, qint64 ABytes)
{
    WriteAll(AData, ABytes, -1);
    FDataBytes += ABytes;
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

void TWavWriter::WriteAll(const void *AData, qint64 ABytes, qint64 AOffset)
{
    if (FFd < 0)
        WriteError();
    const char *p = static_cast<const char *>(AData);
    while (ABytes > 0) {
        const ssize_t n = AOffset < 0 ? ::write(FFd, p, static_cast<size_t>(ABytes))
                                     : ::pwrite(FFd, p, static_cast<size_t>(ABytes), AOffset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            WriteError();
        p += n;
        ABytes -= n;
        if (AOffset >= 0)
            AOffset += n;
    }
}

void TWavWriter::CloseFile()
{
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}
