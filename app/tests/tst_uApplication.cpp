// The reader's application object on an English system: Qt's file dialogs list sizes, dates and file types
// in Dutch.
#include "uApplication.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void fileDialogListsInDutch_data();
    void fileDialogListsInDutch();
};

void TestApplication::fileDialogListsInDutch_data()
{
    QTest::addColumn<bool>("bySaveFunction");  // opened as QFileDialog::getSaveFileName opens it
    QTest::addRow("dialog object") << false;
    QTest::addRow("save function") << true;
}

// Read from the model behind the dialog's detail list, as the list shows it.
void TestApplication::fileDialogListsInDutch()
{
    QFETCH(bool, bySaveFunction);
    QCOMPARE(QLocale::system().name(), QStringLiteral("en_US"));  // set by main(): the case that failed
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime modified(QDate(2026, 12, 10), QTime(14, 5));
    QFile file(dir.filePath(QStringLiteral("gesprek.mp3")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(QByteArray(321034, '\x5a')) == 321034);
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("map")));

    QMap<QString, QStringList> rows;  // name: size, type, date
    const auto read = [&](QFileDialog *ADialog) {
        auto *view = ADialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(view);
        const QAbstractItemModel *model = view->model();
        QTRY_COMPARE(model->rowCount(view->rootIndex()), 2);
        for (int row = 0; row < 2; ++row) {
            const QModelIndex name = model->index(row, 0, view->rootIndex());
            rows[name.data().toString()] = QStringList{name.siblingAtColumn(1).data().toString(),
                                                       name.siblingAtColumn(2).data().toString(),
                                                       name.siblingAtColumn(3).data().toString()};
        }
    };
    if (bySaveFunction) {
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;  // the lists below stay empty
            dialog->setViewMode(QFileDialog::Detail);
            read(dialog);
            dialog->reject();
        });
        QFileDialog::getSaveFileName(nullptr, QStringLiteral("Opslaan"), dir.path());
    } else {
        QFileDialog dialog(nullptr, QStringLiteral("Openen"), dir.path());
        dialog.setViewMode(QFileDialog::Detail);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        read(&dialog);
    }
    QCOMPARE(rows.value(QStringLiteral("gesprek.mp3")),
             (QStringList{QStringLiteral("313,51 KiB"), QStringLiteral("MP3-audio"), QStringLiteral("10-12-2026 14:05")}));
    const QStringList folder = rows.value(QStringLiteral("map"));
    QCOMPARE(folder.size(), 3);
    QCOMPARE(folder[0], QString());
    QCOMPARE(folder[1], QStringLiteral("map"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d$")).match(folder[2]).hasMatch(),
             qPrintable(folder[2]));
}

int main(int AArgc, char *AArgv[])
{
    // An English system: Qt would list "313.51 KiB" and "12/10/26 2:05 PM" there.
    qputenv("LC_ALL", "en_US.UTF-8");
    TReaderApplication app(AArgc, AArgv);
    TestApplication tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uApplication.moc"
