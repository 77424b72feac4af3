// The web server's connections (Boost.Beast over Asio): accepting, reading request heads and bodies within
// their limits, handing each request to the API on a worker thread, and sending answers and streamed
// bodies back without holding more than one chunk per connection.
#pragma once

#include <QString>

#include <functional>
#include <memory>

class TWebApi;

struct TWebLimits {
    int HeadBytes = 16 * 1024;      // a longer head: 431
    int BodyBytes = 64 * 1024;      // a longer body: 413
    int RequestSeconds = 10;        // a request (head and body) not complete by then: the connection is dropped
    int MaxConnections = 512;       // one more: 503 and closed
    int GraceSeconds = 5;           // running answers may finish this long after Stop
    int WriteSeconds = 60;          // a client that takes no chunk for this long is dropped
    int IoThreads = 2;              // threads running the connections' loop
    int Workers = 16;               // threads answering requests
    int SlowWorkers = 8;            // threads for exports and analyses
};

class TWebServer {
public:
    TWebServer(TWebApi &AApi, const TWebLimits &ALimits = TWebLimits());
    ~TWebServer();
    TWebServer(const TWebServer &) = delete;
    TWebServer &operator=(const TWebServer &) = delete;

    // Binds "HOST:PORT" (HOST an address, IPv6 in brackets; PORT 0 picks a free one). False with AError.
    bool Listen(const QString &AListen, QString &AError);
    // The bound address as a URL: "http://127.0.0.1:8480", "http://[::1]:8480".
    QString Url() const;
    // Serves until Stop or SIGINT/SIGTERM (when AHandleSignals); then stops accepting, lets running answers
    // finish for up to GraceSeconds, cancels what still runs and returns. Calls AOnListening once it accepts.
    void Run(bool AHandleSignals, const std::function<void()> &AOnListening = {});
    // Any thread: begins the stop Run carries out.
    void Stop();
    // Connections open now (for tests and the bench).
    int OpenConnections() const;

    struct TImpl;

private:
    std::unique_ptr<TImpl> d;
};
