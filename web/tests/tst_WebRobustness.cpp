// vornak-tool serve killed with SIGKILL while it streams and exports, then started again on the same state:
// it serves at once, leaves no export debris, the access log holds only whole lines and the catalogue is as
// it was.
#include "CatalogueFixture.h"
#include "FfmpegKit.h"
#include "TestMain.h"
#include "uWebUsers.h"
#include "WebClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

QString ToolPath()
{
    return QFile::decodeName(qgetenv("VORNAK_TOOL"));
}

// Starts the server and returns its port (0 when it did not say it listens).
int StartServer(QProcess &AProcess, const QStringList &AArgs)
{
    AProcess.start(ToolPath(), QStringList{"serve"} + AArgs + QStringList{"--listen", "127.0.0.1:0"});
    if (!AProcess.waitForStarted(5000))
        return 0;
    QByteArray out;
    while (!out.contains('\n') && AProcess.state() == QProcess::Running && AProcess.waitForReadyRead(30000))
        out += AProcess.readAllStandardOutput();
    return QString::fromLatin1(out.trimmed()).section(':', -1).toInt();
}

QByteArray Login(int APort, const QString &AUser)
{
    const TReply reply = Fetch(APort, "POST", "/api/login", {},
                               QJsonDocument(QJsonObject{{"user", AUser}, {"password", "pw"}}).toJson());
    return reply.Header("set-cookie").split(';').first();
}

} // namespace

class TestWebRobustness : public QObject {
    Q_OBJECT
private slots:
    void killedServerRestartsCleanly()
    {
        QVERIFY2(HaveFfmpeg(), "the ffmpeg program is needed");
        QTemporaryDir tmp;
        const QString root = tmp.filePath("root");
        const QString wav = root + "/2026/12/10/10122026101.wav";
        QVERIFY(MakeTone(wav, 120));
        fixture::TRow row = fixture::Rec(1, "2026-12-10 10:00:00", 10, 1, "10122026101.wav", 120);
        row.filepath = wav;
        const QString db = tmp.filePath("catalogue.db");
        fixture::CreateCatalogue(db, {row});
        const QString catalogueBefore = fixture::Dump(db);
        const QByteArray catalogueHash = fixture::FileHash(db);

        TWebUsers users(tmp.filePath("users"));
        QString error;
        for (const char *name : {"u1", "u2", "u3"})
            QVERIFY(users.Set(name, TWebRole::Export, "pw", error));
        QVERIFY(users.Save(error));
        const QString state = tmp.filePath("state");
        const QString log = tmp.filePath("access.log");
        const QStringList args{db, root, "--users", users.Path(), "--state", state, "--access-log", log, "--cache",
                               tmp.filePath("cache")};

        QProcess server;
        const int port = StartServer(server, args);
        QVERIFY(port > 0);
        const QByteArray cookies[] = {Login(port, "u1"), Login(port, "u2"), Login(port, "u3")};
        // 50 streams that the clients do not read on: the server is in the middle of sending each.
        std::vector<std::unique_ptr<TRawConnection>> open;
        for (int i = 0; i < 50; ++i) {
            open.push_back(std::make_unique<TRawConnection>(port));
            QVERIFY(open.back()->Send("GET /api/recordings/1/audio HTTP/1.1\r\nHost: x\r\nCookie: " + cookies[i % 3] + "\r\n\r\n"));
        }
        // 5 exports (two per user at most), each a normalised MP3 of the whole recording: slow enough to be
        // running all at once.
        for (int i = 0; i < 5; ++i) {
            open.push_back(std::make_unique<TRawConnection>(port));
            QVERIFY(open.back()->Send("GET /api/recordings/1/export?format=mp3&loudness=-16 HTTP/1.1\r\nHost: x\r\nCookie: "
                                      + cookies[i % 3] + "\r\n\r\n"));
        }
        const auto exportFolders = [&]() {
            return QDir(state + "/exports").entryList({"job-*"}, QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(exportFolders(), 5, 60000);
        ::kill(static_cast<pid_t>(server.processId()), SIGKILL);
        QVERIFY(server.waitForFinished(20000));
        open.clear();
        QCOMPARE(exportFolders(), 5);  // what the killed server left

        // Started again on the same state: it answers at once, and the dead server's exports are gone.
        QProcess again;
        const int port2 = StartServer(again, args);
        QVERIFY(port2 > 0);
        QCOMPARE(exportFolders(), 0);
        QCOMPARE(Fetch(port2, "GET", "/api/recordings/1/audio", {{"Cookie", cookies[0]}, {"Range", "bytes=0-3"}}).Body,
                 QByteArray("RIFF"));  // the session survived in the shared state
        ::kill(static_cast<pid_t>(again.processId()), SIGTERM);
        QVERIFY(again.waitForFinished(20000));
        QCOMPARE(again.exitCode(), 0);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY(content.endsWith('\n'));
        for (const QByteArray &line : content.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
        }
        QCOMPARE(fixture::Dump(db), catalogueBefore);
        QCOMPARE(fixture::FileHash(db), catalogueHash);
        QCOMPARE(QDir(root + "/2026/12/10").entryList(QDir::Files | QDir::Hidden), QStringList{"10122026101.wav"});
    }

    void clientThatGoesAwayEndsItsExport()
    {
        QVERIFY2(HaveFfmpeg(), "the ffmpeg program is needed");
        QTemporaryDir tmp;
        const QString root = tmp.filePath("root");
        const QString wav = root + "/2026/12/10/10122026101.wav";
        QVERIFY(MakeTone(wav, 120));
        fixture::TRow row = fixture::Rec(1, "2026-12-10 10:00:00", 10, 1, "10122026101.wav", 120);
        row.filepath = wav;
        const QString db = tmp.filePath("catalogue.db");
        fixture::CreateCatalogue(db, {row});
        TWebUsers users(tmp.filePath("users"));
        QString error;
        QVERIFY(users.Set("u1", TWebRole::Export, "pw", error));
        QVERIFY(users.Save(error));
        const QString state = tmp.filePath("state");
        const QString log = tmp.filePath("access.log");
        QProcess server;
        const int port = StartServer(server, {db, root, "--users", users.Path(), "--state", state, "--access-log", log,
                                              "--cache", tmp.filePath("cache")});
        QVERIFY(port > 0);
        const QByteArray cookie = Login(port, "u1");
        const auto exportFolders = [&]() {
            return QDir(state + "/exports").entryList({"job-*"}, QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        {
            TRawConnection client(port);
            QVERIFY(client.Send("GET /api/recordings/1/export?format=mp3&loudness=-16 HTTP/1.1\r\nHost: x\r\nCookie: "
                                + cookie + "\r\n\r\n"));
            QTRY_COMPARE_WITH_TIMEOUT(exportFolders(), 1, 60000);
        }  // the client goes away while the export runs
        QTRY_COMPARE_WITH_TIMEOUT(exportFolders(), 0, 60000);
        const auto abandoned = [&]() {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("\"action\":\"export\"");
        };
        QTRY_VERIFY_WITH_TIMEOUT(abandoned(), 60000);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY2(content.contains("\"status\":499"), content.constData());
        ::kill(static_cast<pid_t>(server.processId()), SIGTERM);
        QVERIFY(server.waitForFinished(20000));
        QCOMPARE(server.exitCode(), 0);
        QCOMPARE(exportFolders(), 0);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestWebRobustness)
#include "tst_WebRobustness.moc"
