// Web server benchmark on loopback: `vornak-tool serve` as its own process, 200 clients at once, each
// reading random byte ranges of a different one-hour recording on a kept-alive connection for 30 s, while
// one client asks for the peaks of a cached hour and another runs exports. Every byte is checked against
// the file. Prints p50 and p99 time to first byte, the server's CPU per streamed MB, its peak memory, the
// peaks' p50/p99 alone and under the load (asked as a browser asks, taking gzip; the answer checked against
// the plain one), and an export through the server against `vornak-tool export` of the same range (CPU).
//
//   bench_serve [--tool PATH] [--source FILE] [--clients N] [--seconds S] [--range-kib K]
//               [--library beast|httplib] [--peaks-encoding gzip|identity]
//
// --library httplib puts the same server core (TWebApi: the session checked in the SQLite state, the
// catalogue row, the range from the file, the access log, the peaks memo, exports) behind cpp-httplib
// instead of Boost.Beast, in a forked process with a pool of one thread per client: the like-for-like
// measurement by which the server's HTTP library was chosen.
//
// Without --source a one-hour mono MP3 (64 kbit/s) is made by the ffmpeg program. The recordings are hard
// links of that one file under their own names (the page cache holds it once: this measures the server,
// not the disk).
#include "uRecorderSchema.h"

#include <httplib.h>

