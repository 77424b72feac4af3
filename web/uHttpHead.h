// The parts of a request head the web API reads: the target's path and query, the Range header, the
// session cookie, and the answer a request gets as a value. No sockets: the fuzz target feeds it bytes.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

// Splits a request target into its path (percent-decoded) and its query (names and values percent-decoded,
// '+' as a space, UTF-8). False for a target that is not an absolute path, a bad escape, a NUL (also
// escaped), a path with a "." or ".." segment (also escaped) or a backslash.
bool SplitTarget(const QByteArray &ATarget, QByteArray &APath, QMap<QString, QString> &AQuery);

// A Range header against a body of ASize bytes. Exactly one range, "bytes=F-L", "bytes=F-" or "bytes=-N",
// is Satisfiable when it selects at least one byte (L beyond the end counts to the end); everything else
// (several ranges, reversed, negative, other units, numbers too long, beyond the end) is Unsatisfiable.
enum class TRangeResult { Whole, Satisfiable, Unsatisfiable };
TRangeResult ParseRange(const QByteArray &AHeader, qint64 ASize, qint64 &AFirst, qint64 &ALast);

// The value of one cookie in a Cookie header; empty when it is not there.
QByteArray CookieValue(const QByteArray &AHeader, const QByteArray &AName);

// True when an Accept-Encoding header takes gzip ("gzip", "x-gzip" or "*", not with q=0).
bool AcceptsGzip(const QByteArray &AHeader);

// AData as a gzip member (RFC 1952); empty when zlib fails. The peaks answer is made so once per file state and
// kept: a browser always takes gzip, and an hour's answer shrinks to a fraction, which is what its transfer
// under load costs.
QByteArray Gzipped(const QByteArray &AData);
// A gzip member inflated; empty when AData is not one (or is cut off).
QByteArray Gunzipped(const QByteArray &AData);

// A body that is produced while it is sent. Read is called on a worker thread (or, when Immediate, on the
// connection's thread), one call at a time.
class TBodySource {
public:
    virtual ~TBodySource() = default;
    // Up to AMax bytes into ABuffer; 0 at the end, -1 on a failure (the connection is then closed).
    virtual qint64 Read(char *ABuffer, qint64 AMax) = 0;
    // True when Read never waits for anything but the page cache or the disk (a regular file): it is then
    // called on the connection's own thread, saving two thread changes per chunk.
    virtual bool Immediate() const { return false; }
};

struct TWebRequest {
    QByteArray Method;
    QByteArray Target;        // as sent
    QByteArray Path;          // from SplitTarget
    QMap<QString, QString> Query;
    QByteArray Cookie, Origin, Host, Range, ContentType, SecFetchSite;
    QByteArray ForwardedProto, ForwardedFor;
    QByteArray AcceptEncoding;
    QByteArray Body;
    QString PeerAddress;      // the connection's own peer
    std::function<bool()> ClientGone;  // may be empty: true once the client has closed its side
};

struct TWebResponse {
    int Status = 200;
    QList<QPair<QByteArray, QByteArray>> Headers;
    QByteArray Body;                       // unless Stream is set
    std::shared_ptr<TBodySource> Stream;   // the body, produced while it is sent
    qint64 StreamLength = -1;              // bytes of Stream; -1: unknown (chunked)
    bool Close = false;                    // close the connection after this answer

    void AddHeader(const QByteArray &AName, const QByteArray &AValue) { Headers.append(qMakePair(AName, AValue)); }
};

// The reason phrase of a status ("Not Found").
const char *StatusText(int AStatus);
