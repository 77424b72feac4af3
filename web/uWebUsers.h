// Accounts of the web server: names, roles and Argon2id password hashes in one file (mode 0600), written
// whole through a temporary file and a rename.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Cumulative roles: each may do what the ones before it may.
enum class TWebRole { Listen = 0, Export = 1, Edit = 2, Admin = 3 };

// "listen", "export", "edit", "admin".
const char *RoleName(TWebRole ARole);
// False for any other text.
bool ParseRole(const QString &AText, TWebRole &ARole);
// A name an account may have: 1..64 characters out of letters, digits, '.', '_', '-' and '@', not starting
// with '.' or '-'.
bool IsValidUserName(const QString &AName);

struct TWebUser {
    QString Name;
    TWebRole Role = TWebRole::Listen;
    QByteArray Hash;  // crypto_pwhash_str text ("$argon2id$...")
};

// The default file: $XDG_CONFIG_HOME/VornakReader2026/web-users (an absolute XDG_CONFIG_HOME only), else
// $HOME/.config/VornakReader2026/web-users; empty when neither is an absolute path.
QString DefaultUsersPath();

// The accounts file. Lines "name<TAB>role<TAB>hash"; a line that is not one is refused as a whole (the
// file is not ours or damaged). Not thread-safe: one owner.
class TWebUsers {
public:
    explicit TWebUsers(QString APath) : FPath(std::move(APath)) {}
    const QString &Path() const { return FPath; }
    const QList<TWebUser> &Users() const { return FUsers; }

    // Reads the file; a missing file is no accounts (true). False with AError (Dutch) for a file that
    // cannot be read or is not an accounts file.
    bool Load(QString &AError);
    // Writes the file whole (temporary file, flushed, renamed; mode 0600; the folder made when missing).
    // False with AError (Dutch): the old file is then as it was.
    bool Save(QString &AError) const;

    const TWebUser *Find(const QString &AName) const;
    // Adds or replaces; the password hashed here (Argon2id, 19 MiB, 2 passes). False with
    // AError for a name that is no valid name, an empty password or a hash that could not be made.
    bool Set(const QString &AName, TWebRole ARole, const QByteArray &APassword, QString &AError);
    bool Remove(const QString &AName);

private:
    QString FPath;
    QList<TWebUser> FUsers;
};

// Checks a password against an Argon2id hash text. Costs as much for an empty or malformed hash as for a
// real one (a dummy hash is checked then), so an unknown name takes the time of a wrong password.
// Thread-safe; at most one check runs at a time in the process (each takes the hash's memory).
bool VerifyPassword(const QByteArray &AHash, const QByteArray &APassword);