#include "uHttpHead.h"
#include "uSqlite.h"
#include "uWebApi.h"
#include "uWebUsers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct TConnection {
    int Fd = -1;
    QByteArray Pending;
    QByteArray LastHead;  // of the last answer received

    bool Open(int APort)
    {
        Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{30, 0};
        ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        int one = 1;
        ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(APort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(Fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~TConnection()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    bool Send(const QByteArray &AData) { return ::send(Fd, AData.constData(), AData.size(), MSG_NOSIGNAL) == AData.size(); }
    bool More()
    {
        char buffer[65536];
        const ssize_t got = ::recv(Fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        Pending.append(buffer, static_cast<int>(got));
        return true;
    }
    // One answer with a Content-Length; AFirstByte gets the time its first byte arrived (ns of ATimer).
    bool Receive(int &AStatus, QByteArray &ABody, const QElapsedTimer &ATimer, qint64 *AFirstByte)
    {
        if (Pending.isEmpty() && !More())
            return false;
        if (AFirstByte)
            *AFirstByte = ATimer.nsecsElapsed();
        int headEnd;
        while ((headEnd = Pending.indexOf("\r\n\r\n")) < 0) {
            if (!More())
                return false;
        }
        const QByteArray head = Pending.left(headEnd);
        LastHead = head;
        AStatus = head.mid(9, 3).toInt();
        const int at = head.toLower().indexOf("content-length:");
        const qint64 length = at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        Pending.remove(0, headEnd + 4);
        while (Pending.size() < length) {
            if (!More())
                return false;
        }
        ABody = Pending.left(static_cast<int>(length));
        Pending.remove(0, static_cast<int>(length));
        return true;
    }
};

double Percentile(std::vector<double> AValues, double AFraction)
{
    if (AValues.empty())
        return 0;
    std::sort(AValues.begin(), AValues.end());
    return AValues[std::min(AValues.size() - 1, static_cast<size_t>(AFraction * AValues.size()))];
}

// User and system CPU seconds of a process, from /proc.
double ProcessCpu(qint64 APid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(APid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = f.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / ::sysconf(_SC_CLK_TCK);
}

// Peak resident memory of a process in MB (VmHWM).
double PeakMemoryMb(qint64 APid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(APid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

double ChildrenCpu()
{
    rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The server's configuration as `vornak-tool serve` makes it from the bench's arguments; each library its
// own state folder, log and envelope cache.
TWebConfig ServerConfig(const QString &ATmp, const QString &ADb, const QString &ARoot, const QString &AUsers,
                        const QString &ALibrary)
{
    TWebConfig config;
    config.DbPath = ADb;
    config.Root = ARoot;
    config.UsersPath = AUsers;
    config.StateDir = ATmp + QStringLiteral("/state-") + ALibrary;
    config.AccessLogPath = ATmp + QStringLiteral("/access-") + ALibrary + QStringLiteral(".log");
    config.CacheDir = ATmp + QStringLiteral("/cache-") + ALibrary;
    return config;
}

// The same server core as `vornak-tool serve` (TWebApi: session check in the SQLite state, catalogue row,
// range of the file, access log, peaks memo, exports) behind cpp-httplib instead of Boost.Beast: one thread
// of its pool per connection (as many as clients), kept-alive connections not ended after 5 requests. Runs
// in a forked process; writes the bound port into AReportFd. Returns the exit code.
int ServeWithHttplib(const TWebConfig &AConfig, int AClients, int AReportFd)
{
    try {
        TWebApi api(AConfig);
        ::mallopt(M_ARENA_MAX, 2);  // as serve does
        httplib::Server httpServer;
        httpServer.new_task_queue = [AClients] { return new httplib::ThreadPool(static_cast<size_t>(AClients + 8)); };
        httpServer.set_keep_alive_max_count(1000000);
        const auto handle = [&api](const httplib::Request &ARequest, httplib::Response &AResponse) {
            const auto header = [&](const char *AName) { return QByteArray::fromStdString(ARequest.get_header_value(AName)); };
            TWebRequest request;
            request.Method = QByteArray::fromStdString(ARequest.method);
            request.Target = QByteArray::fromStdString(ARequest.target);
            request.Cookie = header("Cookie");
            request.Origin = header("Origin");
            request.Host = header("Host");
            request.Range = header("Range");
            request.ContentType = header("Content-Type");
            request.SecFetchSite = header("Sec-Fetch-Site");
            request.ForwardedProto = header("X-Forwarded-Proto");
            request.ForwardedFor = header("X-Forwarded-For");
            request.AcceptEncoding = header("Accept-Encoding");
            request.Body = QByteArray::fromStdString(ARequest.body);
            request.PeerAddress = QString::fromStdString(ARequest.remote_addr);
            TWebResponse response;
            if (SplitTarget(request.Target, request.Path, request.Query))
                response = api.Handle(request);
            else
                response.Status = 400;
            AResponse.status = response.Status;
            for (const char *common : {"Content-Security-Policy: default-src 'self'", "X-Content-Type-Options: nosniff",
                                       "Referrer-Policy: no-referrer", "X-Frame-Options: DENY"}) {
                const char *colon = std::strchr(common, ':');
                AResponse.set_header(std::string(common, colon).c_str(), colon + 2);
            }
            std::string type = "application/octet-stream";
            qint64 total = -1, first = 0;  // a 206: cpp-httplib cuts the range itself from the whole length
            for (const auto &item : response.Headers) {
                if (item.first == "Content-Type") {
                    type = item.second.toStdString();
                } else if (item.first == "Content-Range") {
                    const QByteArray value = item.second.mid(6);  // "bytes F-L/SIZE"
                    first = value.left(value.indexOf('-')).toLongLong();
                    total = value.mid(value.indexOf('/') + 1).toLongLong();
                } else {
                    AResponse.set_header(item.first.constData(), item.second.toStdString());
                }
            }
            // Bodies go through content providers: cpp-httplib compresses only set_content's bodies, and the
            // server's own answer (the peaks' kept gzip) must go out as it is.
            std::shared_ptr<TBodySource> source = response.Stream;
            qint64 length = response.StreamLength;
            if (!source) {
                struct TBytes : TBodySource {
                    QByteArray Data;
                    qint64 At = 0;
                    qint64 Read(char *ABuffer, qint64 AMax) override
                    {
                        const qint64 got = std::min<qint64>(AMax, Data.size() - At);
                        std::memcpy(ABuffer, Data.constData() + At, static_cast<size_t>(got));
                        At += got;
                        return got;
                    }
                };
                auto bytes = std::make_shared<TBytes>();
                bytes->Data = response.Body;
                source = bytes;
                length = response.Body.size();
            }
            const auto provide = [source, at = first](size_t AOffset, size_t ALength, httplib::DataSink &ASink) mutable {
                if (static_cast<qint64>(AOffset) != at)
                    return false;
                char chunk[65536];
                const qint64 got = source->Read(chunk, static_cast<qint64>(std::min(ALength, sizeof chunk)));
                at += got > 0 ? got : 0;
                return got > 0 && ASink.write(chunk, static_cast<size_t>(got));
            };
            if (length < 0) {
                AResponse.set_chunked_content_provider(type, [source](size_t, httplib::DataSink &ASink) {
                    char chunk[65536];
                    const qint64 got = source->Read(chunk, sizeof chunk);
                    if (got == 0)
                        ASink.done();
                    return got == 0 || (got > 0 && ASink.write(chunk, static_cast<size_t>(got)));
                });
            } else if (length > 0) {
                AResponse.set_content_provider(static_cast<size_t>(total >= 0 ? total : length), type, provide);
            } else {
                AResponse.set_header("Content-Type", type);
            }
        };
        httpServer.Get(".*", handle);
        httpServer.Post(".*", handle);
        httpServer.Put(".*", handle);
        const int bound = httpServer.bind_to_any_port("127.0.0.1");
        if (::write(AReportFd, &bound, sizeof bound) != sizeof bound)
            return 1;
        httpServer.listen_after_bind();
        return 0;
    } catch (const EReaderError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
    }
    return 1;
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/vornak-tool");
    QString source;
    int clients = 200;
    int seconds = 30;
    int rangeKib = 256;
    bool useHttplib = false;
    bool peaksGzip = true;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--tool"))
            tool = args[i + 1];
        else if (args[i] == QLatin1String("--source"))
            source = args[i + 1];
        else if (args[i] == QLatin1String("--clients"))
            clients = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--range-kib"))
            rangeKib = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--library"))
            useHttplib = args[i + 1] == QLatin1String("httplib");
        else if (args[i] == QLatin1String("--peaks-encoding"))
            peaksGzip = args[i + 1] != QLatin1String("identity");
    }
    QTemporaryDir tmp;
    if (source.isEmpty()) {
        source = tmp.filePath(QStringLiteral("hour.mp3"));
        std::printf("making a one-hour MP3 with ffmpeg ...\n");
        std::fflush(stdout);
        if (QProcess::execute(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i",
                                                         "anoisesrc=d=3600:c=pink:r=22050:a=0.2", "-ac", "1", "-b:a",
                                                         "64k", "-y", source})
            != 0) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    QFile sourceFile(source);
    if (!sourceFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(source));
        return 1;
    }
    const qint64 size = sourceFile.size();
    const uchar *content = sourceFile.map(0, size);
    const QString suffix = QStringLiteral(".") + QFileInfo(source).suffix();

    // The archive: one recording per client, each a link of the source under its own name.
    const QString root = tmp.filePath(QStringLiteral("root"));
    const QString db = tmp.filePath(QStringLiteral("catalogue.db"));
    std::vector<std::string> paths;  // by id - 1
    {
        TSqliteDb catalogue(db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        catalogue.Exec(QString::fromLatin1(RecorderTableSql));
        catalogue.Exec(QStringLiteral("BEGIN"));
        for (int i = 0; i < clients; ++i) {
            const int day = 1 + i / 24, hour = i % 24;
            const QString date = QStringLiteral("2026-11-%1").arg(day, 2, 10, QLatin1Char('0'));
            const QString name = QStringLiteral("%1112026%2%3")
                                     .arg(day, 2, 10, QLatin1Char('0'))
                                     .arg(hour, 2, 10, QLatin1Char('0'))
                                     .arg(1) + suffix;
            const QString folder = QStringLiteral("%1/2026/11/%2").arg(root).arg(day, 2, 10, QLatin1Char('0'));
            QDir().mkpath(folder);
            if (::link(QFile::encodeName(source).constData(), QFile::encodeName(folder + '/' + name).constData()) != 0
                && !QFile::copy(source, folder + '/' + name)) {
                std::fprintf(stderr, "cannot make %s\n", qPrintable(folder + '/' + name));
                return 1;
            }
            paths.push_back(QFile::encodeName(folder + '/' + name).toStdString());
            TSqliteStmt ins(catalogue, QStringLiteral("INSERT INTO recordings (rec_dt, rec_date, rec_hour, rec_number,"
                                                      " format, filename, filepath, duration_sec) VALUES"
                                                      " (:dt, :d, :h, 1, 'MP3', :f, :p, 3600)"));
            ins.BindText(":dt", QStringLiteral("%1 %2:00:00").arg(date).arg(hour, 2, 10, QLatin1Char('0')));
            ins.BindText(":d", date);
            ins.BindInt(":h", hour);
            ins.BindText(":f", name);
            ins.BindText(":p", folder + '/' + name);
            ins.Step();
        }
        catalogue.Exec(QStringLiteral("COMMIT"));
    }
    TWebUsers users(tmp.filePath(QStringLiteral("users")));
    QString error;
    users.Set(QStringLiteral("bench"), TWebRole::Admin, "bench", error);
    users.Save(error);

    QProcess server;
    qint64 pid = 0;
    int port = 0;
    if (useHttplib) {
        int portPipe[2];
        if (::pipe(portPipe) != 0)
            return 1;
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(ServeWithHttplib(ServerConfig(tmp.path(), db, root, users.Path(), QStringLiteral("httplib")), clients,
                                     portPipe[1]));
        if (::read(portPipe[0], &port, sizeof port) != sizeof port || port <= 0)
            return 1;
        pid = child;
    } else {
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const TWebConfig config = ServerConfig(tmp.path(), db, root, users.Path(), QStringLiteral("beast"));
        server.start(tool, {"serve", db, root, "--listen", "127.0.0.1:0", "--users", users.Path(), "--state",
                            config.StateDir, "--access-log", config.AccessLogPath, "--cache", config.CacheDir});
        QByteArray line;
        while (!line.contains('\n') && server.waitForReadyRead(30000))
            line += server.readAllStandardOutput();
        port = QString::fromLatin1(line.trimmed()).section(':', -1).toInt();
        if (port <= 0) {
            std::fprintf(stderr, "the server did not start: %s\n", line.constData());
            return 1;
        }
        pid = server.processId();
    }
    std::printf("library: %s\n", useHttplib ? "cpp-httplib 0.11.4, the server's API core behind it"
                                            : "Boost.Beast (vornak-tool serve)");

    QElapsedTimer clock;
    clock.start();
    QByteArray cookie;
    {
        const QByteArray body = R"({"user":"bench","password":"bench"})";
        TConnection again;
        again.Open(port);
        again.Send("POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size())
                   + "\r\n\r\n" + body);
        while (!again.Pending.contains("\r\n\r\n") && again.More()) {
        }
        const int c = again.Pending.indexOf("vornak_session=");
        cookie = again.Pending.mid(c, again.Pending.indexOf(';', c) - c);
    }
    const QByteArray cookieHeader = "Cookie: " + cookie + "\r\n";

    // The peaks of one hour, analysed once (not timed), then timed while cached: first alone, then under the
    // load. Asked as a browser asks (it always takes gzip); the answer is checked against the plain one.
    const QByteArray browserEncodings = peaksGzip ? QByteArray("Accept-Encoding: gzip, deflate, br\r\n") : QByteArray();
    const auto timedGet = [&](TConnection &AConnection, const QByteArray &ATarget, QByteArray &ABody, int &AStatus,
                              const QByteArray &AMoreHeaders = {}) {
        const qint64 start = clock.nsecsElapsed();
        AConnection.Send("GET " + ATarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + cookieHeader + AMoreHeaders + "\r\n");
        AConnection.Receive(AStatus, ABody, clock, nullptr);
        return (clock.nsecsElapsed() - start) / 1e6;
    };
    QByteArray plainPeaks;
    qint64 peaksWireBytes = 0;
    std::atomic<qint64> peaksWrong{0};
    const auto peaksRight = [&](const TConnection &AConnection, const QByteArray &ABody) {
        const bool gzip = AConnection.LastHead.toLower().contains("content-encoding: gzip");
        return (gzip ? Gunzipped(ABody) : ABody) == plainPeaks;
    };
    std::vector<double> quietPeaksMs;
    {
        TConnection first;
        first.Open(port);
        int status = 0;
        const double ms = timedGet(first, "/api/recordings/1/peaks", plainPeaks, status);
        std::printf("peaks first analysis: %.0f ms (status %d, %d bytes)\n", ms, status, plainPeaks.size());
        for (int i = 0; i < 40; ++i) {
            QByteArray body;
            quietPeaksMs.push_back(timedGet(first, "/api/recordings/1/peaks", body, status, browserEncodings));
            peaksWireBytes = body.size();
            if (status != 200 || !peaksRight(first, body))
                ++peaksWrong;
        }
        std::fflush(stdout);
    }

    std::atomic<bool> stop{false};
    std::atomic<qint64> bytes{0}, requests{0}, wrong{0}, failed{0};
    std::mutex resultsMutex;
    std::vector<double> firstByteMs, peaksMs;
    std::vector<std::thread> threads;
    const double cpuBefore = ProcessCpu(pid);
    const qint64 loadStart = clock.nsecsElapsed();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c]() {
            std::mt19937_64 random(static_cast<unsigned>(c) * 7919u + 1u);
            auto connection = std::make_unique<TConnection>();
            if (!connection->Open(port)) {
                ++failed;
                return;
            }
            std::vector<double> mine;
            const qint64 span = qint64(rangeKib) * 1024;
            bool retried = false;
            while (!stop) {
                const qint64 first = static_cast<qint64>(random() % static_cast<quint64>(size - span));
                const qint64 last = first + span - 1;
                const qint64 sent = clock.nsecsElapsed();
                int status = 0;
                QByteArray body;
                qint64 firstByte = 0;
                const bool answered =
                    connection->Send("GET /api/recordings/" + QByteArray::number(c + 1) + "/audio HTTP/1.1\r\nHost: "
                                     "127.0.0.1\r\n" + cookieHeader + "Range: bytes=" + QByteArray::number(first) + '-'
                                     + QByteArray::number(last) + "\r\n\r\n")
                    && connection->Receive(status, body, clock, &firstByte);
                if (!answered && !retried && !stop) {
                    // The server ended the kept-alive connection (as cpp-httplib does after 5 requests): a
                    // browser opens another; so does this client, once.
                    retried = true;
                    connection = std::make_unique<TConnection>();
                    connection->Open(port);
                    continue;
                }
                if (!answered || status != 206) {
                    if (!stop)
                        ++failed;
                    break;
                }
                retried = false;
                mine.push_back((firstByte - sent) / 1e6);
                if (body.size() != span || std::memcmp(body.constData(), content + first, static_cast<size_t>(span)) != 0)
                    ++wrong;
                bytes += body.size();
                ++requests;
            }
            const std::lock_guard<std::mutex> lock(resultsMutex);
            firstByteMs.insert(firstByteMs.end(), mine.begin(), mine.end());
        });
    }
    threads.emplace_back([&]() {
        TConnection connection;
        connection.Open(port);
        while (!stop) {
            QByteArray body;
            int status = 0;
            const double ms = timedGet(connection, "/api/recordings/1/peaks", body, status, browserEncodings);
            if (status != 200)
                ++failed;
            else if (!peaksRight(connection, body))
                ++peaksWrong;
            const std::lock_guard<std::mutex> lock(resultsMutex);
            peaksMs.push_back(ms);
        }
    });
    std::atomic<int> exportsDone{0};
    threads.emplace_back([&]() {
        for (int e = 0; e < 5 && !stop; ++e) {
            TConnection connection;
            connection.Open(port);
            QByteArray body;
            int status = 0;
            timedGet(connection, "/api/recordings/" + QByteArray::number(e + 2) + "/export?start=60&end=120&format=mp3",
                     body, status);
            if (status == 200)
                ++exportsDone;
            else
                ++failed;
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread &t : threads)
        t.join();
    const double loadSec = (clock.nsecsElapsed() - loadStart) / 1e9;
    const double cpuLoad = ProcessCpu(pid) - cpuBefore;
    const double mb = bytes.load() / 1e6;

    // An export through the server against the tool's own, CPU of each process.
    const QByteArray exportTarget = "/api/recordings/3/export?start=0&end=600&format=mp3&bitrate=128";
    const double serverCpu0 = ProcessCpu(pid);
    {
        TConnection connection;
        connection.Open(port);
        QByteArray body;
        int status = 0;
        timedGet(connection, exportTarget, body, status);
    }
    const double serverExportCpu = ProcessCpu(pid) - serverCpu0;
    const double toolCpu0 = ChildrenCpu();
    {
        QProcess exporter;
        exporter.setStandardOutputFile(QProcess::nullDevice());
        exporter.start(tool, {"export", source, tmp.filePath(QStringLiteral("tool.mp3")), "--format", "mp3", "--bitrate",
                              "128", "--start", "0", "--end", "600"});
        exporter.waitForFinished(-1);
    }
    const double toolExportCpu = ChildrenCpu() - toolCpu0;
    const double peakMb = PeakMemoryMb(pid);

    if (useHttplib) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
    } else {
        server.terminate();
        server.waitForFinished(20000);
    }

    std::printf("load: %d clients, %.1f s, %lld range requests of %d KiB, %.1f MB, wrong bytes in %lld, failures %lld\n",
                clients, loadSec, static_cast<long long>(requests.load()), rangeKib, mb,
                static_cast<long long>(wrong.load()), static_cast<long long>(failed.load()));
    std::printf("time to first byte: p50 %.2f ms, p99 %.2f ms (goal p99 <= 50 ms)\n", Percentile(firstByteMs, 0.5),
                Percentile(firstByteMs, 0.99));
    std::printf("server CPU: %.2f s in the load, %.2f ms per streamed MB\n", cpuLoad, mb > 0 ? cpuLoad * 1000 / mb : 0);
    std::printf("peaks of a cached hour without load: p50 %.2f ms, p99 %.2f ms (%zu requests; %lld bytes sent, %d plain)\n",
                Percentile(quietPeaksMs, 0.5), Percentile(quietPeaksMs, 0.99), quietPeaksMs.size(),
                static_cast<long long>(peaksWireBytes), plainPeaks.size());
    std::printf("peaks of a cached hour under load: p50 %.2f ms, p99 %.2f ms (%zu requests; goal <= 10 ms), wrong %lld\n",
                Percentile(peaksMs, 0.5), Percentile(peaksMs, 0.99), peaksMs.size(),
                static_cast<long long>(peaksWrong.load()));
    std::printf("exports under load: %d done\n", exportsDone.load());
    std::printf("export of 10 min to MP3 128k: server %.2f s CPU, vornak-tool export %.2f s CPU, ratio %.2f (goal <= 1.10)\n",
                serverExportCpu, toolExportCpu, toolExportCpu > 0 ? serverExportCpu / toolExportCpu : 0);
    std::printf("server peak memory: %.1f MB (goal <= 100 MB)\n", peakMb);
    return wrong.load() == 0 && failed.load() == 0 && peaksWrong.load() == 0 ? 0 : 1;
}
