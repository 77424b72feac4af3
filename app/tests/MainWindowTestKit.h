// Helpers shared by the main window's tests: finding its widgets by name, mouse events, tone fixtures.
#pragma once

#include "FfmpegKit.h"
#include "TestPrompt.h"
#include "uExport.h"
#include "uMain.h"
#include "uReaderConfig.h"
#include "uReaderData.h"
#include "uTiles.h"
#include "uWaveView.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtGlobal>
#include <QTest>
#include <functional>
#include <memory>

#include <sqlite3.h>

// Runs ASql on the catalogue ADb in a connection of its own; true when it succeeded.
inline bool Exec(const QString &ADb, const QString &ASql)
{
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(ADb).constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, ASql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// A widget or menu item of the window, found by its object name; a missing one ends the test program.
template <class T>
T *Child(const QObject &AWindow, const QString &AName)
{
    T *c = AWindow.findChild<T *>(AName);
    if (!c)
        qFatal("no child %s", qPrintable(AName));
    return c;
}

// Waits until the clock's timer has ticked ATicks times (each tick has shown the position by then, when it
// shows one at all): the time a paused clock must stay put, measured in its own updates. True when it did.
inline bool WaitClockTicks(const TfrmMain &AWindow, int ATicks)
{
    QSignalSpy ticks(Child<QTimer>(AWindow, "TimerPos"), &QTimer::timeout);
    return QTest::qWaitFor([&] { return ticks.count() >= ATicks; }, 10000);
}

// Waits (up to 10 s) until the loaded recording's analysis has ended and the window has shown its end:
// the whole waveform and the recording's own status text. True when it did.
inline bool WaitAnalysed(TfrmMain &AWindow)
{
    return QTest::qWaitFor([&] { return !AWindow.Commands().Analysing(); }, 10000);
}

// A whole recording exported to APath as WAV: the request the export dialog's OK leaves (set StartSec and
// EndSec for the selection).
inline TExportRequest WavExport(const QString &APath)
{
    TExportRequest request;
    request.Path = APath;
    request.Format = TAudioFormat::afWAV;
    request.Bitrate = 128;
    return request;
}

// The operator's answer to the export dialog, for TTestPrompt::OnRun: ARequest, as if OK had been pressed;
// any other dialog is cancelled. AOnDialog, when given, reads the dialog first (the offered name, a kept
// choice).
inline std::function<int(QDialog &)> AnswerExport(const TExportRequest &ARequest,
                                                  std::function<void(TfrmExport &)> AOnDialog = nullptr)
{
    return [ARequest, AOnDialog](QDialog &ADialog) {
        auto *dialog = qobject_cast<TfrmExport *>(&ADialog);
        if (!dialog)
            return int(QDialog::Rejected);
        if (AOnDialog)
            AOnDialog(*dialog);
        dialog->Request = ARequest;
        return int(QDialog::Accepted);
    };
}

inline TTileButton *HourTile(const QObject &AWindow, int AHour)
{
    return Child<TTileButton>(AWindow, QStringLiteral("tileHour%1").arg(AHour));
}

inline void SendMouse(QWidget *AWidget, QEvent::Type AType, const QPoint &APos, Qt::MouseButton AButton,
                      Qt::MouseButtons AButtons)
{
    QMouseEvent e(AType, QPointF(APos), QPointF(AWidget->mapToGlobal(APos)), AButton, AButtons, Qt::NoModifier);
    QApplication::sendEvent(AWidget, &e);
}

// A drag in the wave band of AWave from AFrom to ATo, both parts of its width (equal: a plain click).
inline void DragSelect(TWaveView *AWave, double AFrom, double ATo)
{
    const TWaveBands b = TWaveBands::For(AWave->height());
    const int y = (b.WaveTop + b.WaveBottom) / 2;
    const QPoint p0(int(AWave->width() * AFrom), y), p1(int(AWave->width() * ATo), y);
    SendMouse(AWave, QEvent::MouseButtonPress, p0, Qt::LeftButton, Qt::LeftButton);
    if (p1 != p0)
        SendMouse(AWave, QEvent::MouseMove, p1, Qt::NoButton, Qt::LeftButton);
    SendMouse(AWave, QEvent::MouseButtonRelease, p1, Qt::LeftButton, Qt::NoButton);
}

// Settings of a test: the reader's settings file in AAppDir with this catalogue and recordings folder, the
// default output, and AExportFolder when given; the prompt starts with no messages and no dialog driver.
inline void StartSettings(TTestPrompt &APrompt, const QString &AAppDir, const QString &ADb, const QString &ARoot,
                          const QString &AExportFolder = QString())
{
    Config = std::make_unique<TConfig>(AAppDir);
    Config->SetDatabasePath(ADb);
    Config->SetRecordingsRoot(ARoot);
    if (!AExportFolder.isEmpty())
        Config->SetExportFolder(AExportFolder);
    Config->SetOutputDevice(-1);
    Config->Save();
    APrompt.Messages.clear();
    APrompt.Runs = 0;
    APrompt.OnRun = nullptr;
    APrompt.OnMessage = nullptr;
}

// What a test leaves behind: the catalogue connection and the settings go before the next test.
inline void EndSettings()
{
    ReaderData.reset();
    Config.reset();
}

// The real main window, shown with the test's prompt; AActivate waits until it is the active window
// (keys reach only that one), else until it is exposed.
inline std::unique_ptr<TfrmMain> ShowMain(TTestPrompt &APrompt, bool AActivate = false)
{
    auto w = std::make_unique<TfrmMain>();
    w->Commands().SetPrompt(APrompt);
    w->show();
    if (AActivate) {
        QApplication::setActiveWindow(w.get());
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("window not active");
    } else if (!QTest::qWaitForWindowExposed(w.get())) {
        qWarning("window not exposed");
    }
    // The design size: the window fitted itself into the offscreen screen (800 × 600), smaller than that.
    w->resize(MainClientWidth, MainClientHeight + w->menuBar()->sizeHint().height());
    return w;
}
