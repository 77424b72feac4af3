// Export records: SHA-256 checksums of files and the record written beside an exported clip (what was
// exported, from which recording, when, by whom and with what). The export pipeline writes them; the check
// of a clip against its record is uEvidenceCheck.
#pragma once

#include "uReaderTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The SHA-256 of a file's content, read once from start to end; the path by its bytes (PathBytes).
struct TFileDigest {
    QByteArray Hex;      // 64 lowercase hexadecimal digits; empty when the file could not be read
    qint64 Bytes = -1;   // bytes read
    QDateTime Modified;  // the file's modification time (UTC) as it was when the read began
    int Error = 0;       // errno of the failure; 0 when Hex is valid
    bool Ok() const { return Error == 0 && !Hex.isEmpty(); }
};
TFileDigest Sha256OfFile(const QString &APath);

// One line of a `sha256sum` listing for AName, with the escape `sha256sum` uses for a name holding a
// backslash or a line break (the line then starts with a backslash); every other byte of the name (PathBytes)
// as it is, also when it is not UTF-8. Ends in '\n'.
QByteArray Sha256Line(const QByteArray &AHex, const QString &AName);

// The record's file and the checksum line's file of a clip: "<clip>.json" and "<clip>.sha256".
QString EvidenceRecordPath(const QString &AClip);
QString EvidenceChecksumPath(const QString &AClip);

// The program named in a record: its version, and the libraries whose versions decide the exported bytes.
QString EvidenceProgramVersion();
QString EvidenceLibrariesText();

// What a record says about one export besides the two checksums.
struct TEvidenceFacts {
    QString Source;          // the recording file
    QString Clip;            // the clip as the export named it (the record keeps its file name)
    TAudioFormat Format = TAudioFormat::afWAV;
    int Bitrate = 128;       // kbit/s; not used for WAV
    double TargetLufs = 0;   // 0: samples unchanged; -23 or -16: normalised
    const TRecInfo *Recording = nullptr;  // the catalogue row (borrowed); null: none known
    QString ProgramName;                  // "VornakReader2026", "vornak-tool"
    double ClipSeconds = 0;  // the audio the clip holds
    double StartSec = 0;     // the range as exported: from the start (0) to the end (the decoded length)
    double EndSec = 0;
};

// The record of one export (UTF-8 JSON, indented): clip, source, recording, range, time, host, user, program.
QByteArray EvidenceRecordText(const TEvidenceFacts &AFacts, const TFileDigest &AClip, const TFileDigest &ASource);

