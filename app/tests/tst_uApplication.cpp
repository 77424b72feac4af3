// The reader's application object on an English system: Qt's file dialogs list sizes, dates and file types
// in Dutch.
#include "TestMain.h"
#include "uApplication.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTest>

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void fileDialogListsInDutch_data();
    void fileDialogListsInDutch();
    void fileDialogColumnsShowTheirTextsWhole_data();
    void fileDialogColumnsShowTheirTextsWhole();
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

void TestApplication::fileDialogColumnsShowTheirTextsWhole_data()
{
    QTest::addColumn<int>("width");  // of the dialog; 0: as it opens
    QTest::addRow("as it opens") << 0;
    QTest::addRow("1200 px") << 1200;
}

// Size, type and date of a file and of a folder, and the columns' headers, each as wide as its column at most:
// the list shows them without an ellipsis. Measured as the list itself measures them, not in pixels.
void TestApplication::fileDialogColumnsShowTheirTextsWhole()
{
    QFETCH(int, width);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("opname.wav")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(QByteArray(12700, '\x5a')) == 12700);  // "12,40 KiB"
    QVERIFY(file.setFileTime(QDateTime(QDate(2026, 12, 11), QTime(23, 58)), QFileDevice::FileModificationTime));
    file.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("map")));
    QFileDialog dialog(nullptr, QStringLiteral("Exporteren"), dir.path());
    dialog.setViewMode(QFileDialog::Detail);
    if (width > 0)
        dialog.resize(width, 600);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *view = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    QVERIFY(view);
    QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), 2);
    QCOMPARE(view->model()->index(0, 1, view->rootIndex()).siblingAtColumn(3).data().toString().size() +
                 view->model()->index(1, 1, view->rootIndex()).siblingAtColumn(3).data().toString().size(),
             2 * 16);  // "dd-MM-yyyy hh:mm"
    const QHeaderView *header = view->header();
    for (int column = 1; column <= 3; ++column) {
        const QString what = QStringLiteral("column %1 (%2 px)").arg(column).arg(header->sectionSize(column));
        const QAbstractItemView *list = view;  // QTreeView hides its measure of a column
        QVERIFY2(list->sizeHintForColumn(column) <= header->sectionSize(column), qPrintable(what));
        QVERIFY2(header->sectionSizeHint(column) <= header->sectionSize(column), qPrintable(what));
    }
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    // An English system: Qt would list "313.51 KiB" and "12/10/26 2:05 PM" there.
    qputenv("LC_ALL", "en_US.UTF-8");
    // Qt's file dialogs keep their column widths in the user's settings and start from them: a first run,
    // from Qt's own widths.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    TReaderApplication app(AArgc, AArgv);
    TestApplication tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uApplication.moc"
