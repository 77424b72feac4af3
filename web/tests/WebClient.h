// A small HTTP/1.1 client for the web server's tests: raw requests over loopback, bounded in time.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

struct TReply {
    int Status = 0;                          // 0: no answer (the connection was closed or timed out)
    QMap<QByteArray, QByteArray> Headers;    // names in lower case
    QByteArray Body;
    QByteArray Header(const char *AName) const { return Headers.value(QByteArray(AName).toLower()); }
};

// A connection to 127.0.0.1:APort with every receive bounded by ASeconds.
class TRawConnection {
public:
    explicit TRawConnection(int APort, int ASeconds = 30)
    {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{ASeconds, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(APort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        FConnected = ::connect(FFd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~TRawConnection() { ::close(FFd); }
    bool Connected() const { return FConnected; }
    bool Send(const QByteArray &AData)
    {
        qint64 done = 0;
        while (done < AData.size()) {
            const ssize_t sent = ::send(FFd, AData.constData() + done, static_cast<size_t>(AData.size() - done), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += sent;
        }
        return true;
    }
    // Reads one whole answer (Content-Length, chunked, or up to the close). AHead: the answer to a HEAD.
    TReply Receive(bool AHead = false)
    {
        TReply reply;
        int headEnd;
        while ((headEnd = FPending.indexOf("\r\n\r\n")) < 0) {
            if (!More())
                return reply;
        }
        const QList<QByteArray> lines = FPending.left(headEnd).split('\n');
        FPending.remove(0, headEnd + 4);
        const QList<QByteArray> status = lines.first().split(' ');
        reply.Status = status.size() > 1 ? status[1].toInt() : 0;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                reply.Headers.insert(lines[i].left(colon).toLower(), lines[i].mid(colon + 1).trimmed());
        }
        if (AHead)
            return reply;
        if (reply.Headers.contains("content-length")) {
            const qint64 length = reply.Headers.value("content-length").toLongLong();
            while (FPending.size() < length) {
                if (!More()) {
                    reply.Status = 0;  // cut short
                    return reply;
                }
            }
            reply.Body = FPending.left(static_cast<int>(length));
            FPending.remove(0, static_cast<int>(length));
        } else if (reply.Header("transfer-encoding") == "chunked") {
            for (;;) {
                int lineEnd;
                while ((lineEnd = FPending.indexOf("\r\n")) < 0) {
                    if (!More()) {
                        reply.Status = 0;
                        return reply;
                    }
                }
                const qint64 size = FPending.left(lineEnd).toLongLong(nullptr, 16);
                while (FPending.size() < lineEnd + 2 + size + 2) {
                    if (!More()) {
                        reply.Status = 0;
                        return reply;
                    }
                }
                reply.Body += FPending.mid(lineEnd + 2, static_cast<int>(size));
                FPending.remove(0, static_cast<int>(lineEnd + 2 + size + 2));
                if (size == 0)
                    break;
            }
        } else {
            while (More()) {
            }
            reply.Body = FPending;
            FPending.clear();
        }
        return reply;
    }
    // True when the server closed the connection (reads end) before AMaxBytes more arrived.
    bool ClosedByServer()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(FFd, buffer, sizeof buffer, 0);
            if (got == 0)
                return true;
            if (got < 0)
                return errno == ECONNRESET;
        }
    }

private:
    bool More()
    {
        char buffer[65536];
        const ssize_t got = ::recv(FFd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        FPending.append(buffer, static_cast<int>(got));
        return true;
    }

    int FFd = -1;
    bool FConnected = false;
    QByteArray FPending;
};

// One request on a connection of its own.
inline TReply Fetch(int APort, const QByteArray &AMethod, const QByteArray &ATarget,
                    const QList<QPair<QByteArray, QByteArray>> &AHeaders = {}, const QByteArray &ABody = {})
{
    TRawConnection connection(APort);
    QByteArray request = AMethod + ' ' + ATarget + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(APort) + "\r\n";
    for (const auto &header : AHeaders)
        request += header.first + ": " + header.second + "\r\n";
    if (!ABody.isEmpty() || AMethod == "POST" || AMethod == "PUT")
        request += "Content-Length: " + QByteArray::number(ABody.size()) + "\r\n";
    request += "Connection: close\r\n\r\n" + ABody;
    if (!connection.Connected() || !connection.Send(request))
        return {};
    return connection.Receive(AMethod == "HEAD");
}
