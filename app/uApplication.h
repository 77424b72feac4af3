// The reader's application object: reports an error that no command handled and keeps the window usable.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <functional>

class TReaderApplication : public QApplication {
    Q_OBJECT
public:
    TReaderApplication(int &argc, char **argv);

    // Delivers the event; an EReaderError or std::exception escaping a handler is shown through
    // ShowError (a message box with the error's text) and the event counts as handled.
    bool notify(QObject *receiver, QEvent *event) override;

    // The default error report; replaceable so tests can see the text without a modal loop.
    std::function<void(const QString &)> ShowError;
};
