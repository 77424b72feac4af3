// Exports through the web server: the one export of the audio floor into a private folder of the state
// folder, zipped with its record when asked, then sent and removed; and the Opus transcode streamed to a
// browser that does not play the recording's own codec.
#pragma once

#include "uHttpHead.h"
#include "uReaderTypes.h"

#include <QMap>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

struct TWebExportJob {
    QString Source;          // the recording file (inside the root)
    double DurationSec = 0;  // its decoded length
    TRecInfo Recording;
    QString StateDir;
    TAudioFormat Format = TAudioFormat::afWAV;
    int Bitrate = 128;
    double StartSec = 0;
    double EndSec = 0;
    double TargetLufs = 0;   // 0, -23 or -16
    bool Record = false;     // one ZIP archive: the clip, its .json record and its .sha256
};

// Reads start, end, format, bitrate, loudness and record from a query. False with AError (Dutch).
bool ParseExportQuery(const QMap<QString, QString> &AQuery, TWebExportJob &AJob, QString &AError);

struct TWebExportResult {
    bool Ok = false;
    bool Cancelled = false;
    QString Error;                       // Dutch; empty when cancelled
    QString Sha256;                      // of the clip
    QByteArray MediaType;
    QByteArray Disposition;              // Content-Disposition: attachment; filename=...
    std::shared_ptr<TBodySource> Body;   // the file to send; its folder goes when the last holder lets go
    qint64 Length = 0;
};

// Runs the export through the one export pipeline (ExportRecording) on the calling thread. AStop is asked at every step: true ends the export and leaves
// nothing behind. The folder it works in holds a lock while it lives, so that a later start can tell a
// killed server's folders (RemoveExportDebris) from those of a live one sharing the state folder.
TWebExportResult RunWebExport(const TWebExportJob &AJob, const std::function<bool()> &AStop);

// An Ogg Opus transcode of ASource from AStartSec to its end, produced while it is read (through a pipe;
// memory does not grow with its length). Reading stops, and the encoder with it, when the source is freed
// or AStopping becomes true.
std::shared_ptr<TBodySource> StartOpusTranscode(const QString &ASource, double AStartSec,
                                                const std::atomic<bool> *AStopping);
