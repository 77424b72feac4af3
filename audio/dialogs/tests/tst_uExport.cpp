// Export dialog: proposed target, extension switching, bitrate text, scope caption, browse and OK checks.
#include "TestMain.h"
#include "TestPrompt.h"
#include "uExport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QCheckBox>

#include <unistd.h>

namespace {

// A dialog whose message boxes and questions are recorded instead of shown.
struct TExportFixture {
    TTestPrompt prompt;
    TfrmExport dlg{nullptr};
    TExportFixture() { dlg.SetPrompt(prompt); }
    bool Accepted() const { return dlg.result() == QDialog::Accepted; }
};

} // namespace

class TestExport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void formHasListsAndLayout();
    void emptyNameAndMissingFolderProposeDocumentsExportMp3();
    void formatChangeSwitchesExtensionAndBitrate_data();
    void formatChangeSwitchesExtensionAndBitrate();
    void withExtensionUsesLastDotOfTheName_data();
    void withExtensionUsesLastDotOfTheName();
    void defaultNameWithDotLosesItsLastPart();
    void selectionCaption();
    void bitrateText_data();
    void bitrateText();
    void emptyTargetWarnsAndStaysOpen();
    void okStoresResultsAndCreatesMissingFolderBeforeOverwriteQuestion();
    void existingTargetAsksAndNoKeepsDialogOpen();
    void theLoadedRecordingIsRefusedAsTarget_data();
    void theLoadedRecordingIsRefusedAsTarget();
    void browseUsesFormatFilterAndAppliesExtension();
    void escapeCancels();

private:
    QTemporaryDir FTmp;
};

void TestExport::initTestCase()
{
    QVERIFY(FTmp.isValid());
}

void TestExport::formHasListsAndLayout()
{
    TfrmExport dlg(nullptr);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Exporteren"));
    QCOMPARE(dlg.size(), QSize(484, 276));
    QStringList formats, bitrates;
    for (int i = 0; i < dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->count(); ++i)
        formats << dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->itemText(i);
    for (int i = 0; i < dlg.findChild<QComboBox *>(QStringLiteral("cbBitrate"))->count(); ++i)
        bitrates << dlg.findChild<QComboBox *>(QStringLiteral("cbBitrate"))->itemText(i);
    QCOMPARE(formats, QStringList({"WAV", "MP3", "OGG", "OPUS"}));
    QCOMPARE(bitrates, QStringList({"64", "96", "128", "160", "192", "256", "320"}));
    QVERIFY(dlg.findChild<QComboBox *>(QStringLiteral("cbBitrate"))->isEditable());
    QVERIFY(!dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->isEditable());
    QCOMPARE(dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->geometry(), QRect(280, 212, 92, 30));
    QVERIFY(dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isDefault());
    // Loudness: unchanged by default; the targets carry their LUFS.
    QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("lblLoudness"))->text(), QStringLiteral("Luidheid:"));
    QStringList loudness;
    QList<double> targets;
    for (int i = 0; i < dlg.findChild<QComboBox *>(QStringLiteral("cbLoudness"))->count(); ++i) {
        loudness << dlg.findChild<QComboBox *>(QStringLiteral("cbLoudness"))->itemText(i);
        targets << dlg.findChild<QComboBox *>(QStringLiteral("cbLoudness"))->itemData(i).toDouble();
    }
    QCOMPARE(loudness, QStringList({"Niet aanpassen", "\u221223 LUFS (EBU R128)", "\u221216 LUFS"}));
    QCOMPARE(targets, QList<double>({0, -23, -16}));
    QCOMPARE(dlg.findChild<QComboBox *>(QStringLiteral("cbLoudness"))->currentIndex(), 0);
    QVERIFY(!dlg.findChild<QComboBox *>(QStringLiteral("cbLoudness"))->geometry().intersects(dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->geometry()));
    QVERIFY(!dlg.findChild<QComboBox *>(QStringLiteral("cbLoudness"))->geometry().intersects(dlg.findChild<QCheckBox *>(QStringLiteral("cbEvidence"))->geometry()));
}

