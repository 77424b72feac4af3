// The reader's application object: reports an error that no command handled and keeps the window usable,
// and speaks Dutch in Qt's own dialogs and buttons, with Dutch dates, sizes and file types.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <functional>

// Installs Qt's own Dutch texts (qtbase_nl.qm from Qt's translations folder) on app, whatever the system
// locale, so the standard dialogs and buttons read "Annuleren", "Opslaan", "Bestandsnaam:". The translator
// belongs to app. False when the file is missing or unreadable; Qt's texts then stay English.
bool InstallDutchQtTexts(QCoreApplication &AApp);

// Makes Dutch the default locale (numbers, dates, the file types Qt names from the MIME database) and
// has every Qt file dialog of app list sizes and dates in it, whatever the system locale: Qt's file model
// writes those two columns in QLocale::system(), which QLocale::setDefault does not change, so each file
// dialog gets a proxy model over them before it is first shown. Once per application object.
void UseDutchFormats(QApplication &AApp);

class QFileDialog;
// Widens the size, type and date columns of a Qt file dialog's detail list (never narrows them) so that their
// headers and the widest texts the dialog writes there in the default locale ("1.023,99 KiB", "28-12-2026
// 23:58", the Dutch file types) show whole. UseDutchFormats does it for every file dialog as it shows.
void FitFileDialogColumns(QFileDialog &ADialog);

class TReaderApplication : public QApplication {
    Q_OBJECT
public:
    // Installs the Dutch Qt texts (InstallDutchQtTexts) and formats (UseDutchFormats) and uses Qt's own
    // file and folder dialogs, which carry them, rather than the desktop's.
    TReaderApplication(int &AArgc, char **AArgv);

    // Delivers the event; an EReaderError or std::exception escaping a handler is shown through
    // ShowError (a message box with the error's text) and the event counts as handled.
    bool notify(QObject *AReceiver, QEvent *AEvent) override;

    // The default error report; replaceable so tests can see the text without a modal loop.
    std::function<void(const QString &)> ShowError;
};
