// The web server's connections on Boost.Beast: a loop run by two threads with a strand per connection,
// worker pools for answers and body reads.
#include "uWebServer.h"

#include "uHttpHead.h"
#include "uWebApi.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <limits>
#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr size_t ChunkBytes = 64 * 1024;

// Offers the kernel the whole rest of a buffer in each write. Asio's default condition cuts every write into
// 64 KiB, and each cut waits one more turn of the loop behind every other connection's chunk: a 1 MB answer
// beside 200 streams waited 17 turns.
struct TAllAtOnce {
    size_t operator()(const beast::error_code &AError, size_t) const
    {
        return AError ? 0 : std::numeric_limits<size_t>::max();
    }
};

QByteArray ToBytes(beast::string_view AView)
{
    return QByteArray(AView.data(), static_cast<int>(AView.size()));
}

class TConnection;

} // namespace

struct TWebServer::TImpl {
    TWebApi &Api;
    TWebLimits Limits;
    // Declared before the loop: connections freed while the loop is torn down still count themselves out.
    std::atomic<int> Open{0};
    std::atomic<bool> Stopping{false};
    net::io_context Io{2};
    // Accepting, stopping and their timers take turns on one strand; each connection has a strand of its own,
    // so that the loop's threads never run two handlers of one connection at once.
    net::strand<net::io_context::executor_type> Central{Io.get_executor()};
    tcp::acceptor Acceptor{Central};
    net::thread_pool Workers;
    net::thread_pool SlowWorkers;
    net::thread_pool Readers;
    std::mutex ConnectionsMutex;
    std::set<std::weak_ptr<TConnection>, std::owner_less<std::weak_ptr<TConnection>>> Connections;
    net::steady_timer GraceTimer{Central};

    TImpl(TWebApi &AApi, const TWebLimits &ALimits)
        : Api(AApi), Limits(ALimits), Workers(ALimits.Workers), SlowWorkers(ALimits.SlowWorkers), Readers(8)
    {
    }
    void Accept();
    void BeginStop();
};

namespace {

// The answers every response carries.
const char *const CommonHeaders =
    "Content-Security-Policy: default-src 'self'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "X-Frame-Options: DENY\r\n";

QByteArray ErrorBody(const char *AText)
{
    return QByteArray("{\"error\":\"") + AText + "\"}";
}

class TConnection : public std::enable_shared_from_this<TConnection> {
public:
    TConnection(TWebServer::TImpl &ACore, tcp::socket &&ASocket)
        : FCore(ACore), FStream(std::move(ASocket)),
          FBuffer(static_cast<size_t>(ACore.Limits.HeadBytes + ACore.Limits.BodyBytes + 4096))
    {
        beast::error_code ec;
        const tcp::endpoint peer = FStream.socket().remote_endpoint(ec);
        if (!ec) {
            net::ip::address address = peer.address();
            if (address.is_v6() && address.to_v6().is_v4_mapped())
                address = address.to_v6().to_v4();
            FPeer = QString::fromStdString(address.to_string());
        }
        FFd = FStream.socket().native_handle();
    }
    ~TConnection() { --FCore.Open; }

    void Start()
    {
        ++FCore.Open;
        ReadRequest();
    }

    // Sends 503 and closes: the server is full.
    void Refuse()
    {
        ++FCore.Open;
        TWebResponse response;
        response.Status = 503;
        response.Body = ErrorBody("Server is bezet; probeer het zo opnieuw");
        response.AddHeader("Content-Type", "application/json; charset=utf-8");
        response.AddHeader("Retry-After", "1");
        response.Close = true;
        Send(std::move(response));
    }

    // The server stops: an idle connection closes now, a busy one after its answer.
    void StopIdle()
    {
        net::post(FStream.get_executor(), [self = shared_from_this()]() {
            if (self->FReading)
                self->Close();
        });
    }

private:
    void ReadRequest()
    {
        if (FCore.Stopping) {
            Close();
            return;
        }
        FParser.emplace();
        FParser->header_limit(static_cast<std::uint32_t>(FCore.Limits.HeadBytes));
        FParser->body_limit(static_cast<std::uint64_t>(FCore.Limits.BodyBytes));
        FStream.expires_after(std::chrono::seconds(FCore.Limits.RequestSeconds));
        FReading = true;
        http::async_read(FStream, FBuffer, *FParser,
                         [self = shared_from_this()](beast::error_code AError, std::size_t) { self->OnRead(AError); });
    }