void TestExport::emptyNameAndMissingFolderProposeDocumentsExportMp3()
{
    TfrmExport dlg(nullptr);
    dlg.Setup(QString(), false, -1, -1, 60, FTmp.filePath("no/such/folder"));
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!docs.endsWith('/'))
        docs += '/';
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), docs + "export.mp3");
    QCOMPARE(dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->currentText(), QStringLiteral("MP3"));
    QCOMPARE(dlg.findChild<QComboBox *>(QStringLiteral("cbBitrate"))->currentText(), QStringLiteral("128"));
    QVERIFY(dlg.findChild<QRadioButton *>(QStringLiteral("rbAll"))->isChecked());

    TfrmExport inFolder(nullptr);
    inFolder.Setup(QStringLiteral("01092025141"), false, -1, -1, 60, FTmp.path());  // no trailing '/'
    QCOMPARE(inFolder.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), FTmp.path() + "/01092025141.mp3");
}

void TestExport::formatChangeSwitchesExtensionAndBitrate_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<bool>("bitrate");
    QTest::addRow("WAV") << 0 << ".wav" << false;
    QTest::addRow("MP3") << 1 << ".mp3" << true;
    QTest::addRow("OGG") << 2 << ".ogg" << true;
    QTest::addRow("OPUS") << 3 << ".opus" << true;
}

void TestExport::formatChangeSwitchesExtensionAndBitrate()
{
    QFETCH(int, format);
    QFETCH(QString, ext);
    QFETCH(bool, bitrate);
    TfrmExport dlg(nullptr);
    dlg.Setup(QStringLiteral("rec"), false, -1, -1, 60, FTmp.path());
    dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->setCurrentIndex(0);  // from WAV (greyed) ...
    dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->setCurrentIndex(format);  // ... to the format of the row
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), FTmp.path() + "/rec" + ext);
    QCOMPARE(dlg.findChild<QComboBox *>(QStringLiteral("cbBitrate"))->isEnabled(), bitrate);
    QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("lblBitrate"))->isEnabled(), bitrate);
    QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("lblKbps"))->isEnabled(), bitrate);
    QCOMPARE(int(dlg.CurrentFormat()), format);
}

void TestExport::withExtensionUsesLastDotOfTheName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("result");
    QTest::addRow("no dot") << "/tmp/name" << "/tmp/name.mp3";
    QTest::addRow("extension replaced") << "/tmp/name.wav" << "/tmp/name.mp3";
    QTest::addRow("last dot only") << "/tmp/a.b.wav" << "/tmp/a.b.mp3";
    QTest::addRow("dot in folder ignored") << "/tmp/x.y/name" << "/tmp/x.y/name.mp3";
    QTest::addRow("relative name") << "a.b" << "a.mp3";
    QTest::addRow("empty") << "" << ".mp3";
}

void TestExport::withExtensionUsesLastDotOfTheName()
{
    QFETCH(QString, path);
    QFETCH(QString, result);
    QCOMPARE(TfrmExport::WithExtension(path, QStringLiteral(".mp3")), result);
}

void TestExport::defaultNameWithDotLosesItsLastPart()
{
    // A recording named a.b.wav is proposed as "a.b"; the extension rule then makes it a.mp3.
    TfrmExport dlg(nullptr);
    dlg.Setup(QStringLiteral("a.b"), false, -1, -1, 60, FTmp.path());
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), FTmp.path() + "/a.mp3");
}

void TestExport::selectionCaption()
{
    TfrmExport none(nullptr);
    none.Setup(QStringLiteral("rec"), false, -1, -1, 60, FTmp.path());
    QVERIFY(!none.findChild<QRadioButton *>(QStringLiteral("rbSel"))->isEnabled());
    QCOMPARE(none.findChild<QRadioButton *>(QStringLiteral("rbSel"))->text(), QStringLiteral("Selectie  (geen selectie gemaakt)"));

    TfrmExport sel(nullptr);
    sel.Setup(QStringLiteral("rec"), true, 65, 130.4, 200, FTmp.path());
    QVERIFY(sel.findChild<QRadioButton *>(QStringLiteral("rbSel"))->isEnabled());
    QVERIFY(sel.findChild<QRadioButton *>(QStringLiteral("rbAll"))->isChecked());
    QCOMPARE(sel.findChild<QRadioButton *>(QStringLiteral("rbSel"))->text(), QStringLiteral("Selectie  (01:05 - 02:10)"));
}

