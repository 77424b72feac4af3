// The web server against a live instance on 127.0.0.1 with a free port: login and sessions, roles, every
// API answer, ranges, exports against vornak-tool's, the edit under the recorder's lock, the access log, the
// login throttle and a table of hostile requests.
#include "CatalogueFixture.h"
#include "FfmpegKit.h"
#include "TestMain.h"
#include "uHttpHead.h"
#include "uWebApi.h"
#include "uWebServer.h"
#include "uWebState.h"
#include "uWebUsers.h"
#include "WebClient.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <thread>
#include <zip.h>

namespace {

using THeaders = QList<QPair<QByteArray, QByteArray>>;

QString Tool()
{
    return QFile::decodeName(qgetenv("VORNAK_TOOL"));
}

QByteArray ReadAll(const QString &APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject JsonOf(const TReply &AReply)
{
    return QJsonDocument::fromJson(AReply.Body).object();
}

} // namespace

class TestuWebServer : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FTmp;
    QString FRoot, FDb, FWav, FMp3, FAccessLog;
    TWebConfig FConfig;
    std::unique_ptr<TWebApi> FApi;
    std::unique_ptr<TWebServer> FServer;
    std::thread FThread;
    int FPort = 0;
    QMap<QString, QByteArray> FCookies;  // per account

