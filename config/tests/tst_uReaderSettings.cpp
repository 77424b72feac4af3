// Settings dialog: fields from the settings, device choice, trimmed paths saved, browse hooks, failed save.
#include "ConfigTestKit.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uReaderConfig.h"
#include "uReaderSettings.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

namespace {

const QList<QPair<QString, int>> Devices = {
    {"Standaard uitvoerapparaat", -1}, {"Sink1", 1}, {"Sink2", 2}, {"Headset", 3}};

} // namespace

class TestReaderSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fieldsComeFromConfig();
    void deviceOfConfigIsSelected_data();
    void deviceOfConfigIsSelected();
    void opslaanStoresTrimmedValuesAndSaves();
    void annulerenAfterBrowsingChangesNothing();
    void dbBrowseStartsInTheFoldersOfThePath();
    void rootBrowseOffersTheFolderChooser();
    void failedSaveShowsItsMessageAndStaysOpen();

private:
    std::unique_ptr<QTemporaryDir> FTmp;
    std::unique_ptr<TConfig> FConfig;
    QString FAppDir;
};

void TestReaderSettings::init()
{
    FTmp = std::make_unique<QTemporaryDir>();
    QVERIFY(FTmp->isValid());
    FAppDir = FTmp->filePath("app");
    QVERIFY(QDir().mkpath(FAppDir));
    FConfig = std::make_unique<TConfig>(FAppDir);
    FConfig->SetDatabasePath(FTmp->filePath("db/catalogue.sqlite"));
    FConfig->SetRecordingsRoot(FTmp->filePath("rec"));
    FConfig->SetOutputDevice(-1);
    FConfig->Save();
}

void TestReaderSettings::cleanup()
{
    FConfig.reset();
    FTmp.reset();
}

void TestReaderSettings::fieldsComeFromConfig()
{
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Instellingen"));
    QCOMPARE(dlg.size(), QSize(560, 244));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->text(), FTmp->filePath("db/catalogue.sqlite"));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edRoot"))->text(), FTmp->filePath("rec"));
    QCOMPARE(dlg.findChild<QComboBox *>(QStringLiteral("cbDevice"))->count(), 4);
    QVERIFY(!dlg.findChild<QComboBox *>(QStringLiteral("cbDevice"))->isEditable());
    QVERIFY(dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isDefault());
}

void TestReaderSettings::deviceOfConfigIsSelected_data()
{
    QTest::addColumn<int>("configured");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("stored");  // what "Opslaan" then stores
    QTest::addRow("default") << -1 << 0 << -1;
    QTest::addRow("device 2") << 2 << 2 << 2;
    QTest::addRow("device gone") << 7 << 0 << -1;
}

void TestReaderSettings::deviceOfConfigIsSelected()
{
    QFETCH(int, configured);
    QFETCH(int, index);
    QFETCH(int, stored);
    FConfig->SetOutputDevice(configured);
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    QCOMPARE(dlg.findChild<QComboBox *>(QStringLiteral("cbDevice"))->currentIndex(), index);
    dlg.btnOkClick();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(FConfig->OutputDevice(), stored);
}

void TestReaderSettings::opslaanStoresTrimmedValuesAndSaves()
{
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->setText("  " + FTmp->filePath("other.sqlite") + " \t");
    dlg.findChild<QLineEdit *>(QStringLiteral("edRoot"))->setText(QString());
    dlg.findChild<QComboBox *>(QStringLiteral("cbDevice"))->setCurrentIndex(3);
    dlg.btnOkClick();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(FConfig->DatabasePath(), FTmp->filePath("other.sqlite"));
    QCOMPARE(FConfig->RecordingsRoot(), QString());
    QCOMPARE(FConfig->OutputDevice(), 3);

    const QString ini = QString::fromUtf8(ReadAll(FConfig->IniPath()));
    QVERIFY2(ini.contains("Database=" + FTmp->filePath("other.sqlite") + "\r\n") ||
                 ini.contains("Database=" + FTmp->filePath("other.sqlite") + "\n"),
             qPrintable(ini));
    QVERIFY2(ini.contains(QRegularExpression("RootFolder=\r?\n")), qPrintable(ini));
    QVERIFY2(ini.contains(QRegularExpression("OutputDevice=3\r?\n")), qPrintable(ini));
}

