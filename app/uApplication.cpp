// The reader's application object, its default error report and Qt's Dutch texts.
#include "uApplication.h"

#include "uReaderTypes.h"

#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>
#include <exception>

bool InstallDutchQtTexts(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    // By file name, not by QLocale: the reader is Dutch on a machine of any locale.
    if (!translator->load(QStringLiteral("qtbase_nl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

TReaderApplication::TReaderApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    InstallDutchQtTexts(*this);
    // A desktop's own file dialogs speak the desktop's language; Qt's own speak the reader's.
    setAttribute(Qt::AA_DontUseNativeDialogs);
    ShowError = [](const QString &AText) {
        QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Vornak Reader 2026"), AText);
    };
}

bool TReaderApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const EReaderError &e) {
        if (ShowError)
            ShowError(e.Message());
    } catch (const std::exception &e) {
        if (ShowError)
            ShowError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        if (ShowError)
            ShowError(QStringLiteral("Onbekende fout."));
    }
    return true;
}
