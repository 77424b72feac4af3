// The dark look of the reader: Qt's Fusion style with our dark palette, and the optional palette file
// "Windows10Dark.vsf" beside the executable that replaces it.
#pragma once

#include <QByteArray>
#include <QPalette>
#include <QString>

class QApplication;

// Name of the built-in theme, as the operator knows it.
extern const char *const BuiltInThemeName;  // "Windows10 Dark"
// File name of the optional theme file, looked for in AppDir().
extern const char *const ThemeFileName;     // "Windows10Dark.vsf"

// The built-in dark palette (close to the dark Windows 10 look: face RGB 43,43,43).
QPalette DarkPalette();

// Applies the Fusion style and DarkPalette() to the whole application. False when Fusion is missing.
bool ApplyDarkTheme(QApplication &AApp);

// Parses a theme file (format in docs/operators-guide.md: a first line "VornakReaderTheme 1", then one
// "Role[.Group] = #RRGGBB" per line, ';' comment lines and blank lines allowed). Starts from DarkPalette(),
// so roles that the file leaves out keep their dark colour. Strict: any unknown role or group, a
// malformed colour, a role given twice, a missing or wrong first line, more than 64 KiB or text that
// is not UTF-8 makes the whole file invalid (false, APalette untouched).
bool ParseThemeFile(const QByteArray &AData, QPalette &APalette);

// Step 5 of start-up: when APath exists and is a valid theme file, applies its palette. Every failure is
// silent; the return tells whether the file was applied.
bool LoadStyleFile(QApplication &AApp, const QString &APath);
