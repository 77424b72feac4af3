// Helpers shared by the main window's tests: finding its widgets by name, mouse events, tone fixtures.
#pragma once

#include "uTiles.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QtGlobal>

// A stereo 440 Hz tone of ASeconds at ARate Hz in APath (its folder made), written by ffmpeg.
inline bool MakeTone(const QString &APath, int ASeconds, int ARate = 44100)
{
    QDir().mkpath(QFileInfo(APath).absolutePath());
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                              QStringLiteral("lavfi"), QStringLiteral("-i"),
                              QStringLiteral("sine=frequency=440:duration=%1").arg(ASeconds), QStringLiteral("-ac"),
                              QStringLiteral("2"), QStringLiteral("-ar"), QString::number(ARate), APath}) == 0;
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