void TestExport::bitrateText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("bitrate");
    QTest::addRow("list entry") << "192" << 192;
    QTest::addRow("blanks around") << " 192 " << 192;
    QTest::addRow("not a number") << "abc" << 128;
    QTest::addRow("empty") << "" << 128;
    QTest::addRow("zero passed on") << "0" << 0;
    QTest::addRow("negative passed on") << "-8" << -8;
}

void TestExport::bitrateText()
{
    QFETCH(QString, typed);
    QFETCH(int, bitrate);
    TExportFixture f;
    f.dlg.Setup(QStringLiteral("bitrate"), false, -1, -1, 60, FTmp.path());
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbBitrate"))->setCurrentText(typed);
    f.dlg.btnOkClick();
    QVERIFY(f.Accepted());
    QCOMPARE(f.dlg.Request.Bitrate, bitrate);
}

void TestExport::emptyTargetWarnsAndStaysOpen()
{
    TExportFixture f;
    f.dlg.Setup(QStringLiteral("rec"), false, -1, -1, 60, FTmp.path());
    f.dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(QStringLiteral(" \t "));
    f.dlg.btnOkClick();
    QCOMPARE(f.prompt.Texts(), QStringList{"Geef een bestandsnaam op voor de export."});
    QVERIFY(!f.Accepted());
}

void TestExport::okStoresResultsAndCreatesMissingFolderBeforeOverwriteQuestion()
{
    TExportFixture f;
    f.dlg.Setup(QStringLiteral("rec"), true, 1, 2, 60, FTmp.path());
    const QString target = FTmp.filePath("new/deeper/out.wav");
    f.dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(target);
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->setCurrentIndex(int(TAudioFormat::afOGG));
    f.dlg.findChild<QRadioButton *>(QStringLiteral("rbSel"))->setChecked(true);
    f.dlg.btnOkClick();
    QVERIFY(f.Accepted());
    QVERIFY(f.prompt.Questions.isEmpty());
    QCOMPARE(f.dlg.Request.Path, FTmp.filePath("new/deeper/out.ogg"));
    QCOMPARE(f.dlg.Request.Format, TAudioFormat::afOGG);
    QCOMPARE(f.dlg.Request.Bitrate, 128);
    QCOMPARE(f.dlg.Request.StartSec, 1.0);  // the selection given to Setup
    QCOMPARE(f.dlg.Request.EndSec, 2.0);
    QVERIFY(!f.dlg.Request.EvidenceRecord);  // off unless the caller ticks it
    QVERIFY(QFileInfo(FTmp.filePath("new/deeper")).isDir());

    TExportFixture g;
    g.dlg.Setup(QStringLiteral("rec"), false, 0, 0, 60, FTmp.path());
    auto *evidence = g.dlg.findChild<QCheckBox *>(QStringLiteral("cbEvidence"));
    QCOMPARE(evidence->text(), QStringLiteral("Verantwoording bijvoegen"));
    QVERIFY(!evidence->isChecked());
    g.dlg.SetEvidenceRecord(true);
    QVERIFY(evidence->isChecked());
    g.dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(FTmp.filePath("evidence.mp3"));
    g.dlg.btnOkClick();
    QVERIFY(g.Accepted());
    QVERIFY(g.dlg.Request.EvidenceRecord);
}

void TestExport::existingTargetAsksAndNoKeepsDialogOpen()
{
    const QString target = FTmp.filePath("exists/there.mp3");
    QVERIFY(QDir().mkpath(FTmp.filePath("exists")));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    TExportFixture f;
    f.dlg.Setup(QStringLiteral("there"), false, -1, -1, 60, FTmp.filePath("exists"));
    f.prompt.Answer = false;
    f.dlg.btnOkClick();
    QCOMPARE(f.prompt.Questions, QStringList{"Het bestand bestaat al. Overschrijven?"});
    QVERIFY(!f.Accepted());
    QCOMPARE(f.dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), target);  // contents kept

    f.prompt.Answer = true;
    f.dlg.btnOkClick();
    QVERIFY(f.Accepted());
    QCOMPARE(f.dlg.Request.Path, target);
    QCOMPARE(f.dlg.Request.Format, TAudioFormat::afMP3);
    QCOMPARE(f.dlg.Request.StartSec, 0.0);  // the whole recording
    QCOMPARE(f.dlg.Request.EndSec, 0.0);
}

