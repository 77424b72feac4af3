// Accounts of the web server: the file, its lines and the password hashes (libsodium's Argon2id).
#include "uWebUsers.h"

#include "uTempFile.h"
#include "uReaderTypes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sodium.h>
#include <sys/stat.h>

namespace {

const char *const RoleNames[] = {"listen", "export", "edit", "admin"};

// Argon2id with OWASP's recommended minimum: 19 MiB, 2 passes, one lane (libsodium uses one). The server's
// memory goal leaves no room for libsodium's "interactive" 64 MiB per check.
constexpr unsigned long long HashPasses = 2;
constexpr size_t HashMemoryBytes = 19 * 1024 * 1024;

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QByteArray HashPassword(const QByteArray &APassword)
{
    if (!SodiumReady())
        return {};
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, APassword.constData(), static_cast<unsigned long long>(APassword.size()),
                          HashPasses, HashMemoryBytes) != 0)
        return {};
    return QByteArray(out);
}

} // namespace

const char *RoleName(TWebRole ARole)
{
    return RoleNames[static_cast<int>(ARole)];
}

bool ParseRole(const QString &AText, TWebRole &ARole)
{
    for (int r = 0; r < 4; ++r) {
        if (AText == QLatin1String(RoleNames[r])) {
            ARole = static_cast<TWebRole>(r);
            return true;
        }
    }
    return false;
}

bool IsValidUserName(const QString &AName)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_@][A-Za-z0-9._@-]{0,63}$"));
    return pattern.match(AName).hasMatch();
}

QString DefaultUsersPath()
{
    QString base = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (!base.startsWith(QLatin1Char('/'))) {
        const QString home = QFile::decodeName(qgetenv("HOME"));
        if (!home.startsWith(QLatin1Char('/')))
            return QString();
        base = home + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/VornakReader2026/web-users");
}

bool TWebUsers::Load(QString &AError)
{
    FUsers.clear();
    QFile file(FPath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        AError = QStringLiteral("Gebruikersbestand kan niet worden gelezen: %1 (%2)").arg(FPath, file.errorString());
        return false;
    }
    const QByteArray content = file.read(16 * 1024 * 1024);
    QList<TWebUser> users;
    int lineNo = 0;
    for (const QByteArray &line : content.split('\n')) {
        ++lineNo;
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split('\t');
        TWebUser user;
        if (parts.size() == 3) {
            user.Name = QString::fromUtf8(parts[0]);
            user.Hash = parts[2];
        }
        if (parts.size() != 3 || !IsValidUserName(user.Name) || !ParseRole(QString::fromUtf8(parts[1]), user.Role)
            || !user.Hash.startsWith("$argon2id$") || Find(user.Name)) {
            AError = QStringLiteral("Gebruikersbestand is beschadigd of geen gebruikersbestand: %1 (regel %2)")
                         .arg(FPath)
                         .arg(lineNo);
            FUsers.clear();
            return false;
        }
        FUsers.append(user);
    }
    return true;
}

bool TWebUsers::Save(QString &AError) const
{
    const QFileInfo info(FPath);
    const QString dir = info.absolutePath();
    if (!QDir().mkpath(dir)) {
        AError = QStringLiteral("Map voor het gebruikersbestand kan niet worden gemaakt: %1").arg(dir);
        return false;
    }
    QByteArray content;
    for (const TWebUser &user : FUsers)
        content += user.Name.toUtf8() + '\t' + RoleName(user.Role) + '\t' + user.Hash + '\n';
    TTempFile temp;
    if (!temp.Create(dir, ".web-users-", ".part") || ::fchmod(temp.Fd(), 0600) != 0
        || !WriteAll(temp.Fd(), content) || !temp.Commit(FPath, true)) {
        AError = QStringLiteral("Gebruikersbestand kan niet worden geschreven: %1 (%2)")
                     .arg(FPath, QString::fromLocal8Bit(std::strerror(temp.Error() ? temp.Error() : errno)));
        return false;
    }
    return true;
}

const TWebUser *TWebUsers::Find(const QString &AName) const
{
    for (const TWebUser &user : FUsers) {
        if (user.Name == AName)
            return &user;
    }
    return nullptr;
}

bool TWebUsers::Set(const QString &AName, TWebRole ARole, const QByteArray &APassword, QString &AError)
{
    if (!IsValidUserName(AName)) {
        AError = QStringLiteral("Ongeldige gebruikersnaam: %1 (1 tot 64 letters, cijfers, . _ - @)").arg(AName);
        return false;
    }
    if (APassword.isEmpty()) {
        AError = QStringLiteral("Leeg wachtwoord: geef het wachtwoord op de eerste regel van de invoer");
        return false;
    }
    const QByteArray hash = HashPassword(APassword);
    if (hash.isEmpty()) {
        AError = QStringLiteral("Wachtwoord kan niet worden versleuteld (te weinig geheugen?)");
        return false;
    }
    for (TWebUser &user : FUsers) {
        if (user.Name == AName) {
            user.Role = ARole;
            user.Hash = hash;
            return true;
        }
    }
    FUsers.append(TWebUser{AName, ARole, hash});
    return true;
}

bool TWebUsers::Remove(const QString &AName)
{
    for (int i = 0; i < FUsers.size(); ++i) {
        if (FUsers[i].Name == AName) {
            FUsers.removeAt(i);
            return true;
        }
    }
    return false;
}

bool VerifyPassword(const QByteArray &AHash, const QByteArray &APassword)
{
    static std::mutex oneAtATime;
    static const QByteArray dummy = HashPassword(QByteArrayLiteral("no account has this password"));
    const std::lock_guard<std::mutex> lock(oneAtATime);
    if (!SodiumReady())
        return false;
    const bool real = AHash.startsWith("$argon2id$") && AHash.size() < crypto_pwhash_STRBYTES;
    const QByteArray &hash = real ? AHash : dummy;
    const bool match = crypto_pwhash_str_verify(hash.constData(), APassword.constData(),
                                                static_cast<unsigned long long>(APassword.size())) == 0;
    return real && match;
}
