// 16-bit PCM WAV files: the 44-byte header and a writer that checks every write.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Largest data size the 32-bit size fields can describe (the RIFF size holds data + 36).
constexpr qint64 WavMaxDataBytes = 0xFFFFFFFFLL - 36;

// The 44-byte header of a 16-bit PCM file, little-endian: RIFF size ADataBytes + 36, data size ADataBytes.
QByteArray WavHeader(int ASampleRate, int AChannels, quint32 ADataBytes);

// Writes one WAV file straight to the file descriptor (no user-space buffer, so a short write is seen at
// once). The header is written with both sizes 0; Finish patches them to the bytes written. Errors are
// raised as EReaderError: "Cannot create file "<path>". <system text>" and "Stream write error". A writer
// destroyed without Finish closes its file and leaves the zero sizes in place.
class TWavWriter {
public:
    TWavWriter() = default;
    ~TWavWriter();
    TWavWriter(const TWavWriter &) = delete;
    TWavWriter &operator=(const TWavWriter &) = delete;

    // Creates the file (replacing one of that name) and writes the header with zero sizes.
    void Create(const QString &APath, int ASampleRate, int AChannels);
    // Appends sample bytes; raises "Stream write error" unless all of them reached the file.
    void Write(const void *AData, qint64 ABytes);
    // Patches the size fields to DataBytes and closes the file; raises "Stream write error" on failure.
    void Finish();
    qint64 DataBytes() const { return FDataBytes; }

private:
    void WriteAll(const void *AData, qint64 ABytes, qint64 AOffset);  // offset -1 = at the end
    void CloseFile();

    int FFd = -1;
    qint64 FDataBytes = 0;
};