    QByteArray Login(const QString &AUser, const QByteArray &AForwardedFor = {})
    {
        if (AForwardedFor.isEmpty() && FCookies.contains(AUser))
            return FCookies.value(AUser);
        THeaders headers;
        if (!AForwardedFor.isEmpty())
            headers.append({"X-Forwarded-For", AForwardedFor});
        const TReply reply = Fetch(FPort, "POST", "/api/login", headers,
                                   QJsonDocument(QJsonObject{{"user", AUser}, {"password", "pw-" + AUser}}).toJson());
        const QByteArray cookie = reply.Header("set-cookie").split(';').first();
        if (AForwardedFor.isEmpty())
            FCookies.insert(AUser, cookie);
        return cookie;
    }
    TReply Get(const QString &AUser, const QByteArray &ATarget, THeaders AHeaders = {})
    {
        AHeaders.append({"Cookie", Login(AUser)});
        return Fetch(FPort, "GET", ATarget, AHeaders);
    }
    QStringList LogLines()
    {
        return QString::fromUtf8(ReadAll(FAccessLog)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(HaveFfmpeg(), "the ffmpeg program is needed (tools/install.sh installs it)");
        QVERIFY(FTmp.isValid());
        FRoot = FTmp.filePath("root");
        FDb = FTmp.filePath("catalogue.db");
        FAccessLog = FTmp.filePath("log/access.log");
        FWav = FRoot + "/2026/12/10/10122026101.wav";
        FMp3 = FRoot + "/2026/12/10/10122026102.mp3";
        QVERIFY(MakeTone(FWav, 4));
        QVERIFY(Ffmpeg({"-i", FWav, "-b:a", "64k", FMp3}));
        const QString secret = FTmp.filePath("outside/secret.wav");
        QVERIFY(MakeTone(secret, 1));
        QDir().mkpath(FRoot + "/2026/12/11");
        QVERIFY(QFile::link(secret, FRoot + "/2026/12/11/11122026091.wav"));

        using fixture::Rec;
        fixture::TRow wav = Rec(1, "2026-12-10 10:00:00", 10, 1, "10122026101.wav", 4, "Ochtendoverleg", "Anna\r\nBob");
        wav.filepath = FWav;
        wav.format = "WAV";
        fixture::TRow mp3 = Rec(2, "2026-12-10 10:30:00", 10, 2, "10122026102.mp3", 4, "Tweede", "");
        mp3.filepath = FMp3;
        fixture::TRow outside = Rec(3, "2026-12-10 11:00:00", 11, 1, "secret.wav", 1);
        outside.filepath = secret;
        fixture::TRow linked = Rec(4, "2026-12-11 09:00:00", 9, 1, "11122026091.wav", 1);
        linked.filepath = "/nonexistent/11122026091.wav";  // found in its day folder: a link out of the root
        fixture::TRow november = Rec(5, "2026-11-30 23:00:00", 23, 1, "30112026231.mp3", 60);
        fixture::TRow empty = Rec(6, "2026-12-12 08:00:00", 8, 1, "12122026081.mp3", 0);
        fixture::CreateCatalogue(FDb, {wav, mp3, outside, linked, november, empty});

        TWebUsers users(FTmp.filePath("users"));
        QString error;
        for (const auto &[name, role] : {std::pair{"lisa", TWebRole::Listen}, std::pair{"erik", TWebRole::Export},
                                         std::pair{"eddy", TWebRole::Edit}, std::pair{"adam", TWebRole::Admin}})
            QVERIFY(users.Set(name, role, QByteArray("pw-") + name, error));
        QVERIFY(users.Save(error));

        FConfig.DbPath = FDb;
        FConfig.Root = FRoot;
        FConfig.UsersPath = users.Path();
        FConfig.AccessLogPath = FAccessLog;
        FConfig.CacheDir = FTmp.filePath("cache");
        FConfig.StateDir = FTmp.filePath("state");
        FConfig.StaticDir = FTmp.filePath("static");
        FConfig.LockWaitMs = 300;
        QDir().mkpath(FConfig.StaticDir);
        QFile index(FConfig.StaticDir + "/index.html");
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("<!doctype html><title>Vornak</title>");
        index.close();
        FApi = std::make_unique<TWebApi>(FConfig);
        TWebLimits limits;
        limits.RequestSeconds = 2;  // the slow client's test waits this long
        FServer = std::make_unique<TWebServer>(*FApi, limits);
        QVERIFY(FServer->Listen("127.0.0.1:0", error));
        FPort = FServer->Url().section(':', -1).toInt();
        QVERIFY(FPort > 0);
        FThread = std::thread([this]() { FServer->Run(false); });
    }

    void cleanupTestCase()
    {
        if (FServer) {
            FServer->Stop();
            FThread.join();
            FServer.reset();
        }
    }

    void loginGivesSessionCookieAndOneTextForBothFailures()
    {
        const auto login = [&](const char *AUser, const char *APassword, THeaders AHeaders = {}) {
            AHeaders.append(qMakePair(QByteArray("X-Forwarded-For"), QByteArray("10.0.0.1")));
            return Fetch(FPort, "POST", "/api/login", AHeaders,
                         QJsonDocument(QJsonObject{{"user", AUser}, {"password", APassword}}).toJson());
        };
        const TReply wrong = login("lisa", "nope");
        const TReply unknown = login("nobody", "pw-lisa");
        QCOMPARE(wrong.Status, 401);
        QCOMPARE(unknown.Status, 401);
        QCOMPARE(wrong.Body, unknown.Body);
        QVERIFY(!JsonOf(wrong).value("error").toString().isEmpty());
        QVERIFY(!wrong.Headers.contains("set-cookie"));

        const TReply good = login("lisa", "pw-lisa");
        QCOMPARE(good.Status, 200);
        QCOMPARE(JsonOf(good), (QJsonObject{{"user", "lisa"}, {"role", "listen"}}));
        const QByteArray cookie = good.Header("set-cookie");
        QVERIFY(cookie.startsWith("vornak_session="));
        QVERIFY(cookie.contains("HttpOnly"));
        QVERIFY(cookie.contains("SameSite=Strict"));
        QVERIFY(cookie.contains("Path=/"));
        QVERIFY(!cookie.contains("Secure"));
        // Through a trusted proxy that says the client came over TLS, and only then.
        QVERIFY(login("lisa", "pw-lisa", {{"X-Forwarded-Proto", "https"}}).Header("set-cookie").contains("; Secure"));

        // The session says whose it is (a reloaded page); logout ends it at once.
        const QByteArray session = cookie.split(';').first();
        QCOMPARE(Fetch(FPort, "GET", "/api/days?month=2026-12", {{"Cookie", session}}).Status, 200);
        QCOMPARE(JsonOf(Fetch(FPort, "GET", "/api/session", {{"Cookie", session}})),
                 (QJsonObject{{"user", "lisa"}, {"role", "listen"}}));
        QCOMPARE(Fetch(FPort, "POST", "/api/logout", {{"Cookie", session}}).Status, 200);
        QCOMPARE(Fetch(FPort, "GET", "/api/days?month=2026-12", {{"Cookie", session}}).Status, 401);
        QCOMPARE(Fetch(FPort, "GET", "/api/session", {{"Cookie", session}}).Status, 401);
    }

    void sessionEndsAfterItsIdleTime()
    {
        TWebState state(FTmp.filePath("state-idle"));
        const qint64 start = 1'800'000'000;
        const QByteArray token = state.CreateSession("lisa", start);
        TWebSession session;
        QVERIFY(state.TouchSession(token, start + 7 * 3600, 8 * 3600, session));
        QCOMPARE(session.User, QString("lisa"));
        QVERIFY(state.TouchSession(token, start + 14 * 3600, 8 * 3600, session));  // used at 7 h: still fresh
        QVERIFY(!state.TouchSession(token, start + 22 * 3600 + 1, 8 * 3600, session));
        QVERIFY(!state.TouchSession(QByteArray(64, 'a'), start, 8 * 3600, session));
    }

    void everyAnswerCarriesTheSecurityHeaders_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addRow("page") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        QTest::addRow("no session") << QByteArray("GET /api/days?month=2026-12 HTTP/1.1\r\nHost: x\r\n\r\n");
        QTest::addRow("not found") << QByteArray("GET /nothing.js HTTP/1.1\r\nHost: x\r\n\r\n");
        QTest::addRow("bad path") << QByteArray("GET /%2e%2e/x HTTP/1.1\r\nHost: x\r\n\r\n");
        QTest::addRow("bad request line") << QByteArray("GARBAGE\r\n\r\n");
    }
    void everyAnswerCarriesTheSecurityHeaders()
    {
        QFETCH(QByteArray, request);
        TRawConnection connection(FPort);
        QVERIFY(connection.Send(request));
        const TReply reply = connection.Receive();
        QVERIFY(reply.Status != 0);
        QCOMPARE(reply.Header("content-security-policy"), QByteArray("default-src 'self'"));
        QCOMPARE(reply.Header("x-content-type-options"), QByteArray("nosniff"));
        QCOMPARE(reply.Header("referrer-policy"), QByteArray("no-referrer"));
        QCOMPARE(reply.Header("x-frame-options"), QByteArray("DENY"));
        if (reply.Status >= 300)
            QVERIFY(!JsonOf(reply).value("error").toString().isEmpty());
    }