    void OnRead(beast::error_code AError)
    {
        FReading = false;
        if (AError) {
            if (AError == http::error::header_limit || AError == http::error::buffer_overflow)
                SendError(431, "Verzoekkop te groot");
            else if (AError == http::error::body_limit)
                SendError(413, "Verzoek te groot");
            else if (AError == http::error::end_of_stream || AError == beast::error::timeout
                     || AError == net::error::operation_aborted || AError == net::error::eof
                     || AError == net::error::connection_reset || !FParser->got_some())
                Close();
            else
                SendError(400, "Ongeldig verzoek");
            return;
        }
        FStream.expires_never();
        const auto &message = FParser->get();
        TWebRequest request;
        request.Method = ToBytes(message.method_string());
        request.Target = ToBytes(message.target());
        request.Cookie = ToBytes(message[http::field::cookie]);
        request.Origin = ToBytes(message[http::field::origin]);
        request.Host = ToBytes(message[http::field::host]);
        request.Range = ToBytes(message[http::field::range]);
        request.ContentType = ToBytes(message[http::field::content_type]);
        request.SecFetchSite = ToBytes(message["Sec-Fetch-Site"]);
        request.ForwardedProto = ToBytes(message["X-Forwarded-Proto"]);
        request.ForwardedFor = ToBytes(message["X-Forwarded-For"]);
        request.AcceptEncoding = ToBytes(message[http::field::accept_encoding]);
        request.Body = QByteArray(message.body().data(), static_cast<int>(message.body().size()));
        request.PeerAddress = FPeer;
        FKeepAlive = message.keep_alive();
        FHttp10 = message.version() < 11;
        FHeadOnly = message.method() == http::verb::head;
        if (!SplitTarget(request.Target, request.Path, request.Query)) {
            SendError(400, "Ongeldig pad");
            return;
        }
        const int fd = FFd;
        std::weak_ptr<TConnection> weak = weak_from_this();
        request.ClientGone = [fd, weak]() {
            if (weak.expired())
                return true;
            pollfd probe{fd, POLLRDHUP, 0};
            return ::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        };
        const bool slow = request.Path.endsWith("/export") || request.Path.endsWith("/peaks")
                          || (request.Path.startsWith("/api/recordings/") && request.Path.count('/') == 3);
        net::post(slow ? FCore.SlowWorkers : FCore.Workers, [self = shared_from_this(), request]() {
            TWebResponse response = self->FCore.Api.Handle(request);
            net::post(self->FStream.get_executor(), [self, response = std::move(response)]() mutable {
                self->Send(std::move(response));
            });
        });
    }

    void SendError(int AStatus, const char *AText)
    {
        TWebResponse response;
        response.Status = AStatus;
        response.Body = ErrorBody(AText);
        response.AddHeader("Content-Type", "application/json; charset=utf-8");
        response.Close = true;
        Send(std::move(response));
    }

    void Send(TWebResponse AResponse)
    {
        FKeepAlive = FKeepAlive && !AResponse.Close && !FCore.Stopping;
        FSource = AResponse.Stream;
        FChunked = FSource && AResponse.StreamLength < 0 && !FHttp10;
        if (FSource && AResponse.StreamLength < 0 && FHttp10)
            FKeepAlive = false;  // HTTP/1.0 has no chunks: the end of the connection ends the body
        FLeft = FSource ? AResponse.StreamLength : 0;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(AResponse.Status) + ' ' + StatusText(AResponse.Status) + "\r\n";
        head += CommonHeaders;
        for (const auto &header : AResponse.Headers)
            head += header.first + ": " + header.second + "\r\n";
        if (FChunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!FSource || AResponse.StreamLength >= 0)
            head += "Content-Length: " + QByteArray::number(FSource ? AResponse.StreamLength : AResponse.Body.size()) + "\r\n";
        head += FKeepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        if (FHeadOnly) {
            FSource.reset();
            FLeft = 0;
            FChunked = false;
        } else if (!FSource) {
            head += AResponse.Body;
        } else if (!FChunked && FLeft > 0 && FSource->Immediate()) {
            // The first chunk of a file goes out with the head: one write and one turn of the loop fewer.
            const qint64 want = std::min<qint64>(ChunkBytes, FLeft);
            const int headSize = head.size();
            head.resize(headSize + static_cast<int>(want));
            const qint64 got = FSource->Read(head.data() + headSize, want);
            if (got <= 0) {
                Close();  // the body cannot be completed: no head that promises it
                return;
            }
            head.truncate(headSize + static_cast<int>(got));
            FLeft -= got;
        }
        FOut = std::move(head);
        Write([self = shared_from_this()]() { self->NextChunk(); });
    }

