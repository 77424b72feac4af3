// Start-up of Vornak Reader 2026: settings, application, theme, main window.
#include "uAbout.h"
#include "uApplication.h"
#include "uDemo.h"
#include "uMain.h"
#include "uProgress.h"
#include "uReaderConfig.h"
#include "uReaderTypes.h"
#include "uTheme.h"
#include "uVersion.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// A newcomer's first run: no settings of our own and no recorder anywhere we look. Then the demo
// generator writes a demo catalogue and a recorder settings file beside us (a system install: in the
// user's data folder, the last place the settings store looks), so the reader opens on it.
void MakeDemoForNewcomer(int &AArgc, char **AArgv)
{
    const TSettingsPlaces places = SettingsPlacesFor(AppDir());
    if (QFileInfo::exists(places.SettingsDir + QStringLiteral("VornakReader2026.ini")))
        return;
    for (const QString &c : places.RecorderIniCandidates)
        if (QFileInfo::exists(c))
            return;
    std::fprintf(stderr, "Vornak Reader 2026: geen recorder gevonden; demo-opnames worden aangemaakt...\n");
    try {
        // The generator runs the ffmpeg command line on a thread of its own (10-20 s) while a small window
        // says what happens; this application is gone again before the settings are read.
        QApplication demoApp(AArgc, AArgv);
        // A hidden window waits for the demo all the same. Qt keeps this choice for the whole process, not
        // for this application object: main turns it on again for the reader's own application.
        demoApp.setQuitOnLastWindowClosed(false);
        InstallDutchQtTexts(demoApp);
        ApplyDarkTheme(demoApp);
        demoApp.setWindowIcon(ReaderIcon());
        TfrmProgress wait;
        wait.setWindowTitle(ReaderTitle());
        wait.SetAllowCancel(false);
        wait.SetProgress(0, QStringLiteral("Demo-opnames aanmaken..."));
        wait.SetUnknownProgress();  // no percentage to tell
        wait.show();
        std::exception_ptr failure;
        std::unique_ptr<QThread> maker(QThread::create([&failure, &places] {
            try {
                MakeDemo(places.DemoDir);
            } catch (...) {
                failure = std::current_exception();
            }
        }));
        QEventLoop loop;
        QObject::connect(maker.get(), &QThread::finished, &loop, &QEventLoop::quit);
        maker->start();
        loop.exec();
        maker->wait();
        if (failure)
            std::rethrow_exception(failure);
    } catch (const std::exception &e) {
        // Without a demo the reader still starts and tells that no catalogue is open.
        std::fprintf(stderr, "Demo niet aangemaakt: %s\n", e.what());
    }
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    MakeDemoForNewcomer(AArgc, AArgv);

    // 1. Settings before the application object and before any window.
    try {
        Config = std::make_unique<TConfig>();
    } catch (const std::exception &e) {
        const EReaderError *re = dynamic_cast<const EReaderError *>(&e);
        const QString text = re ? re->Message() : QString::fromLocal8Bit(e.what());
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        QApplication failApp(AArgc, AArgv);
        InstallDutchQtTexts(failApp);
        QMessageBox::critical(nullptr, ReaderTitle(), text);
        return 1;
    }

    // 2-4. The application, the built-in dark theme, the title.
    int exitCode = 0;
    {
        TReaderApplication app(AArgc, AArgv);
        // Closing the main window (its close box or "Afsluiten") ends the reader, also after the demo's start.
        app.setQuitOnLastWindowClosed(true);
        app.setApplicationName(ReaderTitle());
        // The icon of every window, and the desktop entry the window belongs to (its menu icon and name).
        app.setWindowIcon(ReaderIcon());
        app.setDesktopFileName(QStringLiteral("nl.vornak.VornakReader2026"));
        if (!ApplyDarkTheme(app))
            QMessageBox::critical(nullptr, ReaderTitle(),
                                  QStringLiteral("Het thema \"%1\" kon niet worden toegepast.")
                                      .arg(QLatin1String(BuiltInThemeName)));
        // 5. The optional theme file; any failure is ignored silently.
        LoadStyleFile(app, AppDir() + QLatin1String(ThemeFileName));
        // 6-7. The one main window and the message loop.
        TfrmMain frmMain;
        frmMain.show();
        exitCode = app.exec();
    }
    Config.reset();  // last, without saving
    // Everything of ours is closed now: once sound was used, the audio layer's exit guard (uAudioExit) ends
    // the process after main returns, before Qt Multimedia's static teardown.
    return exitCode;
}