void TestReaderSettings::annulerenAfterBrowsingChangesNothing()
{
    const QByteArray before = ReadAll(FConfig->IniPath());
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    dlg.ChooseFile = [&](const QString &, const QStringList &) { return FTmp->filePath("picked.sqlite"); };
    dlg.ChooseFolder = [&](const QString &, const QString &) { return FTmp->path(); };
    QTimer::singleShot(0, &dlg, [&] {
        dlg.btnDbBrowseClick();
        dlg.btnRootBrowseClick();
        dlg.findChild<QComboBox *>(QStringLiteral("cbDevice"))->setCurrentIndex(2);
        QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
    });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->text(), FTmp->filePath("picked.sqlite"));
    QCOMPARE(FConfig->DatabasePath(), FTmp->filePath("db/catalogue.sqlite"));
    QCOMPARE(FConfig->RecordingsRoot(), FTmp->filePath("rec"));
    QCOMPARE(FConfig->OutputDevice(), -1);
    QCOMPARE(ReadAll(FConfig->IniPath()), before);
}

void TestReaderSettings::dbBrowseStartsInTheFoldersOfThePath()
{
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    QString gotDir = "unset";
    QStringList gotFilters;
    QString answer;
    dlg.ChooseFile = [&](const QString &ADir, const QStringList &AFilters) {
        gotDir = ADir;
        gotFilters = AFilters;
        return answer;
    };
    dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->setText(FTmp->filePath("app/x.sqlite"));  // folder exists
    dlg.btnDbBrowseClick();
    QCOMPARE(gotDir, FAppDir);
    QCOMPARE(gotFilters, QStringList({"SQLite database (*.sqlite)", "Alle bestanden (*)"}));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->text(), FTmp->filePath("app/x.sqlite"));  // cancelled: unchanged

    dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->setText(FTmp->filePath("gone/x.sqlite"));  // folder does not exist: the platform chooses
    answer = FTmp->filePath("found.sqlite");
    dlg.btnDbBrowseClick();
    QCOMPARE(gotDir, QString());
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->text(), FTmp->filePath("found.sqlite"));

    dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->clear();
    gotDir = "unset";
    dlg.btnDbBrowseClick();
    QCOMPARE(gotDir, QString());
}

void TestReaderSettings::rootBrowseOffersTheFolderChooser()
{
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    QString gotPrompt, gotDir, answer;
    dlg.ChooseFolder = [&](const QString &APrompt, const QString &ADir) {
        gotPrompt = APrompt;
        gotDir = ADir;
        return answer;
    };
    dlg.findChild<QLineEdit *>(QStringLiteral("edRoot"))->setText(FAppDir);
    dlg.btnRootBrowseClick();
    QCOMPARE(gotPrompt, QStringLiteral("Kies de map met opnames"));
    QCOMPARE(gotDir, FAppDir);
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edRoot"))->text(), FAppDir);

    dlg.findChild<QLineEdit *>(QStringLiteral("edRoot"))->setText(FTmp->filePath("missing"));
    answer = FTmp->path();
    dlg.btnRootBrowseClick();
    QCOMPARE(gotDir, QString());
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edRoot"))->text(), FTmp->path());
}

void TestReaderSettings::failedSaveShowsItsMessageAndStaysOpen()
{
    TfrmSettings dlg(nullptr, *FConfig, Devices);
    TTestPrompt prompt;
    dlg.SetPrompt(prompt);
    QVERIFY(QDir(FAppDir).removeRecursively());  // the settings file can no longer be written
    dlg.findChild<QLineEdit *>(QStringLiteral("edDb"))->setText(FTmp->filePath("new.sqlite"));
    dlg.btnOkClick();
    QCOMPARE(prompt.Texts(), QStringList{"Unable to write to " + FConfig->IniPath()});
    QVERIFY(dlg.result() != QDialog::Accepted);
    QCOMPARE(FConfig->DatabasePath(), FTmp->filePath("new.sqlite"));  // in memory only
}

VORNAK_TEST_MAIN(TestReaderSettings)
#include "tst_uReaderSettings.moc"
