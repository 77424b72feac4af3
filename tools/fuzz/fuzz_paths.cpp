// File-name handling: nothing a catalogue row or a typed name holds may lead outside its folder.
// Input: fields separated by newlines — RecDate, FileName, FilePath of a catalogue row (then, where the
// export dialog's name handling is built in, a typed target and a format number).
//   ResolveExistingPath: the result is the stored FilePath, or a file under the recordings root.
#include "uReaderData.h"

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

void Touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
}

[[noreturn]] void Fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "fuzz_paths: %s: %s\n", what, qPrintable(detail));
    std::abort();
}

bool Inside(const QString &path, const QString &folder)
{
    return QDir::cleanPath(path).startsWith(folder + '/');
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Files inside the recordings root and beside it, so that an escape finds something to return.
    Work = new QTemporaryDir;
    Root = Work->filePath("root");
    Touch(Root + "/2025/09/01/01092025141.wav");
    Touch(Root + "/2025/09/01/sub/x.wav");
    Touch(Work->filePath("outside.wav"));
    Touch(Work->filePath("root2/2025/09/01/01092025141.wav"));
    Touch(Root + "/outside-of-day.wav");
    RootCanonical = QFileInfo(Root).canonicalFilePath();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!Work)
        LLVMFuzzerInitialize(nullptr, nullptr);
    const QList<QByteArray> fields = QByteArray(reinterpret_cast<const char *>(data), int(size)).split('\n');
    auto field = [&](int i) { return i < fields.size() ? QString::fromUtf8(fields[i]) : QString(); };

    TRecInfo ri;
    ri.RecDate = field(0);
    ri.FileName = field(1);
    ri.FilePath = field(2);
    // Relative names would depend on the working folder: anchor them in the work folder.
    QDir::setCurrent(Work->path());
    const QString got = TReaderData::ResolveExistingPath(ri, Root);
    if (got != ri.FilePath) {
        const QString canonical = QFileInfo(got).canonicalFilePath();
        if (!Inside(got, Root) || canonical.isEmpty() || !Inside(canonical, RootCanonical))
            Fail("ResolveExistingPath left the recordings root",
                 QString("RecDate=%1 FileName=%2 -> %3").arg(ri.RecDate, ri.FileName, got));
    }
    return 0;
}