void TestExport::theLoadedRecordingIsRefusedAsTarget_data()
{
    QTest::addColumn<QString>("how");
    QTest::addRow("the same path") << "same";
    QTest::addRow("the same file written another way") << "dot";
    QTest::addRow("a symbolic link to it") << "symlink";
    QTest::addRow("a hard link to it") << "hardlink";
}

// Chosen as the target, the loaded recording is refused at once, with the reason, and no question is asked.
void TestExport::theLoadedRecordingIsRefusedAsTarget()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString recording = dir.filePath("rec.wav");
    {
        QFile f(recording);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
    QString target = recording;
    if (how == "dot")
        target = dir.path() + "/./rec.wav";
    else if (how == "symlink")
        QVERIFY(QFile::link(recording, target = dir.filePath("link.wav")));
    else if (how == "hardlink")
        QVERIFY(::link(QFile::encodeName(recording).constData(), QFile::encodeName(target = dir.filePath("hard.wav")).constData()) == 0);
    TExportFixture f;
    f.dlg.Setup(QStringLiteral("rec"), false, -1, -1, 60, dir.path());
    f.dlg.SetRecordingPath(recording);
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->setCurrentIndex(int(TAudioFormat::afWAV));
    f.dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(target);
    f.dlg.btnOkClick();
    QVERIFY(!f.Accepted());
    QVERIFY(f.prompt.Questions.isEmpty());
    QCOMPARE(f.prompt.Texts(), QStringList{"Dit bestand is de geladen opname zelf. Een export kan de opname niet "
                                           "vervangen: kies een ander doelbestand."});
    // Another name in the same folder is taken as usual.
    f.dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->setText(dir.filePath("other.wav"));
    f.dlg.btnOkClick();
    QVERIFY(f.Accepted());
}

void TestExport::browseUsesFormatFilterAndAppliesExtension()
{
    TfrmExport dlg(nullptr);
    dlg.Setup(QStringLiteral("rec"), false, -1, -1, 60, FTmp.path());
    QString gotDir, gotName, gotFilter, gotSuffix, answer = FTmp.filePath("chosen.ogg");
    dlg.ChooseSaveFile = [&](const QString &ADir, const QString &AName, const QString &AFilter,
                             const QString &ASelectedFilter) {
        gotDir = ADir;
        gotName = AName;
        gotFilter = AFilter;
        gotSuffix = ASelectedFilter;
        return answer;
    };
    dlg.btnBrowseClick();
    QCOMPARE(gotDir, FTmp.path() + "/");
    QCOMPARE(gotName, QStringLiteral("rec.mp3"));
    QCOMPARE(gotFilter, QStringLiteral("MP3-bestand (*.mp3)"));
    QCOMPARE(gotSuffix, QStringLiteral("mp3"));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), FTmp.filePath("chosen.mp3"));

    dlg.findChild<QComboBox *>(QStringLiteral("cbFormat"))->setCurrentIndex(int(TAudioFormat::afOPUS));
    answer.clear();  // cancelled: nothing changes
    dlg.btnBrowseClick();
    QCOMPARE(gotFilter, QStringLiteral("OPUS-bestand (*.opus)"));
    QCOMPARE(gotSuffix, QStringLiteral("opus"));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text(), FTmp.filePath("chosen.opus"));
}

void TestExport::escapeCancels()
{
    TfrmExport dlg(nullptr);
    dlg.Setup(QStringLiteral("rec"), false, -1, -1, 60, FTmp.path());
    QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
}

VORNAK_TEST_MAIN(TestExport)
#include "tst_uExport.moc"
