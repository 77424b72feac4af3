// File-name handling: nothing a catalogue row or a typed name holds may lead outside its folder.
// Input: fields separated by newlines — RecDate, FileName, FilePath of a catalogue row; an export target
// path; then three numbers: a day (Julian day number), an hour index and a number index of the search dialog.
//   ResolveExistingPath: the result is the stored FilePath, or a file under the recordings root.
//   WithExtension (export dialog): the folder part is kept, only the name's extension changes.
//   BuildFileStem (search dialog): eleven digits, nothing a LIKE pattern or a path would read otherwise.
#include "uExport.h"
#include "uReaderData.h"
#include "uSearch.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QRegularExpression>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

QTemporaryDir *Work = nullptr;
QString Root, RootCanonical;
TfrmSearch *Search = nullptr;

void Touch(const QString &APath)
{
    QDir().mkpath(QFileInfo(APath).absolutePath());
    QFile f(APath);
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
}

[[noreturn]] void Fail(const char *AWhat, const QString &ADetail)
{
    std::fprintf(stderr, "fuzz_paths: %s: %s\n", AWhat, qPrintable(ADetail));
    std::abort();
}

bool Inside(const QString &APath, const QString &AFolder)
{
    return QDir::cleanPath(APath).startsWith(AFolder + '/');
}

} // namespace

// fontconfig (loaded by the widgets) keeps its caches until exit.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_paths";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    Search = new TfrmSearch(nullptr, nullptr, QDateTime(QDate(2025, 9, 1), QTime(14, 37)));
    // Files inside the recordings root and beside it, so that an escape finds something to return.
    Work = new QTemporaryDir;
    // The fuzzer never returns to a destructor: the folder goes when the process exits.
    std::atexit([] {
        delete Work;
        Work = nullptr;
    });
    Root = Work->filePath("root");
    Touch(Root + "/2025/09/01/01092025141.wav");
    Touch(Root + "/2025/09/01/sub/x.wav");
    Touch(Work->filePath("outside.wav"));
    Touch(Work->filePath("root2/2025/09/01/01092025141.wav"));
    Touch(Root + "/outside-of-day.wav");
    RootCanonical = QFileInfo(Root).canonicalFilePath();

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize)
{
    if (!Work)
        LLVMFuzzerInitialize(nullptr, nullptr);
    const QList<QByteArray> fields = QByteArray(reinterpret_cast<const char *>(AData), int(ASize)).split('\n');
    auto field = [&](int AIndex) { return AIndex < fields.size() ? QString::fromUtf8(fields[AIndex]) : QString(); };

    TRecInfo ri;
    ri.RecDate = field(0);
    ri.FileName = field(1);
    ri.FilePath = field(2);
    const QString got = TReaderData::ResolveExistingPath(ri, Root);
    if (got != ri.FilePath) {
        const QString canonical = QFileInfo(got).canonicalFilePath();
        if (!Inside(got, Root) || canonical.isEmpty() || !Inside(canonical, RootCanonical))
            Fail("ResolveExistingPath left the recordings root",
                 QString("RecDate=%1 FileName=%2 -> %3").arg(ri.RecDate, ri.FileName, got));
    }

    // The export target: only the part after the last dot of the name changes.
    static const char *const exts[] = {".wav", ".mp3", ".ogg", ".opus"};
    const QString typed = field(3);
    const QString ext = QString::fromLatin1(exts[fields.size() > 4 ? fields[4].size() % 4 : 0]);
    const QString target = TfrmExport::WithExtension(typed, ext);
    const int slash = typed.lastIndexOf('/');
    const QString folder = typed.left(slash + 1), name = typed.mid(slash + 1);
    const int dot = name.lastIndexOf('.');
    const QString want = folder + (dot < 0 ? name : name.left(dot)) + ext;
    if (target != want)
        Fail("WithExtension changed more than the extension", typed + " -> " + target);

    // The search stem from whatever day, hour and number the dialog holds.
    const qint64 day = field(5).toLongLong();
    Search->findChild<QDateEdit *>(QStringLiteral("dtpFileDate"))->setDate(QDate::fromJulianDay(day));
    auto *fileHour = Search->findChild<QComboBox *>(QStringLiteral("cbFileHour"));
    auto *fileNum = Search->findChild<QComboBox *>(QStringLiteral("cbFileNum"));
    fileHour->setCurrentIndex(field(6).toInt() % qMax(1, fileHour->count() + 1) - 1);
    fileNum->setCurrentIndex(field(7).toInt() % qMax(1, fileNum->count() + 1) - 1);
    const QString stem = Search->BuildFileStem();
    static const QRegularExpression digits(QStringLiteral("^[0-9]{11}$"));
    if (!digits.match(stem).hasMatch())
        Fail("the search stem is not eleven digits", stem);
    return 0;
}
