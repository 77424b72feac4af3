// Demo for a first run without a recorder: a few days of generated recordings in the recorder's folder
// layout, the recorder's catalogue of them, and a recorder settings file that points at both.
#pragma once

#include <QDate>
#include <QString>
#include <functional>

// Writes into AAppDir (created when missing):
//   demo/Vornak2026.sqlite            the `recordings` table as the recorder keeps it
//   demo/Recordings/yyyy/MM/dd/<ddMMyyyy><hh><n>.<ext>   WAV, MP3, OGG, Opus and FLAC recordings of 20-90 s
//   Vornak2026.ini                    [Paths] Database=... and RootFolder=... pointing at them
// The days are today and the three days before it. Audio is generated with the ffmpeg command line
// (speech from espeak-ng when it is installed, mixed with tones and noise), peaking at -3 dBFS or lower
// without clipping. Running it again recreates the demo. It refuses (and changes nothing) when demo/ exists
// but was not made by it, or when Vornak2026.ini exists and points elsewhere (a real recorder's settings are
// never replaced).
struct TDemoOptions {
    QDate Today = QDate::currentDate();  // the newest of the four days
    int MaxSeconds = 0;                  // > 0: no recording longer than this (tests); 0: 20-90 s
    int Parallel = 2;                    // ffmpeg processes at a time
};

// AOnFile is called with the path of each recording file once it is written. Returns the catalogue's path.
// Throws EReaderError with the reason on any failure.
QString MakeDemo(const QString &AAppDir, const std::function<void(const QString &)> &AOnFile = {},
                 const TDemoOptions &AOptions = TDemoOptions());