    template <class THandler>
    void Write(THandler AThen)
    {
        FStream.expires_after(std::chrono::seconds(FCore.Limits.WriteSeconds));
        net::async_write(FStream, net::buffer(FOut.constData(), static_cast<size_t>(FOut.size())), TAllAtOnce(),
                         [self = shared_from_this(), AThen](beast::error_code AError, std::size_t) {
                             if (AError) {
                                 self->Close();
                                 return;
                             }
                             AThen();
                         });
    }

    void NextChunk()
    {
        if (!FSource || (!FChunked && FLeft == 0 && FSource)) {
            if (FSource && !FChunked && FLeft == 0) {
                FSource.reset();
            }
            if (!FSource) {
                Finish();
                return;
            }
        }
        const qint64 want = FChunked || FLeft < 0 ? qint64(ChunkBytes) : std::min<qint64>(ChunkBytes, FLeft);
        if (FSource->Immediate()) {
            QByteArray chunk(static_cast<int>(want), Qt::Uninitialized);
            const qint64 got = FSource->Read(chunk.data(), want);
            OnChunk(std::move(chunk), got);
            return;
        }
        net::post(FCore.Readers, [self = shared_from_this(), want]() {
            QByteArray chunk(static_cast<int>(want), Qt::Uninitialized);
            const qint64 got = self->FSource->Read(chunk.data(), want);
            net::post(self->FStream.get_executor(), [self, chunk = std::move(chunk), got]() mutable {
                self->OnChunk(std::move(chunk), got);
            });
        });
    }

    void OnChunk(QByteArray AChunk, qint64 AGot)
    {
        if (AGot < 0 || (AGot == 0 && !FChunked && FLeft > 0)) {
            Close();  // the body cannot be completed: the client must not take a short body for a whole one
            return;
        }
        if (AGot == 0) {
            FSource.reset();
            if (FChunked) {
                FOut = "0\r\n\r\n";
                Write([self = shared_from_this()]() { self->Finish(); });
            } else {
                Finish();
            }
            return;
        }
        AChunk.truncate(static_cast<int>(AGot));
        if (FLeft > 0)
            FLeft -= AGot;
        if (FChunked)
            FOut = QByteArray::number(AGot, 16) + "\r\n" + AChunk + "\r\n";
        else
            FOut = std::move(AChunk);
        Write([self = shared_from_this()]() { self->NextChunk(); });
    }

    void Finish()
    {
        FSource.reset();
        if (FKeepAlive && !FCore.Stopping)
            ReadRequest();
        else
            Close();
    }

    void Close()
    {
        FSource.reset();
        beast::error_code ec;
        FStream.socket().shutdown(tcp::socket::shutdown_send, ec);
        FStream.close();
    }

    TWebServer::TImpl &FCore;
    beast::tcp_stream FStream;
    beast::flat_buffer FBuffer;
    std::optional<http::request_parser<http::string_body>> FParser;
    QString FPeer;
    int FFd = -1;
    bool FReading = false;
    bool FKeepAlive = false;
    bool FHttp10 = false;
    bool FHeadOnly = false;
    bool FChunked = false;
    qint64 FLeft = 0;
    std::shared_ptr<TBodySource> FSource;
    QByteArray FOut;
};

} // namespace

void TWebServer::TImpl::Accept()
{
    Acceptor.async_accept(net::make_strand(Io), [this](beast::error_code AError, tcp::socket ASocket) {
        if (AError == net::error::operation_aborted || Stopping || !Acceptor.is_open())
            return;
        if (!AError) {
            auto connection = std::make_shared<TConnection>(*this, std::move(ASocket));
            if (Open.load() >= Limits.MaxConnections) {
                connection->Refuse();
            } else {
                {
                    const std::lock_guard<std::mutex> lock(ConnectionsMutex);
                    for (auto it = Connections.begin(); it != Connections.end();)
                        it = it->expired() ? Connections.erase(it) : std::next(it);
                    Connections.insert(connection);
                }
                connection->Start();
            }
        }
        Accept();
    });
}

