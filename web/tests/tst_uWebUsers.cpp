// Accounts: the file's lines, its mode, hashes that check, and what a damaged file does.
#include "TestMain.h"
#include "uWebUsers.h"

#include <QTest>
#include <sys/stat.h>

class TestuWebUsers : public QObject {
    Q_OBJECT
private slots:
    void accountsSurviveSaveAndLoadWithHashesThatCheck()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("sub/web-users"));
        TWebUsers users(path);
        QString error;
        QVERIFY(users.Load(error));  // no file yet: no accounts
        QVERIFY(users.Set(QStringLiteral("anna"), TWebRole::Admin, "geheim wachtwoord", error));
        QVERIFY(users.Set(QStringLiteral("bob"), TWebRole::Listen, "bobs", error));
        QVERIFY2(users.Save(error), qPrintable(error));

        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        const QByteArray content = [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        QVERIFY(!content.contains("geheim"));
        QVERIFY(content.contains("$argon2id$"));

        TWebUsers again(path);
        QVERIFY(again.Load(error));
        QCOMPARE(again.Users().size(), 2);
        QCOMPARE(again.Find(QStringLiteral("anna"))->Role, TWebRole::Admin);
        QVERIFY(VerifyPassword(again.Find(QStringLiteral("anna"))->Hash, "geheim wachtwoord"));
        QVERIFY(!VerifyPassword(again.Find(QStringLiteral("anna"))->Hash, "geheim wachtwoorD"));
        QVERIFY(!VerifyPassword(QByteArray(), "geheim wachtwoord"));
        QVERIFY(!VerifyPassword("$argon2id$garbage", ""));
        QVERIFY(again.Remove(QStringLiteral("bob")));
        QVERIFY(!again.Remove(QStringLiteral("bob")));
        QVERIFY(again.Save(error));
        QVERIFY(TWebUsers(path).Load(error));
        QVERIFY(tmp.isValid());
        QCOMPARE(QDir(tmp.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("web-users")});  // no temporary left beside it
    }

    void damagedFileIsRefusedAndKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addRow("two fields") << QByteArray("anna\tadmin\n");
        QTest::addRow("unknown role") << QByteArray("anna\tgod\t$argon2id$x\n");
        QTest::addRow("not a hash") << QByteArray("anna\tadmin\tplain\n");
        QTest::addRow("same name twice") << QByteArray("anna\tadmin\t$argon2id$x\nanna\tlisten\t$argon2id$y\n");
        QTest::addRow("binary") << QByteArray("\x7f" "ELF\x01\x02", 6);
    }
    void damagedFileIsRefusedAndKept()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("web-users"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        TWebUsers users(path);
        QString error;
        QVERIFY(!users.Load(error));
        QVERIFY(error.contains(QStringLiteral("beschadigd")));
        QVERIFY(users.Users().isEmpty());
    }

    void namesAndRolesAreChecked_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::addRow("letters") << "anna" << true;
        QTest::addRow("mail address") << "anna.b@omroep.nl" << true;
        QTest::addRow("empty") << "" << false;
        QTest::addRow("tab") << "an\tna" << false;
        QTest::addRow("slash") << "../anna" << false;
        QTest::addRow("leading dash") << "-anna" << false;
        QTest::addRow("65 characters") << QString(65, QLatin1Char('a')) << false;
    }
    void namesAndRolesAreChecked()
    {
        QFETCH(QString, name);
        QTEST(IsValidUserName(name), "valid");
    }

    void rolesAreCumulativeAndNamed()
    {
        for (const char *name : {"listen", "export", "edit", "admin"}) {
            TWebRole role;
            QVERIFY(ParseRole(QLatin1String(name), role));
            QCOMPARE(QByteArray(RoleName(role)), QByteArray(name));
        }
        TWebRole role;
        QVERIFY(!ParseRole(QStringLiteral("Admin"), role));
        QVERIFY(TWebRole::Listen < TWebRole::Export && TWebRole::Export < TWebRole::Edit && TWebRole::Edit < TWebRole::Admin);
    }

    void emptyPasswordIsRefused()
    {
        QTemporaryDir tmp;
        TWebUsers users(tmp.filePath(QStringLiteral("u")));
        QString error;
        QVERIFY(!users.Set(QStringLiteral("anna"), TWebRole::Listen, QByteArray(), error));
        QVERIFY(!error.isEmpty());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestuWebUsers)
#include "tst_uWebUsers.moc"
