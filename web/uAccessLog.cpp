// The web server's access log: JSON lines appended whole.
#include "uAccessLog.h"

#include "uReaderTypes.h"
#include "uTempFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString XdgStateBase()
{
    QString base = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (!base.startsWith(QLatin1Char('/'))) {
        const QString home = QFile::decodeName(qgetenv("HOME"));
        if (!home.startsWith(QLatin1Char('/')))
            return QString();
        base = home + QStringLiteral("/.local/state");
    }
    return base + QStringLiteral("/VornakReader2026");
}

} // namespace

QString DefaultAccessLogPath()
{
    const QString base = XdgStateBase();
    return base.isEmpty() ? base : base + QStringLiteral("/access.log");
}

QString DefaultWebStateDir()
{
    const QString base = XdgStateBase();
    return base.isEmpty() ? base : base + QStringLiteral("/web");
}

TAccessLog::TAccessLog(const QString &APath) : FPath(APath)
{
    QDir().mkpath(QFileInfo(APath).absolutePath());
    QByteArray bytes;
    if (PathBytesOf(APath, bytes))
        FFd = ::open(bytes.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (FFd < 0)
        throw EReaderError(QStringLiteral("Toegangslog kan niet worden geopend: %1 (%2)")
                               .arg(APath, QString::fromLocal8Bit(std::strerror(errno))));
    FFlusher = std::thread([this]() { FlushLoop(); });
}

TAccessLog::~TAccessLog()
{
    {
        const std::lock_guard<std::mutex> lock(FFlushMutex);
        FClosing = true;
    }
    FFlushWake.notify_one();
    FFlusher.join();
    if (FFd >= 0)
        ::close(FFd);
}

// Flushes whatever was written since the last flush; lines written during a flush are taken by the next.
void TAccessLog::FlushLoop()
{
    std::unique_lock<std::mutex> lock(FFlushMutex);
    for (;;) {
        FFlushWake.wait(lock, [this]() { return FUnflushed || FClosing; });
        const bool closing = FClosing;
        if (FUnflushed) {
            FUnflushed = false;
            lock.unlock();
            ::fdatasync(FFd);
            lock.lock();
        }
        if (closing && !FUnflushed)
            return;
    }
}

bool TAccessLog::Append(const TAccessEntry &AEntry, const QDateTime &ATime)
{
    QJsonObject line;
    line.insert(QStringLiteral("time"), ATime.toOffsetFromUtc(ATime.offsetFromUtc()).toString(Qt::ISODate));
    if (!AEntry.User.isEmpty())
        line.insert(QStringLiteral("user"), AEntry.User);
    if (!AEntry.Address.isEmpty())
        line.insert(QStringLiteral("address"), AEntry.Address);
    line.insert(QStringLiteral("action"), AEntry.Action);
    if (AEntry.Id > 0)
        line.insert(QStringLiteral("id"), AEntry.Id);
    if (AEntry.Start >= 0)
        line.insert(QStringLiteral("start"), AEntry.Start);
    if (AEntry.End >= 0)
        line.insert(QStringLiteral("end"), AEntry.End);
    if (!AEntry.Format.isEmpty())
        line.insert(QStringLiteral("format"), AEntry.Format);
    if (!AEntry.Sha256.isEmpty())
        line.insert(QStringLiteral("sha256"), AEntry.Sha256);
    if (AEntry.Status > 0)
        line.insert(QStringLiteral("status"), AEntry.Status);
    const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    // One write: with O_APPEND the line lands whole after every other process's lines.
    const ssize_t written = ::write(FFd, text.constData(), static_cast<size_t>(text.size()));
    if (written != text.size())
        return false;
    {
        const std::lock_guard<std::mutex> lock(FFlushMutex);
        FUnflushed = true;
    }
    FFlushWake.notify_one();
    return true;
}

QList<QJsonObject> TAccessLog::Read(const QDateTime &AFrom, const QDateTime &ATo, int AMax, bool &ATruncated) const
{
    ATruncated = false;
    QList<QJsonObject> entries;
    QFile file(FPath);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(1024 * 1024);
        if (!line.endsWith('\n'))
            break;  // a line still being written
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject())
            continue;
        const QJsonObject entry = doc.object();
        const QDateTime time = QDateTime::fromString(entry.value(QStringLiteral("time")).toString(), Qt::ISODate);
        if (!time.isValid() || (AFrom.isValid() && time < AFrom) || (ATo.isValid() && time > ATo))
            continue;
        if (entries.size() >= AMax) {
            ATruncated = true;
            break;
        }
        entries.append(entry);
    }
    return entries;
}