    void rolesDecideWhatMayBeDone_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        const QByteArray exportTarget = "/api/recordings/1/export?start=0&end=1&format=wav";
        const QByteArray meta = "/api/recordings/2/meta";
        QTest::addRow("nobody browses") << "" << QByteArray("GET") << QByteArray("/api/hours?date=2026-12-10") << 401;
        QTest::addRow("listen browses") << "lisa" << QByteArray("GET") << QByteArray("/api/hours?date=2026-12-10") << 200;
        QTest::addRow("listen hears") << "lisa" << QByteArray("GET") << QByteArray("/api/recordings/1/audio") << 200;
        QTest::addRow("listen exports not") << "lisa" << QByteArray("GET") << exportTarget << 403;
        QTest::addRow("export exports") << "erik" << QByteArray("GET") << exportTarget << 200;
        QTest::addRow("export edits not") << "erik" << QByteArray("PUT") << meta << 403;
        QTest::addRow("edit edits") << "eddy" << QByteArray("PUT") << meta << 200;
        QTest::addRow("edit reads the log not") << "eddy" << QByteArray("GET") << QByteArray("/api/access-log") << 403;
        QTest::addRow("admin reads the log") << "adam" << QByteArray("GET") << QByteArray("/api/access-log") << 200;
        QTest::addRow("admin exports") << "adam" << QByteArray("GET") << exportTarget << 200;
        QTest::addRow("nobody logs out") << "" << QByteArray("POST") << QByteArray("/api/logout") << 401;
        QTest::addRow("nobody has a session") << "" << QByteArray("GET") << QByteArray("/api/session") << 401;
        QTest::addRow("listen has a session") << "lisa" << QByteArray("GET") << QByteArray("/api/session") << 200;
        QTest::addRow("admin has a session") << "adam" << QByteArray("GET") << QByteArray("/api/session") << 200;
        QTest::addRow("a session is not posted") << "lisa" << QByteArray("POST") << QByteArray("/api/session") << 405;
    }
    void rolesDecideWhatMayBeDone()
    {
        QFETCH(QString, user);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        THeaders headers;
        if (!user.isEmpty())
            headers.append({"Cookie", Login(user)});
        const QByteArray body = method == "PUT" ? QByteArray(R"({"title":"Tweede","persons":""})") : QByteArray();
        QTEST(Fetch(FPort, method, target, headers, body).Status, "status");
    }

    void browsingAnswersInTheReadersOrder()
    {
        QCOMPARE(JsonOf(Get("lisa", "/api/days?month=2026-12")).value("days").toArray(),
                 (QJsonArray{"2026-12-10", "2026-12-11"}));  // the 12th has only an empty recording
        QCOMPARE(JsonOf(Get("lisa", "/api/days?month=2026-11")).value("days").toArray(), (QJsonArray{"2026-11-30"}));
        QCOMPARE(JsonOf(Get("lisa", "/api/hours?date=2026-12-10")).value("hours").toArray(), (QJsonArray{10, 11}));
        const QJsonArray hour10 = JsonOf(Get("lisa", "/api/recordings?date=2026-12-10&hour=10")).value("recordings").toArray();
        QCOMPARE(hour10.size(), 2);
        QCOMPARE(hour10[0].toObject(), (QJsonObject{{"id", 1}, {"filename", "10122026101.wav"}, {"format", "WAV"},
                                                    {"duration_sec", 4}, {"title", "Ochtendoverleg"},
                                                    {"persons", "Anna\r\nBob"}}));
        QCOMPARE(hour10[1].toObject().value("id").toInt(), 2);
        const QJsonArray stem = JsonOf(Get("lisa", "/api/search?stem=1012202610")).value("recordings").toArray();
        QCOMPARE(stem.size(), 1);
        QCOMPARE(stem[0].toObject().value("id").toInt(), 1);
        const QJsonArray byName = JsonOf(Get("lisa", "/api/search?name=bob")).value("recordings").toArray();
        QCOMPARE(byName.size(), 1);
        QCOMPARE(byName[0].toObject().value("id").toInt(), 1);

        const QJsonObject detail = JsonOf(Get("lisa", "/api/recordings/1"));
        QCOMPARE(detail.value("filename").toString(), QString("10122026101.wav"));
        QCOMPARE(detail.value("sample_rate").toInt(), 44100);
        QCOMPARE(detail.value("channels").toInt(), 2);
        QCOMPARE(detail.value("frames").toInt(), 4 * 44100);
        QCOMPARE(detail.value("seconds").toDouble(), 4.0);
        QCOMPARE(detail.value("title").toString(), QString("Ochtendoverleg"));

        QCOMPARE(Get("lisa", "/api/days?month=2026-13").Status, 400);
        QCOMPARE(Get("lisa", "/api/hours?date=2026-02-30").Status, 400);
        QCOMPARE(Get("lisa", "/api/recordings?date=2026-12-10&hour=24").Status, 400);
        QCOMPARE(Get("lisa", "/api/recordings/99").Status, 404);
        QCOMPARE(Get("lisa", "/api/recordings/6").Status, 404);  // no seconds: not a recording the reader shows
        QCOMPARE(Fetch(FPort, "POST", "/api/hours?date=2026-12-10", {{"Cookie", Login("lisa")}}).Status, 405);
    }

    void filesOutsideTheRootAreNotFound_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addRow("stored path outside") << QByteArray("/api/recordings/3/audio");
        QTest::addRow("link out of a day folder") << QByteArray("/api/recordings/4/audio");
        QTest::addRow("link, its peaks") << QByteArray("/api/recordings/4/peaks");
        QTest::addRow("missing file") << QByteArray("/api/recordings/5/audio");
    }
    void filesOutsideTheRootAreNotFound()
    {
        QFETCH(QByteArray, target);
        const TReply reply = Get("adam", target);
        QCOMPARE(reply.Status, 404);
        QVERIFY(!reply.Body.contains("RIFF"));
    }

    void audioRangesGiveTheFilesOwnBytes_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");  // -1: to the end
        QTest::addRow("whole") << QByteArray() << qint64(0) << qint64(-1);
        QTest::addRow("start") << QByteArray("bytes=0-99") << qint64(0) << qint64(99);
        QTest::addRow("middle") << QByteArray("bytes=1000-70000") << qint64(1000) << qint64(70000);
        QTest::addRow("open end") << QByteArray("bytes=700000-") << qint64(700000) << qint64(-1);
        QTest::addRow("suffix") << QByteArray("bytes=-10") << qint64(-10) << qint64(-1);
    }
    void audioRangesGiveTheFilesOwnBytes()
    {
        QFETCH(QByteArray, range);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        const QByteArray file = ReadAll(FWav);
        if (first < 0)
            first += file.size();
        if (last < 0)
            last = file.size() - 1;
        THeaders headers;
        if (!range.isEmpty())
            headers.append({"Range", range});
        const TReply reply = Get("lisa", "/api/recordings/1/audio", headers);
        QCOMPARE(reply.Status, range.isEmpty() ? 200 : 206);
        QCOMPARE(reply.Header("accept-ranges"), QByteArray("bytes"));
        QCOMPARE(reply.Header("content-type"), QByteArray("audio/wav"));
        QVERIFY(reply.Body == file.mid(first, last - first + 1));
        if (!range.isEmpty())
            QCOMPARE(reply.Header("content-range"), "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last)
                                                        + '/' + QByteArray::number(file.size()));
        QCOMPARE(Get("lisa", "/api/recordings/2/audio").Header("content-type"), QByteArray("audio/mpeg"));
    }

    void unsatisfiableRangesAre416_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addRow("beyond the end") << QByteArray("bytes=99999999-");
        QTest::addRow("reversed") << QByteArray("bytes=500-100");
        QTest::addRow("negative") << QByteArray("bytes=-5-7");
        QTest::addRow("many ranges") << QByteArray("bytes=0-1,2-3,4-5,6-7,8-9,10-11,12-13,14-15");
        QTest::addRow("over-long number") << QByteArray("bytes=0-" + QByteArray(400, '9'));
    }
    void unsatisfiableRangesAre416()
    {
        QFETCH(QByteArray, range);
        const TReply reply = Get("lisa", "/api/recordings/1/audio", {{"Range", range}});
        QCOMPARE(reply.Status, 416);
        QCOMPARE(reply.Header("content-range"), "bytes */" + QByteArray::number(QFileInfo(FWav).size()));
    }

    void opusTranscodeStreamsFromAStart()
    {
        const TReply reply = Get("lisa", "/api/recordings/1/audio?as=opus&start=1.5");
        QCOMPARE(reply.Status, 200);
        QCOMPARE(reply.Header("content-type"), QByteArray("audio/ogg"));
        QVERIFY(reply.Body.startsWith("OggS"));
        const QString out = FTmp.filePath("transcode.opus");
        QFile f(out);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reply.Body);
        f.close();
        QByteArray probe;
        QProcess ffprobe;
        ffprobe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration:stream=codec_name", "-of", "csv=p=0", out});
        QVERIFY(ffprobe.waitForFinished(30000));
        probe = ffprobe.readAllStandardOutput();
        QVERIFY2(probe.contains("opus"), probe.constData());
        const double seconds = probe.split('\n').last().trimmed().isEmpty() ? probe.split('\n').at(1).toDouble()
                                                                            : probe.split('\n').last().toDouble();
        QVERIFY2(qAbs(seconds - 2.5) < 0.1, probe.constData());
        QCOMPARE(Get("lisa", "/api/recordings/1/audio?as=opus&start=9").Status, 416);
    }

    void peaksHoldBothLanesAndTheirSecondsPerPoint()
    {
        const QJsonObject peaks = JsonOf(Get("lisa", "/api/recordings/1/peaks"));
        const int count = peaks.value("count").toInt();
        QVERIFY(count > 1000);
        QCOMPARE(peaks.value("left").toArray().size(), 2 * count);
        QCOMPARE(peaks.value("right").toArray().size(), 2 * count);
        // Each point covers S frames, S the frames over the points rounded up: the points may reach past the end.
        const int framesPerPoint = (4 * 44100 + count - 1) / count;
        QCOMPARE(peaks.value("seconds_per_point").toDouble(), framesPerPoint / 44100.0);
        QCOMPARE(peaks.value("seconds").toDouble(), 4.0);
        // A 440 Hz tone at the lavfi level: lows below zero, highs above.
        int lowest = 0, highest = 0;
        const QJsonArray left = peaks.value("left").toArray();
        for (int i = 0; i < left.size(); i += 2) {
            lowest = std::min(lowest, left[i].toInt());
            highest = std::max(highest, left[i + 1].toInt());
            QVERIFY(left[i].toInt() <= left[i + 1].toInt());
        }
        QVERIFY(lowest < -1000 && highest > 1000);
    }

    // A client that takes gzip (a browser always does) gets the same answer compressed, kept per file state.
    void peaksAreGzippedForWhoTakesIt()
    {
        const TReply plain = Get("lisa", "/api/recordings/2/peaks");
        QCOMPARE(plain.Status, 200);
        QVERIFY(plain.Header("content-encoding").isEmpty());
        for (int ask = 0; ask < 2; ++ask) {  // rendered, then from the memo
            const TReply zipped = Get("lisa", "/api/recordings/2/peaks", {{"Accept-Encoding", "gzip, deflate, br"}});
            QCOMPARE(zipped.Status, 200);
            QCOMPARE(zipped.Header("content-encoding"), QByteArray("gzip"));
            QCOMPARE(zipped.Header("vary"), QByteArray("Accept-Encoding"));
            QVERIFY(zipped.Body.size() < plain.Body.size() / 2);
            QCOMPARE(Gunzipped(zipped.Body), plain.Body);
        }
        const TReply refused = Get("lisa", "/api/recordings/2/peaks", {{"Accept-Encoding", "gzip;q=0, br"}});
        QVERIFY(refused.Header("content-encoding").isEmpty());
        QCOMPARE(refused.Body, plain.Body);
    }

    void exportIsByteForByteWhatTheToolMakes_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QStringList>("toolOptions");
        QTest::addRow("wav range") << QByteArray("start=0.5&end=2.25&format=wav")
                                   << QStringList{"--format", "wav", "--start", "0.5", "--end", "2.25"};
        QTest::addRow("mp3 with bitrate") << QByteArray("start=1&end=3&format=mp3&bitrate=96")
                                          << QStringList{"--format", "mp3", "--bitrate", "96", "--start", "1", "--end", "3"};
        QTest::addRow("opus normalised") << QByteArray("start=0&end=2&format=opus&loudness=-23")
                                         << QStringList{"--format", "opus", "--start", "0", "--end", "2", "--loudness", "-23"};
    }
    void exportIsByteForByteWhatTheToolMakes()
    {
        QFETCH(QByteArray, query);
        QFETCH(QStringList, toolOptions);
        const TReply reply = Get("erik", "/api/recordings/1/export?" + query);
        QCOMPARE(reply.Status, 200);
        QVERIFY(reply.Header("content-disposition").startsWith("attachment; filename=\"10122026101_"));
        const QString out = FTmp.filePath("tool-export.bin");
        QFile::remove(out);
        QProcess tool;
        tool.start(Tool(), QStringList{"export", FWav, out} + toolOptions);
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(!reply.Body.isEmpty());
        QVERIFY(reply.Body == ReadAll(out));
        // Nothing is left in the state folder once the answer is sent.
        QTRY_VERIFY(QDir(FConfig.StateDir + "/exports").entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    void exportWithRecordIsAZipThatVerifies()
    {
        const TReply reply = Get("erik", "/api/recordings/1/export?start=1&end=2&format=wav&record=1");
        QCOMPARE(reply.Status, 200);
        QCOMPARE(reply.Header("content-type"), QByteArray("application/zip"));
        const QString dir = FTmp.filePath("zip-out");
        QDir().mkpath(dir);
        zip_error_t zipError;
        zip_error_init(&zipError);
        zip_source_t *source = zip_source_buffer_create(reply.Body.constData(), reply.Body.size(), 0, &zipError);
        zip_t *archive = zip_open_from_source(source, ZIP_RDONLY, &zipError);
        QVERIFY(archive);
        QStringList names;
        for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
            const QString name = QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
            names.append(name);
            zip_file_t *entry = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
            QByteArray content;
            char buffer[65536];
            zip_int64_t got;
            while ((got = zip_fread(entry, buffer, sizeof buffer)) > 0)
                content.append(buffer, static_cast<int>(got));
            zip_fclose(entry);
            QFile f(dir + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        zip_close(archive);
        names.sort();
        QCOMPARE(names, (QStringList{"10122026101_1-2.wav", "10122026101_1-2.wav.json", "10122026101_1-2.wav.sha256"}));
        QProcess verify;
        verify.start(Tool(), {"verify", dir + "/10122026101_1-2.wav.json", "--root", FRoot});
        QVERIFY(verify.waitForFinished(60000));
        const QByteArray out = verify.readAllStandardOutput();
        QVERIFY2(verify.exitCode() == 0, out + verify.readAllStandardError());
        QVERIFY(out.contains("clip=ok"));
        QVERIFY(out.contains("source=ok"));
        QVERIFY(out.contains("reexport=identical"));
    }

    void exportRefusesBadOptions_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addRow("reversed") << QByteArray("start=3&end=1&format=wav");
        QTest::addRow("unknown format") << QByteArray("start=0&end=1&format=exe");
        QTest::addRow("loudness") << QByteArray("start=0&end=1&format=wav&loudness=-3");
        QTest::addRow("negative start") << QByteArray("start=-1&end=1&format=wav");
        QTest::addRow("not a number") << QByteArray("start=nan&end=1&format=wav");
        QTest::addRow("bitrate") << QByteArray("start=0&end=1&format=mp3&bitrate=99999");
        QTest::addRow("start after the end") << QByteArray("start=9&end=10&format=wav");
    }
    void exportRefusesBadOptions()
    {
        QFETCH(QByteArray, query);
        const TReply reply = Get("erik", "/api/recordings/1/export?" + query);
        QCOMPARE(reply.Status, QByteArray(QTest::currentDataTag()) == "start after the end" ? 416 : 400);
        QVERIFY(!JsonOf(reply).value("error").toString().isEmpty());
    }

    void metaEditStoresAndIsRefusedWhileTheRecorderHoldsTheCatalogue()
    {
        const QByteArray cookie = Login("eddy");
        const TReply ok = Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}},
                                R"({"title":"  Nieuwe titel ","persons":"Anna\nBob\r\nCees"})");
        QCOMPARE(ok.Status, 200);
        const QString dump = fixture::Dump(FDb);
        QVERIFY2(dump.contains("'Nieuwe titel'|'Anna\r\nBob\r\nCees'"), qPrintable(dump));
        QCOMPARE(Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}}, R"({"title":1})").Status, 400);
        QCOMPARE(Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}}, R"({"title":"a\nb","persons":""})").Status, 400);

        // The recorder stand-in (another process) holds its write lock while it writes a file.
        const QString recorderRoot = FTmp.filePath("recorder-root");
        QProcess recorder;
        recorder.start(Tool(), {"recorder", FDb, recorderRoot, "--hold", "30", "--count", "1"});
        QVERIFY(recorder.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!QDirIterator(recorderRoot, QDir::Files, QDirIterator::Subdirectories).next().isEmpty(), 20000);
        const TReply locked = Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}},
                                    R"({"title":"Geblokkeerd","persons":""})");
        ::kill(static_cast<pid_t>(recorder.processId()), SIGTERM);
        recorder.waitForFinished(20000);
        QCOMPARE(locked.Status, 409);
        QVERIFY(!JsonOf(locked).value("error").toString().isEmpty());
        QVERIFY(!fixture::Dump(FDb).contains("Geblokkeerd"));
    }

    void stateChangesFromAnotherOriginAreRefused()
    {
        const QByteArray cookie = Login("eddy");
        const QByteArray body = R"({"title":"x","persons":""})";
        QCOMPARE(Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}, {"Origin", "http://evil.example"}}, body).Status, 403);
        QCOMPARE(Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}, {"Sec-Fetch-Site", "cross-site"}}, body).Status, 403);
        QCOMPARE(Fetch(FPort, "POST", "/api/login", {{"Origin", "http://evil.example"}}, R"({"user":"lisa","password":"pw-lisa"})").Status, 403);
        const QByteArray own = "http://127.0.0.1:" + QByteArray::number(FPort);
        QCOMPARE(Fetch(FPort, "PUT", "/api/recordings/2/meta", {{"Cookie", cookie}, {"Origin", own}}, body).Status, 200);
    }

    void failedLoginsAreThrottledPerNameAndPerAddress()
    {
        const auto login = [&](const char *AUser, const char *APassword, const QByteArray &AAddress) {
            return Fetch(FPort, "POST", "/api/login", {{"X-Forwarded-For", AAddress}},
                         QJsonDocument(QJsonObject{{"user", AUser}, {"password", APassword}}).toJson());
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(login("adam", "wrong", "10.1.0." + QByteArray::number(i)).Status, 401);
        const TReply blocked = login("adam", "pw-adam", "10.1.1.1");
        QCOMPARE(blocked.Status, 429);
        QCOMPARE(blocked.Header("retry-after"), QByteArray("900"));
        QCOMPARE(login("eddy", "pw-eddy", "10.1.1.1").Status, 200);  // another name is not blocked

        for (int i = 0; i < 5; ++i)
            QCOMPARE(login(QByteArray("ghost" + QByteArray::number(i)).constData(), "x", "10.2.0.1").Status, 401);
        QCOMPARE(login("lisa", "pw-lisa", "10.2.0.1").Status, 429);  // this address is blocked for every name
        QCOMPARE(login("lisa", "pw-lisa", "10.2.0.2").Status, 200);
        // X-Forwarded-For counts only from a trusted proxy: the test's own address is one (loopback).
    }

    void hostileRequestsAreRefusedAndTheServerStaysUp_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");  // 0: the server closes the connection without an answer
        const QByteArray host = "Host: 127.0.0.1\r\n";
        QTest::addRow("dot dot") << QByteArray("GET /../../etc/passwd HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("escaped dot dot") << QByteArray("GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("escaped dot dot under api") << QByteArray("GET /api/recordings/1/%2e%2e/%2e%2e HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("NUL escaped") << QByteArray("GET /index.html%00 HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("NUL raw") << QByteArray("GET /index\0.html HTTP/1.1\r\n", 28) + host + "\r\n" << 400;
        QTest::addRow("over-long head") << QByteArray("GET / HTTP/1.1\r\n" + host + "X-Pad: " + QByteArray(17000, 'a') + "\r\n\r\n") << 431;
        QTest::addRow("over-long target") << QByteArray("GET /" + QByteArray(20000, 'a') + " HTTP/1.1\r\n" + host + "\r\n") << 431;
        QTest::addRow("over-long body") << QByteArray("POST /api/login HTTP/1.1\r\n" + host + "Content-Length: 70000\r\n\r\n") << 413;
        QTest::addRow("forged cookie") << QByteArray("GET /api/days?month=2026-12 HTTP/1.1\r\n" + host
                                                     + "Cookie: vornak_session=" + QByteArray(64, 'f') + "\r\n\r\n") << 401;
        QTest::addRow("cookie of wrong shape") << QByteArray("GET /api/days?month=2026-12 HTTP/1.1\r\n" + host
                                                             + "Cookie: vornak_session=../../x\r\n\r\n") << 401;
        QTest::addRow("id as a path") << QByteArray("GET /api/recordings/..%2f..%2fetc/audio HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("absolute URL") << QByteArray("GET http://127.0.0.1/etc/passwd HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("static escape by link") << QByteArray("GET /..%2f..%2fusers HTTP/1.1\r\n" + host + "\r\n") << 400;
        QTest::addRow("garbage") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n") << 400;
        QTest::addRow("both lengths") << QByteArray("POST /api/login HTTP/1.1\r\n" + host
                                                    + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n") << 400;
        QTest::addRow("bad chunk size") << QByteArray("POST /api/login HTTP/1.1\r\n" + host
                                                      + "Transfer-Encoding: chunked\r\n\r\nzz\r\n") << 400;
        QTest::addRow("method not allowed") << QByteArray("DELETE / HTTP/1.1\r\n" + host + "\r\n") << 405;
        QTest::addRow("post to a reading route") << QByteArray("POST /api/recordings/1/audio HTTP/1.1\r\n" + host
                                                                + "Content-Length: 0\r\n\r\n") << 401;
    }
    void hostileRequestsAreRefusedAndTheServerStaysUp()
    {
        QFETCH(QByteArray, request);
        {
            TRawConnection connection(FPort);
            QVERIFY(connection.Send(request));
            const TReply reply = connection.Receive();
            QTEST(reply.Status, "status");
            QVERIFY(!reply.Body.contains("root:"));
        }
        QCOMPARE(Get("lisa", "/api/hours?date=2026-12-10").Status, 200);
    }

    void slowClientIsDroppedWithoutDelayingAnother()
    {
        TRawConnection slow(FPort);
        QVERIFY(slow.Send("GET /api/days?month=2026-12 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "));
        // Another client is answered while the slow one is still sending.
        QCOMPARE(Get("lisa", "/api/hours?date=2026-12-10").Status, 200);
        QVERIFY(slow.ClosedByServer());  // after the request time limit, without an answer
    }

    void theAccessLogHoldsWholeLinesWithoutSecrets()
    {
        // Range requests of one session count as one listen.
        const QByteArray cookie = Login("lisa", "10.9.9.9");
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Fetch(FPort, "GET", "/api/recordings/2/audio",
                           {{"Cookie", cookie}, {"Range", "bytes=0-9"}, {"X-Forwarded-For", "10.9.9.9"}}).Status, 206);
        const QStringList lines = LogLines();
        QVERIFY(!lines.isEmpty());
        int listensOfSession = 0;
        QSet<QString> actions;
        const QByteArray log = ReadAll(FAccessLog);
        QVERIFY(log.endsWith('\n'));
        for (const QString &line : lines) {
            QJsonParseError error;
            const QJsonObject entry = QJsonDocument::fromJson(line.toUtf8(), &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QVERIFY(QDateTime::fromString(entry.value("time").toString(), Qt::ISODate).isValid());
            QVERIFY(entry.value("time").toString().contains(QRegularExpression("([+-]\\d\\d:\\d\\d|Z)$")));
            actions.insert(entry.value("action").toString());
            if (entry.value("action") == "listen" && entry.value("address") == "10.9.9.9" && entry.value("id") == 2)
                ++listensOfSession;
            if (entry.value("action") == "export")
                QCOMPARE(entry.value("sha256").toString().size(), 64);
        }
        QCOMPARE(listensOfSession, 1);
        for (const char *action : {"login", "login_failed", "logout", "listen", "peaks", "export", "edit", "search", "denied"})
            QVERIFY2(actions.contains(action), action);
        QVERIFY(!log.contains("pw-"));
        QVERIFY(!log.contains(cookie.mid(cookie.indexOf('=') + 1)));

        const QJsonObject read = JsonOf(Get("adam", "/api/access-log?from=2000-01-01&to=2999-12-31"));
        QVERIFY(read.value("entries").toArray().size() >= lines.size());
        QCOMPARE(JsonOf(Get("adam", "/api/access-log?from=2999-01-01")).value("entries").toArray().size(), 0);
    }

    void aThirdRunningExportOfOneUserIsRefused()
    {
        // Three slow exports (a normalised MP3 of the whole recording) asked at once. Which one is refused
        // depends on the order they reach the server, and none is refused when one ends before the last
        // begins; never more than one of three.
        const QByteArray cookie = Login("adam");
        const QByteArray target = "/api/recordings/2/export?format=mp3&loudness=-16";
        std::vector<std::unique_ptr<TRawConnection>> running;
        for (int i = 0; i < 3; ++i) {
            running.push_back(std::make_unique<TRawConnection>(FPort));
            QVERIFY(running.back()->Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie + "\r\n\r\n"));
        }
        QList<int> statuses;
        for (auto &connection : running) {
            const TReply reply = connection->Receive();
            statuses.append(reply.Status);
            if (reply.Status == 429)
                QVERIFY(!JsonOf(reply).value("error").toString().isEmpty());
        }
        QVERIFY2(statuses.count(200) >= 2 && statuses.count(200) + statuses.count(429) == 3,
                 qPrintable(QString::number(statuses[0]) + ' ' + QString::number(statuses[1]) + ' ' + QString::number(statuses[2])));
    }

    void connectionsBeyondTheLimitGet503()
    {
        TWebLimits limits;
        limits.MaxConnections = 2;
        TWebServer small(*FApi, limits);
        QString error;
        QVERIFY(small.Listen("127.0.0.1:0", error));
        const int port = small.Url().section(':', -1).toInt();
        std::thread loop([&small]() { small.Run(false); });
        {
            TRawConnection first(port), second(port);  // idle: they hold their places
            QVERIFY(first.Connected() && second.Connected());
            const TReply refused = Fetch(port, "GET", "/api/hours?date=2026-12-10");
            QCOMPARE(refused.Status, 503);
            QCOMPARE(refused.Header("retry-after"), QByteArray("1"));
        }
        // Once they are gone there is room again.
        QTRY_COMPARE(small.OpenConnections(), 0);
        QCOMPARE(Fetch(port, "GET", "/").Status, 200);
        small.Stop();
        loop.join();
    }

    void staticPageIsServedFromItsFolder()
    {
        const TReply page = Fetch(FPort, "GET", "/");
        QCOMPARE(page.Status, 200);
        QCOMPARE(page.Header("content-type"), QByteArray("text/html; charset=utf-8"));
        QVERIFY(page.Body.contains("Vornak"));
        QCOMPARE(Fetch(FPort, "GET", "/missing.js").Status, 404);
        QCOMPARE(Fetch(FPort, "HEAD", "/").Status, 200);
    }

    void toolServesUntilSigtermAndRefusesWithoutAccounts()
    {
        QProcess noUsers;
        noUsers.start(Tool(), {"serve", FDb, FRoot, "--listen", "127.0.0.1:0", "--users", FTmp.filePath("none"),
                               "--state", FTmp.filePath("tool-state"), "--access-log", FTmp.filePath("tool.log")});
        QVERIFY(noUsers.waitForFinished(30000));
        QCOMPARE(noUsers.exitCode(), 2);
        QVERIFY(noUsers.readAllStandardError().contains("Geen gebruikers"));

        QProcess serve;
        serve.start(Tool(), {"serve", FDb, FRoot, "--listen", "127.0.0.1:0", "--users", FConfig.UsersPath, "--state",
                             FTmp.filePath("tool-state"), "--access-log", FTmp.filePath("tool.log"), "--cache",
                             FConfig.CacheDir});
        QVERIFY(serve.waitForStarted(5000));
        QByteArray out;
        while (!out.contains('\n') && serve.state() == QProcess::Running && serve.waitForReadyRead(30000))
            out += serve.readAllStandardOutput();
        QVERIFY2(out.startsWith("listening=http://127.0.0.1:"), out.constData());
        const int port = QString::fromLatin1(out.trimmed()).section(':', -1).toInt();
        QCOMPARE(Fetch(port, "GET", "/api/days?month=2026-12").Status, 401);
        ::kill(static_cast<pid_t>(serve.processId()), SIGTERM);
        QVERIFY(serve.waitForFinished(20000));
        QCOMPARE(serve.exitStatus(), QProcess::NormalExit);
        QCOMPARE(serve.exitCode(), 0);
    }

    void toolManagesAccounts()
    {
        const QString users = FTmp.filePath("tool-users");
        const auto run = [&](const QStringList &AArgs, const QByteArray &AInput = {}) {
            QProcess tool;
            tool.start(Tool(), AArgs + QStringList{"--users", users});
            tool.write(AInput);
            tool.closeWriteChannel();
            tool.waitForFinished(30000);
            return std::pair{tool.exitCode(), tool.readAllStandardOutput()};
        };
        QCOMPARE(run({"user", "add", "anna", "--role", "edit"}, "geheim\n").first, 0);
        QCOMPARE(run({"user", "add", "anna", "--role", "edit"}, "geheim\n").first, 1);
        QCOMPARE(run({"user", "add", "bob", "--role", "root"}, "x\n").first, 2);
        QCOMPARE(run({"user", "add", "bob", "--role", "listen"}, "\n").first, 1);
        QCOMPARE(run({"user", "passwd", "anna"}, "nieuw\n").first, 0);
        QCOMPARE(run({"user", "passwd", "carl"}, "nieuw\n").first, 3);
        const auto listed = run({"user", "list"});
        QCOMPARE(listed.first, 0);
        QCOMPARE(listed.second, QByteArray("user=anna\trole=edit\n"));
        TWebUsers file(users);
        QString error;
        QVERIFY(file.Load(error));
        QVERIFY(VerifyPassword(file.Find("anna")->Hash, "nieuw"));
        QCOMPARE(run({"user", "remove", "anna"}).first, 0);
        QCOMPARE(run({"user", "remove", "anna"}).first, 3);
        QCOMPARE(run({"user", "list"}).second, QByteArray());
    }

    // The tool changes the accounts file the running server reads and ends the account's sessions in the
    // shared state folder: a session made before answers 401 after, a login with the new password works.
    void passwdAndRemoveEndOpenSessions()
    {
        const auto run = [&](const QStringList &AArgs, const QByteArray &AInput = {}) {
            QProcess tool;
            tool.start(Tool(), AArgs + QStringList{"--users", FConfig.UsersPath});
            tool.write(AInput);
            tool.closeWriteChannel();
            tool.waitForFinished(30000);
            return tool.exitCode();
        };
        const auto login = [&](const QByteArray &APassword) {
            const TReply reply = Fetch(FPort, "POST", "/api/login", {},
                                       QJsonDocument(QJsonObject{{"user", "pia"}, {"password", QString(APassword)}}).toJson());
            return std::pair{reply.Status, reply.Header("set-cookie").split(';').first()};
        };
        const auto days = [&](const QByteArray &ACookie) {
            return Fetch(FPort, "GET", "/api/days?month=2026-12", {{"Cookie", ACookie}}).Status;
        };
        QCOMPARE(run({"user", "add", "pia", "--role", "listen"}, "oud\n"), 0);
        const auto [status, before] = login("oud");
        QCOMPARE(status, 200);
        QCOMPARE(days(before), 200);
        const QByteArray other = Login("lisa");

        QCOMPARE(run({"user", "passwd", "pia", "--state", FConfig.StateDir}, "nieuw\n"), 0);
        QCOMPARE(days(before), 401);
        QCOMPARE(days(other), 200);  // another account's session stays
        QCOMPARE(login("oud").first, 401);
        const auto [statusNew, after] = login("nieuw");
        QCOMPARE(statusNew, 200);
        QCOMPARE(days(after), 200);

        // Removed and made again under the same name: the old session does not come back.
        QCOMPARE(run({"user", "remove", "pia", "--state", FConfig.StateDir}), 0);
        QCOMPARE(days(after), 401);
        QCOMPARE(run({"user", "add", "pia", "--role", "listen"}, "nieuw\n"), 0);
        QCOMPARE(days(after), 401);
        QCOMPARE(login("nieuw").first, 200);
        QCOMPARE(run({"user", "remove", "pia", "--state", FConfig.StateDir}), 0);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestuWebServer)
#include "tst_uWebServer.moc"
