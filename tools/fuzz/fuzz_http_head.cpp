// Request heads as the web server reads them: the HTTP parser with the server's limits, then the target's
// path and query, the Range header and the session cookie. Nothing may crash, hang or let a path hold "..",
// "." segments, a backslash or a NUL; a range must lie inside the body.
#include "uHttpHead.h"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstdint>
#include <cstdlib>

namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize)
{
    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(64 * 1024);
    parser.eager(true);
    boost::beast::error_code error;
    size_t used = 0;
    while (used < ASize && !parser.is_done()) {
        const size_t step = parser.put(boost::asio::buffer(AData + used, ASize - used), error);
        if (error || step == 0)
            break;
        used += step;
    }
    if (!parser.is_header_done())
        return 0;
    const auto &message = parser.get();
    const QByteArray target(message.target().data(), static_cast<int>(message.target().size()));
    QByteArray path;
    QMap<QString, QString> query;
    if (SplitTarget(target, path, query)) {
        if (!path.startsWith('/') || path.contains('\0') || path.contains('\\'))
            std::abort();
        for (const QByteArray &segment : path.split('/')) {
            if (segment == "." || segment == "..")
                std::abort();
        }
    }
    const auto range = message[http::field::range];
    for (const qint64 size : {qint64(0), qint64(1), qint64(1000), qint64(1) << 40}) {
        qint64 first = -1, last = -1;
        if (ParseRange(QByteArray(range.data(), static_cast<int>(range.size())), size, first, last)
                == TRangeResult::Satisfiable
            && (first < 0 || last < first || last >= size))
            std::abort();
    }
    const auto cookie = message[http::field::cookie];
    CookieValue(QByteArray(cookie.data(), static_cast<int>(cookie.size())), "vornak_session");
    return 0;
}
