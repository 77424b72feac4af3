// Request targets, ranges and cookies of the web API.
#include "uHttpHead.h"

#include <zlib.h>

namespace {

int HexDigit(char AChar)
{
    if (AChar >= '0' && AChar <= '9')
        return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f')
        return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F')
        return AChar - 'A' + 10;
    return -1;
}

bool PercentDecode(const QByteArray &AText, bool APlusIsSpace, QByteArray &AOut)
{
    AOut.clear();
    AOut.reserve(AText.size());
    for (int i = 0; i < AText.size(); ++i) {
        char c = AText[i];
        if (c == '%') {
            if (i + 2 >= AText.size())
                return false;
            const int high = HexDigit(AText[i + 1]);
            const int low = HexDigit(AText[i + 2]);
            if (high < 0 || low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && APlusIsSpace) {
            c = ' ';
        }
        if (c == '\0')
            return false;
        AOut.append(c);
    }
    return true;
}

bool ParseNumber(const QByteArray &AText, qint64 &AValue)
{
    if (AText.isEmpty() || AText.size() > 18)
        return false;
    AValue = 0;
    for (const char c : AText) {
        if (c < '0' || c > '9')
            return false;
        AValue = AValue * 10 + (c - '0');
    }
    return true;
}

} // namespace

bool SplitTarget(const QByteArray &ATarget, QByteArray &APath, QMap<QString, QString> &AQuery)
{
    AQuery.clear();
    if (!ATarget.startsWith('/'))
        return false;
    const int mark = ATarget.indexOf('?');
    const QByteArray rawPath = mark < 0 ? ATarget : ATarget.left(mark);
    if (!PercentDecode(rawPath, false, APath) || APath.contains('\\'))
        return false;
    for (const QByteArray &segment : APath.split('/')) {
        if (segment == "." || segment == "..")
            return false;
    }
    if (mark < 0)
        return true;
    for (const QByteArray &pair : ATarget.mid(mark + 1).split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        QByteArray name, value;
        if (!PercentDecode(eq < 0 ? pair : pair.left(eq), true, name)
            || !PercentDecode(eq < 0 ? QByteArray() : pair.mid(eq + 1), true, value))
            return false;
        AQuery.insert(QString::fromUtf8(name), QString::fromUtf8(value));
    }
    return true;
}

TRangeResult ParseRange(const QByteArray &AHeader, qint64 ASize, qint64 &AFirst, qint64 &ALast)
{
    if (AHeader.isEmpty())
        return TRangeResult::Whole;
    const QByteArray rangeText = AHeader.trimmed();
    if (!rangeText.startsWith("bytes=") || rangeText.contains(','))
        return TRangeResult::Unsatisfiable;
    const QByteArray range = rangeText.mid(6).trimmed();
    const int dash = range.indexOf('-');
    if (dash < 0)
        return TRangeResult::Unsatisfiable;
    const QByteArray first = range.left(dash).trimmed();
    const QByteArray last = range.mid(dash + 1).trimmed();
    qint64 firstValue = 0, lastValue = 0;
    if (first.isEmpty()) {
        if (!ParseNumber(last, lastValue) || lastValue == 0 || ASize == 0)
            return TRangeResult::Unsatisfiable;
        AFirst = std::max<qint64>(0, ASize - lastValue);
        ALast = ASize - 1;
        return TRangeResult::Satisfiable;
    }
    if (!ParseNumber(first, firstValue) || firstValue >= ASize)
        return TRangeResult::Unsatisfiable;
    if (last.isEmpty()) {
        lastValue = ASize - 1;
    } else if (!ParseNumber(last, lastValue) || lastValue < firstValue) {
        return TRangeResult::Unsatisfiable;
    }
    AFirst = firstValue;
    ALast = std::min(lastValue, ASize - 1);
    return TRangeResult::Satisfiable;
}

QByteArray CookieValue(const QByteArray &AHeader, const QByteArray &AName)
{
    for (const QByteArray &part : AHeader.split(';')) {
        const QByteArray cookie = part.trimmed();
        if (cookie.startsWith(AName + '='))
            return cookie.mid(AName.size() + 1);
    }
    return {};
}

const char *StatusText(int AStatus)
{
    switch (AStatus) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool AcceptsGzip(const QByteArray &AHeader)
{
    bool gzip = false, any = false;
    for (const QByteArray &item : AHeader.split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts.first().trimmed().toLower();
        bool refused = false;
        for (int i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed().toLower();
            if (parameter.startsWith("q=")) {
                bool ok = false;
                const double weight = parameter.mid(2).toDouble(&ok);
                refused = !ok || weight <= 0;
            }
        }
        if (coding == "gzip" || coding == "x-gzip") {
            if (refused)
                return false;  // named and refused: a "*" does not bring it back
            gzip = true;
        } else if (coding == "*") {
            any = !refused;
        }
    }
    return gzip || any;
}

QByteArray Gzipped(const QByteArray &AData)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(static_cast<int>(deflateBound(&stream, static_cast<uLong>(AData.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(AData.constData()));
    stream.avail_in = static_cast<uInt>(AData.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    const qint64 written = static_cast<qint64>(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return {};
    out.truncate(static_cast<int>(written));
    return out;
}

// A gzip member inflated; empty when AData is not one (or is cut off).
QByteArray Gunzipped(const QByteArray &AData)
{
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return {};
    QByteArray out;
    char buffer[65536];
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(AData.constData()));
    stream.avail_in = static_cast<uInt>(AData.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, static_cast<int>(sizeof buffer - stream.avail_out));
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}
