// The reader's application object and its default error report.
#include "uApplication.h"

#include "uReaderTypes.h"

#include <QWidget>
#include <exception>

TReaderApplication::TReaderApplication(int &argc, char **argv) : QApplication(argc, argv)
{
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