void TWebServer::TImpl::BeginStop()
{
    if (Stopping.exchange(true))
        return;
    beast::error_code ec;
    Acceptor.close(ec);
    {
        const std::lock_guard<std::mutex> lock(ConnectionsMutex);
        for (const auto &weak : Connections) {
            if (auto connection = weak.lock())
                connection->StopIdle();
        }
    }
    GraceTimer.expires_after(std::chrono::seconds(Limits.GraceSeconds));
    GraceTimer.async_wait([this](beast::error_code) {
        Api.CancelAll();
        Io.stop();
    });
    // Ends the loop early once the last connection is gone.
    auto poll = std::make_shared<net::steady_timer>(Central);
    auto check = std::make_shared<std::function<void()>>();
    *check = [this, poll, check]() {
        if (Open.load() == 0) {
            GraceTimer.cancel();
            return;
        }
        poll->expires_after(std::chrono::milliseconds(20));
        poll->async_wait([check](beast::error_code) { (*check)(); });
    };
    (*check)();
}

TWebServer::TWebServer(TWebApi &AApi, const TWebLimits &ALimits) : d(std::make_unique<TImpl>(AApi, ALimits))
{
    // A client that goes away must not kill the server through a write into its closed connection.
    std::signal(SIGPIPE, SIG_IGN);
    // Every connection is a descriptor, and so is every file being sent.
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

TWebServer::~TWebServer()
{
    d->Api.CancelAll();
    d->Workers.join();
    d->SlowWorkers.join();
    d->Readers.join();
}

bool TWebServer::Listen(const QString &AListen, QString &AError)
{
    QString host, port;
    if (AListen.startsWith(QLatin1Char('['))) {
        const int close = AListen.indexOf(QLatin1String("]:"));
        host = AListen.mid(1, close - 1);
        port = close < 0 ? QString() : AListen.mid(close + 2);
    } else {
        const int colon = AListen.lastIndexOf(QLatin1Char(':'));
        host = AListen.left(colon);
        port = colon < 0 ? QString() : AListen.mid(colon + 1);
    }
    bool portOk = false;
    const int portValue = port.toInt(&portOk);
    beast::error_code ec;
    const net::ip::address address = net::ip::make_address(host.toStdString(), ec);
    if (ec || !portOk || portValue < 0 || portValue > 65535) {
        AError = QStringLiteral("Ongeldig luisteradres: %1 (HOST:PORT, bijvoorbeeld 127.0.0.1:8480)").arg(AListen);
        return false;
    }
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(portValue));
    d->Acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        d->Acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        d->Acceptor.bind(endpoint, ec);
    if (!ec)
        d->Acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        AError = QStringLiteral("Kan niet luisteren op %1: %2").arg(AListen, QString::fromStdString(ec.message()));
        return false;
    }
    return true;
}

QString TWebServer::Url() const
{
    beast::error_code ec;
    const tcp::endpoint endpoint = d->Acceptor.local_endpoint(ec);
    const QString host = QString::fromStdString(endpoint.address().to_string());
    return QStringLiteral("http://%1:%2")
        .arg(endpoint.address().is_v6() ? QLatin1Char('[') + host + QLatin1Char(']') : host)
        .arg(endpoint.port());
}

void TWebServer::Run(bool AHandleSignals, const std::function<void()> &AOnListening)
{
    net::signal_set signalSet(d->Central);
    if (AHandleSignals) {
        signalSet.add(SIGINT);
        signalSet.add(SIGTERM);
        signalSet.async_wait([this](beast::error_code AError, int) {
            if (!AError)
                d->BeginStop();
        });
    }
    d->Accept();
    if (AOnListening)
        AOnListening();
    // More than one thread runs the loop: one thread carrying every connection's chunks was the limit of
    // the time to first byte with 200 streams (and took one core of two at most).
    std::vector<std::thread> loopThreads;
    for (int i = 1; i < d->Limits.IoThreads; ++i)
        loopThreads.emplace_back([this]() { d->Io.run(); });
    d->Io.run();
    for (std::thread &thread : loopThreads)
        thread.join();
    d->Api.CancelAll();
}

void TWebServer::Stop()
{
    net::post(d->Central, [this]() { d->BeginStop(); });
}

int TWebServer::OpenConnections() const
{
    return d->Open.load();
}
