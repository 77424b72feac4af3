// The web server's JSON API: every route, its role and its checks.
#include "uWebApi.h"

#include "uAccessLog.h"
#include "uDecoder.h"
#include "uEnvelope.h"
#include "uEnvelopeCache.h"
#include "uEvidence.h"
#include "uReaderData.h"
#include "uWebExport.h"
#include "uWebState.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <charconv>
#include <list>
#include <optional>
#include <string>
#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <future>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const CookieName = "vornak_session";
const char *const TextLoginFailed = "Onbekende gebruiker of onjuist wachtwoord";
const char *const TextNoSession = "Niet aangemeld of de sessie is verlopen";
const char *const TextRoleTooLow = "Geen toestemming voor deze handeling";
const char *const TextForeignOrigin = "Verzoek van een andere herkomst geweigerd";
const char *const TextNotFound = "Niet gevonden";
const char *const TextBadRequest = "Ongeldig verzoek";
const char *const TextTooManyLogins = "Te veel mislukte aanmeldingen; probeer het over 15 minuten opnieuw";
const char *const TextTooManyExports = "Er lopen al twee exports voor deze gebruiker; wacht tot er een klaar is";

// How long a listened recording's row is taken from memory, and how many peaks answers are kept (about
// 1 MB each for an hour).
constexpr qint64 RowMemoSec = 5;
constexpr size_t PeaksMemoCount = 8;

qint64 NowSec()
{
    return QDateTime::currentSecsSinceEpoch();
}

TWebResponse Json(int AStatus, const QJsonObject &AObject)
{
    TWebResponse response;
    response.Status = AStatus;
    response.Body = QJsonDocument(AObject).toJson(QJsonDocument::Compact);
    response.AddHeader("Content-Type", "application/json; charset=utf-8");
    response.AddHeader("Cache-Control", "no-store");
    return response;
}

TWebResponse Error(int AStatus, const QString &AText)
{
    return Json(AStatus, QJsonObject{{QStringLiteral("error"), AText}});
}

TWebResponse Error(int AStatus, const char *AText)
{
    return Error(AStatus, QString::fromUtf8(AText));
}

QJsonObject RecordingRow(const TRecInfo &ARI)
{
    return QJsonObject{{QStringLiteral("id"), ARI.Id},
                       {QStringLiteral("filename"), ARI.FileName},
                       {QStringLiteral("format"), ARI.Format},
                       {QStringLiteral("duration_sec"), ARI.DurationSec},
                       {QStringLiteral("title"), ARI.Title},
                       {QStringLiteral("persons"), ARI.Persons}};
}

TWebResponse RecordingList(const TRecList &AList)
{
    QJsonArray rows;
    for (const TRecInfo &ri : AList)
        rows.append(RecordingRow(ri));
    return Json(200, QJsonObject{{QStringLiteral("recordings"), rows}});
}

bool IsDate(const QString &AText)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return pattern.match(AText).hasMatch() && QDate::fromString(AText, Qt::ISODate).isValid();
}

bool IsMonth(const QString &AText)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{4}-(0[1-9]|1[0-2])$"));
    return pattern.match(AText).hasMatch();
}

// The media type browsers know a recording's file by, from its extension.
QByteArray MediaTypeOf(const QString &AFileName)
{
    const QString ext = QFileInfo(AFileName).suffix().toLower();
    if (ext == QLatin1String("wav"))
        return "audio/wav";
    if (ext == QLatin1String("mp3"))
        return "audio/mpeg";
    if (ext == QLatin1String("ogg") || ext == QLatin1String("oga") || ext == QLatin1String("opus"))
        return "audio/ogg";
    if (ext == QLatin1String("flac"))
        return "audio/flac";
    if (ext == QLatin1String("m4a") || ext == QLatin1String("aac"))
        return "audio/mp4";
    if (ext == QLatin1String("wma"))
        return "audio/x-ms-wma";
    if (ext == QLatin1String("ac3"))
        return "audio/ac3";
    return "application/octet-stream";
}

QByteArray StaticTypeOf(const QString &APath)
{
    const QString ext = QFileInfo(APath).suffix().toLower();
    if (ext == QLatin1String("html"))
        return "text/html; charset=utf-8";
    if (ext == QLatin1String("js") || ext == QLatin1String("mjs"))
        return "text/javascript; charset=utf-8";
    if (ext == QLatin1String("css"))
        return "text/css; charset=utf-8";
    if (ext == QLatin1String("json"))
        return "application/json";
    if (ext == QLatin1String("svg"))
        return "image/svg+xml";
    if (ext == QLatin1String("png"))
        return "image/png";
    if (ext == QLatin1String("ico"))
        return "image/x-icon";
    if (ext == QLatin1String("woff2"))
        return "font/woff2";
    return "application/octet-stream";
}

// Reads a span of a file; the descriptor is the one opened when the answer was made.
class TFileSpan : public TBodySource {
public:
    TFileSpan(int AFd, qint64 AFirst, qint64 ALength) : FFd(AFd), FPos(AFirst), FLeft(ALength) {}
    ~TFileSpan() override { ::close(FFd); }
    qint64 Read(char *ABuffer, qint64 AMax) override
    {
        if (FLeft <= 0)
            return 0;
        const ssize_t got = ::pread(FFd, ABuffer, static_cast<size_t>(std::min(AMax, FLeft)), FPos);
        if (got <= 0)
            return -1;  // the file shrank: the promised length cannot be kept
        FPos += got;
        FLeft -= got;
        return got;
    }
    bool Immediate() const override { return true; }

private:
    int FFd;
    qint64 FPos;
    qint64 FLeft;
};

// The file of AFileName under the real root, or empty when it lies outside or is no regular file.
QString InsideRoot(const QString &APath, const QString &ARealRoot)
{
    QByteArray bytes;
    if (!PathBytesOf(APath, bytes))
        return {};
    char resolved[PATH_MAX];
    if (!::realpath(bytes.constData(), resolved))
        return {};
    const QString real = PathFromBytes(QByteArray(resolved));
    if (!real.startsWith(ARealRoot + QLatin1Char('/')))
        return {};
    struct stat st;
    if (::stat(resolved, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return real;
}

QString RealPathOf(const QString &APath)
{
    QByteArray bytes;
    char resolved[PATH_MAX];
    if (!PathBytesOf(APath, bytes) || !::realpath(bytes.constData(), resolved))
        return {};
    return PathFromBytes(QByteArray(resolved));
}

// The analysis of a recording, once however many ask at once.
class TPeaksService {
public:
    explicit TPeaksService(const QString &ACacheDir) : FCache(ACacheDir) {}

    TEnvelopeResult Get(const QString &APath)
    {
        const std::optional<TEnvelopeCacheKey> key =
            FCache.Usable() ? TEnvelopeCache::KeyOf(APath) : std::nullopt;
        TEnvelopeResult result;
        if (key && FCache.Lookup(*key, result))
            return result;
        std::shared_future<TEnvelopeResult> pending;
        std::promise<TEnvelopeResult> mine;
        bool runHere = false;
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            auto found = FRunning.find(APath);
            if (found != FRunning.end()) {
                pending = found->second;
            } else {
                pending = mine.get_future().share();
                FRunning.emplace(APath, pending);
                runHere = true;
            }
        }
        if (!runHere)
            return pending.get();
        result = BuildEnvelopeFromFile(APath, nullptr, 1);
        if (key && result.Error == 0 && result.EnvCount > 0)
            FCache.StoreAfterPass(APath, *key, result);
        mine.set_value(result);
        const std::lock_guard<std::mutex> lock(FMutex);
        FRunning.erase(APath);
        return result;
    }

private:
    TEnvelopeCache FCache;
    std::mutex FMutex;
    std::map<QString, std::shared_future<TEnvelopeResult>> FRunning;
};

void AppendNumber(QByteArray &AOut, double AValue)
{
    AOut += QByteArray::number(AValue, 'g', 17);
}

// {"id","seconds_per_point","count","seconds","left":[min,max,...],"right":[...]}, written by hand: an hour
// is 50,000 points, 200,000 numbers.
QByteArray PeaksJson(int AId, const TEnvelopeResult &AEnv)
{
    const double secPerPoint = AEnv.SampleRate > 0 ? double(AEnv.Figures.FramesPerPoint) / AEnv.SampleRate : 0;
    const std::vector<TEnvPoint> &points = *AEnv.Envelope;
    std::string body;
    body.reserve(points.size() * 26 + 200);
    QByteArray head = "{\"id\":" + QByteArray::number(AId) + ",\"seconds_per_point\":";
    AppendNumber(head, secPerPoint);
    head += ",\"count\":" + QByteArray::number(AEnv.EnvCount) + ",\"seconds\":";
    AppendNumber(head, AEnv.DurationSec);
    body.append(head.constData(), static_cast<size_t>(head.size()));
    char number[16];
    const auto lane = [&](const char *AName, bool ALeft) {
        body += AName;
        for (size_t i = 0; i < points.size(); ++i) {
            if (i)
                body += ',';
            const TEnvPoint &p = points[i];
            char *end = std::to_chars(number, number + sizeof number, ALeft ? p.MnL : p.MnR).ptr;
            *end++ = ',';
            end = std::to_chars(end, number + sizeof number, ALeft ? p.MxL : p.MxR).ptr;
            body.append(number, static_cast<size_t>(end - number));
        }
        body += ']';
    };
    lane(",\"left\":[", true);
    lane(",\"right\":[", false);
    body += '}';
    return QByteArray(body.data(), static_cast<int>(body.size()));
}

// The peaks answer rendered once per file state: the JSON and the same bytes gzip-compressed.
struct TRenderedPeaks {
    QByteArray Json;
    QByteArray Gzip;  // empty when compression failed: the plain answer is sent
};

TWebResponse PeaksResponse(const TRenderedPeaks &ARendered, const TWebRequest &ARequest)
{
    TWebResponse response;
    const bool gzip = !ARendered.Gzip.isEmpty() && AcceptsGzip(ARequest.AcceptEncoding);
    response.Body = gzip ? ARendered.Gzip : ARendered.Json;
    response.AddHeader("Content-Type", "application/json; charset=utf-8");
    if (gzip)
        response.AddHeader("Content-Encoding", "gzip");
    response.AddHeader("Vary", "Accept-Encoding");
    response.AddHeader("Cache-Control", "private, max-age=60");
    return response;
}

} // namespace

QString DefaultStaticDir()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vornak-reader/web"));
}

struct TWebApi::TImpl {
    TWebConfig Config;
    QString RealRoot;
    TWebState State;
    TAccessLog Log;
    TPeaksService Peaks;
    std::mutex UsersMutex;
    TWebUsers Users;
    QDateTime UsersStamp;
    qint64 UsersSize = -1;
    std::mutex ExportsMutex;
    std::map<QString, int> RunningExports;

    explicit TImpl(const TWebConfig &AConfig)
        : Config(AConfig), State(AConfig.StateDir), Log(AConfig.AccessLogPath), Peaks(AConfig.CacheDir),
          Users(AConfig.UsersPath)
    {
        RealRoot = RealPathOf(AConfig.Root);
        if (RealRoot.isEmpty() || !QFileInfo(RealRoot).isDir())
            throw EReaderError(QStringLiteral("Map met opnamen niet gevonden: %1").arg(AConfig.Root));
        QString error;
        if (!ReloadUsers(error))
            throw EReaderError(error);
    }

    // Reads the accounts again when the file changed (an account added or removed while serving).
    bool ReloadUsers(QString &AError)
    {
        const QFileInfo info(Config.UsersPath);
        const QDateTime stamp = info.exists() ? info.lastModified() : QDateTime();
        const qint64 size = info.exists() ? info.size() : -1;
        if (stamp == UsersStamp && size == UsersSize && UsersSize != -2)
            return true;
        TWebUsers fresh(Config.UsersPath);
        if (!fresh.Load(AError))
            return false;
        Users = fresh;
        UsersStamp = stamp;
        UsersSize = size;
        return true;
    }

    bool UserOf(const QString &AName, TWebUser &AUser)
    {
        const std::lock_guard<std::mutex> lock(UsersMutex);
        QString error;
        ReloadUsers(error);  // a damaged file keeps the accounts read before
        const TWebUser *user = Users.Find(AName);
        if (!user)
            return false;
        AUser = *user;
        return true;
    }

    QString ClientAddress(const TWebRequest &ARequest) const
    {
        if (!ARequest.ForwardedFor.isEmpty() && Config.TrustedProxies.contains(ARequest.PeerAddress)) {
            const QByteArray last = ARequest.ForwardedFor.split(',').last().trimmed();
            if (!last.isEmpty() && last.size() <= 64)
                return QString::fromLatin1(last);
        }
        return ARequest.PeerAddress;
    }

    bool OverTls(const TWebRequest &ARequest) const
    {
        return Config.TrustedProxies.contains(ARequest.PeerAddress)
               && ARequest.ForwardedProto.trimmed().toLower() == "https";
    }

    // A state-changing request from a page of another origin.
    bool ForeignOrigin(const TWebRequest &ARequest) const
    {
        if (ARequest.SecFetchSite == "cross-site" || ARequest.SecFetchSite == "same-site")
            return true;
        if (ARequest.Origin.isEmpty())
            return false;
        const QByteArray own = (OverTls(ARequest) ? QByteArray("https://") : QByteArray("http://")) + ARequest.Host;
        return ARequest.Origin != own;
    }

    void LogEntry(const TAccessEntry &AEntry) { Log.Append(AEntry); }

    // Rows and files of recordings being listened to, for a few seconds.
    struct TRowMemo {
        TRecInfo Row;
        QString File;
        qint64 At = 0;
    };
    std::mutex MemoMutex;
    std::map<int, TRowMemo> Rows;
    bool RecentRow(int AId, TRecInfo &ARI, QString &AFile)
    {
        const std::lock_guard<std::mutex> lock(MemoMutex);
        const auto found = Rows.find(AId);
        if (found == Rows.end() || found->second.At + RowMemoSec < NowSec())
            return false;
        ARI = found->second.Row;
        AFile = found->second.File;
        return true;
    }
    void RememberRow(int AId, const TRecInfo &ARI, const QString &AFile)
    {
        const std::lock_guard<std::mutex> lock(MemoMutex);
        if (Rows.size() > 4096)
            Rows.clear();
        Rows[AId] = TRowMemo{ARI, AFile, NowSec()};
    }

    // The peaks answers of the last few recordings asked, by the file's exact state.
    struct TPeaksMemo {
        int Id = 0;
        TEnvelopeCacheKey Key;
        TRenderedPeaks Rendered;
    };
    std::list<TPeaksMemo> PeaksMemo;  // most recent first
    bool RenderedPeaks(int AId, const TEnvelopeCacheKey &AKey, TRenderedPeaks &ARendered)
    {
        const std::lock_guard<std::mutex> lock(MemoMutex);
        for (auto it = PeaksMemo.begin(); it != PeaksMemo.end(); ++it) {
            if (it->Id == AId && it->Key == AKey) {
                PeaksMemo.splice(PeaksMemo.begin(), PeaksMemo, it);
                ARendered = PeaksMemo.front().Rendered;
                return true;
            }
        }
        return false;
    }
    void KeepRenderedPeaks(int AId, const TEnvelopeCacheKey &AKey, const TRenderedPeaks &ARendered)
    {
        const std::lock_guard<std::mutex> lock(MemoMutex);
        PeaksMemo.push_front(TPeaksMemo{AId, AKey, ARendered});
        while (PeaksMemo.size() > PeaksMemoCount)
            PeaksMemo.pop_back();
    }
};

TWebApi::TWebApi(const TWebConfig &AConfig) : d(std::make_unique<TImpl>(AConfig))
{
    RemoveExportDebris(AConfig.StateDir);
}

TWebApi::~TWebApi() = default;

int TWebApi::UserCount()
{
    const std::lock_guard<std::mutex> lock(d->UsersMutex);
    QString error;
    d->ReloadUsers(error);
    return d->Users.Users().size();
}

namespace {

struct TCaller {
    QString User;
    TWebRole Role = TWebRole::Listen;
    QByteArray SessionKey;
    QString Address;
};

} // namespace

TWebResponse TWebApi::Handle(const TWebRequest &ARequest)
{
    TImpl &s = *d;
    const QString address = s.ClientAddress(ARequest);
    const QByteArray &path = ARequest.Path;
    const QByteArray &method = ARequest.Method;
    const bool changes = method != "GET" && method != "HEAD";
    try {
        if (!path.startsWith("/api/")) {
            // The page: static files, no session needed (the page asks for the login itself).
            if (method != "GET" && method != "HEAD")
                return Error(405, "Methode niet toegestaan");
            if (s.Config.StaticDir.isEmpty())
                return Error(404, TextNotFound);
            const QString realStatic = RealPathOf(s.Config.StaticDir);
            const QString wanted = path == "/" ? QStringLiteral("index.html") : PathFromBytes(path.mid(1));
            const QString file = realStatic.isEmpty() ? QString()
                                                      : InsideRoot(realStatic + QLatin1Char('/') + wanted, realStatic);
            QByteArray bytes;
            const int fd = file.isEmpty() || !PathBytesOf(file, bytes) ? -1 : ::open(bytes.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return Error(404, TextNotFound);
            struct stat st;
            ::fstat(fd, &st);
            TWebResponse response;
            response.AddHeader("Content-Type", StaticTypeOf(file));
            response.AddHeader("Cache-Control", "no-cache");
            response.Stream = std::make_shared<TFileSpan>(fd, 0, st.st_size);
            response.StreamLength = st.st_size;
            return response;
        }

        if (changes && s.ForeignOrigin(ARequest)) {
            s.LogEntry({QString(), address, QStringLiteral("denied"), 0, -1, -1, {}, {}, 403});
            return Error(403, TextForeignOrigin);
        }

        // ---- login
        if (path == "/api/login") {
            if (method != "POST")
                return Error(405, "Methode niet toegestaan");
            const QJsonDocument doc = QJsonDocument::fromJson(ARequest.Body);
            const QString name = doc.object().value(QStringLiteral("user")).toString();
            const QByteArray password = doc.object().value(QStringLiteral("password")).toString().toUtf8();
            if (!doc.isObject() || name.isEmpty() || name.size() > 256)
                return Error(400, TextBadRequest);
            const qint64 now = NowSec();
            if (s.State.RecentFailures(name, address, now, s.Config.FailedLoginWindowSec) >= s.Config.FailedLoginLimit) {
                s.LogEntry({name, address, QStringLiteral("denied"), 0, -1, -1, {}, {}, 429});
                TWebResponse response = Error(429, TextTooManyLogins);
                response.AddHeader("Retry-After", QByteArray::number(s.Config.FailedLoginWindowSec));
                return response;
            }
            TWebUser user;
            const bool known = s.UserOf(name, user);
            // An unknown name is checked against a dummy hash: the same time as a wrong password.
            if (!VerifyPassword(known ? user.Hash : QByteArray(), password) || !known) {
                s.State.AddFailure(name, address, now);
                s.LogEntry({name, address, QStringLiteral("login_failed"), 0, -1, -1, {}, {}, 401});
                return Error(401, TextLoginFailed);
            }
            s.State.ClearNameFailures(name);
            const QByteArray token = s.State.CreateSession(user.Name, now);
            s.LogEntry({user.Name, address, QStringLiteral("login"), 0, -1, -1, {}, {}, 200});
            TWebResponse response = Json(200, QJsonObject{{QStringLiteral("user"), user.Name},
                                                          {QStringLiteral("role"), QLatin1String(RoleName(user.Role))}});
            QByteArray cookie = QByteArray(CookieName) + '=' + token + "; HttpOnly; SameSite=Strict; Path=/";
            if (s.OverTls(ARequest))
                cookie += "; Secure";
            response.AddHeader("Set-Cookie", cookie);
            return response;
        }

        // ---- every other route needs a session
        const QByteArray token = CookieValue(ARequest.Cookie, CookieName);
        TWebSession session;
        TWebUser user;
        if (token.isEmpty() || !s.State.TouchSession(token, NowSec(), s.Config.SessionIdleSec, session)
            || !s.UserOf(session.User, user))
            return Error(401, TextNoSession);
        TCaller caller{user.Name, user.Role, session.Key, address};
        const auto denied = [&](TWebRole ANeeded) {
            if (caller.Role >= ANeeded)
                return false;
            s.LogEntry({caller.User, address, QStringLiteral("denied"), 0, -1, -1, {}, {}, 403});
            return true;
        };

        // Only the login, the logout and the edit change anything; every other route only answers GET.
        if (changes && path != "/api/logout" && !path.endsWith("/meta"))
            return Error(405, "Methode niet toegestaan");

        if (path == "/api/logout") {
            if (method != "POST")
                return Error(405, "Methode niet toegestaan");
            s.State.EndSession(token);
            s.LogEntry({caller.User, address, QStringLiteral("logout"), 0, -1, -1, {}, {}, 200});
            TWebResponse response = Json(200, QJsonObject{});
            response.AddHeader("Set-Cookie", QByteArray(CookieName) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0");
            return response;
        }

        // Who the session belongs to: a reloaded page goes on without a new login.
        if (path == "/api/session")
            return Json(200, QJsonObject{{QStringLiteral("user"), caller.User},
                                         {QStringLiteral("role"), QLatin1String(RoleName(caller.Role))}});

        if (path == "/api/access-log") {
            if (denied(TWebRole::Admin))
                return Error(403, TextRoleTooLow);
            const QString fromText = ARequest.Query.value(QStringLiteral("from"));
            const QString toText = ARequest.Query.value(QStringLiteral("to"));
            QDateTime from, to;
            if (!fromText.isEmpty()) {
                from = IsDate(fromText) ? QDateTime(QDate::fromString(fromText, Qt::ISODate), QTime(0, 0))
                                        : QDateTime::fromString(fromText, Qt::ISODate);
                if (!from.isValid())
                    return Error(400, "Ongeldige begintijd (yyyy-mm-dd of ISO 8601)");
            }
            if (!toText.isEmpty()) {
                to = IsDate(toText) ? QDateTime(QDate::fromString(toText, Qt::ISODate), QTime(23, 59, 59, 999))
                                    : QDateTime::fromString(toText, Qt::ISODate);
                if (!to.isValid())
                    return Error(400, "Ongeldige eindtijd (yyyy-mm-dd of ISO 8601)");
            }
            bool truncated = false;
            QJsonArray entries;
            for (const QJsonObject &entry : s.Log.Read(from, to, 10000, truncated))
                entries.append(entry);
            return Json(200, QJsonObject{{QStringLiteral("entries"), entries},
                                         {QStringLiteral("truncated"), truncated}});
        }

        std::optional<TReaderData> openCatalogue;
        const auto catalogueOpen = [&]() -> TReaderData & {
            if (!openCatalogue) {
                openCatalogue.emplace(s.Config.DbPath, s.Config.LockWaitMs, TCatalogueAccess::ReadOnly);
                // Day, hour, month and file-name look-ups through the catalogue's index in the shared cache.
                if (!s.Config.CacheDir.isEmpty())
                    openCatalogue->UseIndex(s.Config.CacheDir, TIndexBuild::InQuery);
            }
            return *openCatalogue;
        };

        if (path == "/api/days") {
            const QString month = ARequest.Query.value(QStringLiteral("month"));
            if (!IsMonth(month))
                return Error(400, "Ongeldige maand (yyyy-mm)");
            QJsonArray days;
            for (const QString &day : catalogueOpen().DaysOfMonth(month))
                days.append(day);
            return Json(200, QJsonObject{{QStringLiteral("days"), days}});
        }
        if (path == "/api/hours") {
            const QString date = ARequest.Query.value(QStringLiteral("date"));
            if (!IsDate(date))
                return Error(400, "Ongeldige datum (yyyy-mm-dd)");
            const THourSet hours = catalogueOpen().AvailableHours(date);
            QJsonArray list;
            for (int h = 0; h < 24; ++h) {
                if (hours.Contains(h))
                    list.append(h);
            }
            return Json(200, QJsonObject{{QStringLiteral("hours"), list}});
        }
        const auto hourOf = [&](bool &AOk) {
            const QString text = ARequest.Query.value(QStringLiteral("hour"));
            if (text.isEmpty()) {
                AOk = true;
                return -1;
            }
            const int hour = text.toInt(&AOk);
            AOk = AOk && hour >= 0 && hour <= 23;
            return hour;
        };
        if (path == "/api/recordings" || path == "/api/search") {
            const QString date = ARequest.Query.value(QStringLiteral("date"));
            const QString name = ARequest.Query.value(QStringLiteral("name"));
            const QString stem = ARequest.Query.value(QStringLiteral("stem"));
            bool hourOk = false;
            const int hour = hourOf(hourOk);
            if ((!date.isEmpty() && !IsDate(date)) || !hourOk)
                return Error(400, "Ongeldige datum of uur");
            TRecList list;
            if (path == "/api/recordings") {
                if (date.isEmpty())
                    return Error(400, "Datum ontbreekt (yyyy-mm-dd)");
                catalogueOpen().Search(date, hour, QString(), list);
                return RecordingList(list);
            }
            if (!stem.isEmpty()) {
                TRecInfo found;
                if (catalogueOpen().FindByFilenameStem(stem, found))
                    list.append(found);
            } else {
                if (date.isEmpty() && hour < 0 && name.isEmpty())
                    return Error(400, "Geef een stam, of een datum, uur of naam");
                catalogueOpen().Search(date, hour, name, list);
            }
            s.LogEntry({caller.User, address, QStringLiteral("search"), 0, -1, -1, {}, {}, 200});
            return RecordingList(list);
        }

        // ---- /api/recordings/ID[/part]
        static const QRegularExpression recordingPath(QStringLiteral("^/api/recordings/([1-9][0-9]{0,9})(/[a-z]+)?$"));
        const QRegularExpressionMatch match = recordingPath.match(QString::fromLatin1(path));
        if (!match.hasMatch())
            return Error(404, TextNotFound);
        bool idOk = false;
        const qint64 idValue = match.captured(1).toLongLong(&idOk);
        const QString part = match.captured(2);
        if (!idOk || idValue > 2147483647)
            return Error(404, TextNotFound);
        const int id = static_cast<int>(idValue);
        TRecInfo ri;
        QString file;
        // A listen asks again for every range, and the page asks for the peaks right after the details: their
        // row and file are taken from a short memo.
        const bool memoRow = part == QLatin1String("/audio") || part == QLatin1String("/peaks");
        if (!memoRow || !s.RecentRow(id, ri, file)) {
            if (!catalogueOpen().FindById(id, ri))
                return Error(404, TextNotFound);
            file = InsideRoot(TReaderData::ResolveExistingPath(ri, s.Config.Root), s.RealRoot);
            if (file.isEmpty())
                return Error(404, TextNotFound);
            s.RememberRow(id, ri, file);
        }

        if (part.isEmpty()) {
            if (method == "PUT")
                return Error(405, "Methode niet toegestaan");
            const TEnvelopeResult env = s.Peaks.Get(file);
            if (env.Error != 0)
                return Error(500, QStringLiteral("Opname kan niet worden gelezen: %1").arg(AudioErrorText(env.Error)));
            QJsonObject row = RecordingRow(ri);
            row.insert(QStringLiteral("sample_rate"), env.SampleRate);
            row.insert(QStringLiteral("channels"), env.Channels);
            row.insert(QStringLiteral("frames"), static_cast<double>(env.Figures.Frames));
            row.insert(QStringLiteral("seconds"), env.DurationSec);
            row.insert(QStringLiteral("date"), ri.RecDate);
            row.insert(QStringLiteral("hour"), ri.RecHour);
            row.insert(QStringLiteral("media_type"), QString::fromLatin1(MediaTypeOf(ri.FileName)));
            return Json(200, row);
        }
        if (part == QLatin1String("/peaks")) {
            const std::optional<TEnvelopeCacheKey> key = TEnvelopeCache::KeyOf(file);
            TRenderedPeaks rendered;
            if (key && s.RenderedPeaks(id, *key, rendered)) {
                s.LogEntry({caller.User, address, QStringLiteral("peaks"), id, -1, -1, {}, {}, 200});
                return PeaksResponse(rendered, ARequest);
            }
            const TEnvelopeResult env = s.Peaks.Get(file);
            if (env.Error != 0 || !env.Envelope)
                return Error(500, QStringLiteral("Opname kan niet worden gelezen: %1").arg(AudioErrorText(env.Error)));
            s.LogEntry({caller.User, address, QStringLiteral("peaks"), id, -1, -1, {}, {}, 200});
            rendered.Json = PeaksJson(id, env);
            rendered.Gzip = Gzipped(rendered.Json);
            if (key)
                s.KeepRenderedPeaks(id, *key, rendered);
            return PeaksResponse(rendered, ARequest);
        }
        if (part == QLatin1String("/audio")) {
            if (ARequest.Query.value(QStringLiteral("as")) == QLatin1String("opus")) {
                bool ok = true;
                const QString startText = ARequest.Query.value(QStringLiteral("start"));
                const double start = startText.isEmpty() ? 0 : startText.toDouble(&ok);
                if (!ok || !std::isfinite(start) || start < 0)
                    return Error(400, "Ongeldige begintijd");
                const TEnvelopeResult env = s.Peaks.Get(file);
                if (env.Error != 0)
                    return Error(500, QStringLiteral("Opname kan niet worden gelezen: %1").arg(AudioErrorText(env.Error)));
                if (start >= env.DurationSec)
                    return Error(416, "Begintijd ligt na het einde van de opname");
                if (s.State.MarkListen(caller.SessionKey, id, NowSec(), s.Config.ListenLogWindowSec))
                    s.LogEntry({caller.User, address, QStringLiteral("listen"), id, start, -1, QStringLiteral("opus"), {}, 200});
                TWebResponse response;
                response.AddHeader("Content-Type", "audio/ogg");
                response.AddHeader("Cache-Control", "no-store");
                response.Stream = StartOpusTranscode(file, start, &FStopping);
                response.StreamLength = -1;
                return response;
            }
            QByteArray bytes;
            const int fd = PathBytesOf(file, bytes) ? ::open(bytes.constData(), O_RDONLY | O_CLOEXEC) : -1;
            struct stat st;
            if (fd < 0 || ::fstat(fd, &st) != 0) {
                if (fd >= 0)
                    ::close(fd);
                return Error(404, TextNotFound);
            }
            qint64 first = 0, last = st.st_size - 1;
            const TRangeResult range = ParseRange(ARequest.Range, st.st_size, first, last);
            if (range == TRangeResult::Unsatisfiable) {
                ::close(fd);
                TWebResponse response = Error(416, "Ongeldig of onvervulbaar bereik");
                response.AddHeader("Content-Range", "bytes */" + QByteArray::number(qint64(st.st_size)));
                return response;
            }
            if (s.State.MarkListen(caller.SessionKey, id, NowSec(), s.Config.ListenLogWindowSec))
                s.LogEntry({caller.User, address, QStringLiteral("listen"), id, -1, -1, {}, {}, 200});
            TWebResponse response;
            response.Status = range == TRangeResult::Satisfiable ? 206 : 200;
            response.AddHeader("Content-Type", MediaTypeOf(ri.FileName));
            response.AddHeader("Accept-Ranges", "bytes");
            response.AddHeader("Cache-Control", "private, no-cache");
            if (range == TRangeResult::Satisfiable)
                response.AddHeader("Content-Range", "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last)
                                                        + '/' + QByteArray::number(qint64(st.st_size)));
            response.StreamLength = st.st_size == 0 ? 0 : last - first + 1;
            response.Stream = std::make_shared<TFileSpan>(fd, first, response.StreamLength);
            return response;
        }
        if (part == QLatin1String("/export")) {
            if (denied(TWebRole::Export))
                return Error(403, TextRoleTooLow);
            TWebExportJob job;
            QString error;
            if (!ParseExportQuery(ARequest.Query, job, error))
                return Error(400, error);
            {
                const std::lock_guard<std::mutex> lock(s.ExportsMutex);
                int &running = s.RunningExports[caller.User];
                if (running >= s.Config.ExportsPerUser) {
                    s.LogEntry({caller.User, address, QStringLiteral("denied"), id, job.StartSec, job.EndSec, {}, {}, 429});
                    return Error(429, TextTooManyExports);
                }
                ++running;
            }
            struct TRunningGuard {
                TImpl &Impl;
                QString User;
                ~TRunningGuard()
                {
                    const std::lock_guard<std::mutex> lock(Impl.ExportsMutex);
                    if (--Impl.RunningExports[User] <= 0)
                        Impl.RunningExports.erase(User);
                }
            } guard{s, caller.User};
            const TEnvelopeResult env = s.Peaks.Get(file);
            if (env.Error != 0)
                return Error(500, QStringLiteral("Opname kan niet worden gelezen: %1").arg(AudioErrorText(env.Error)));
            if (job.StartSec >= env.DurationSec)
                return Error(416, "Begintijd ligt na het einde van de opname");
            job.Source = file;
            job.DurationSec = env.DurationSec;
            job.Recording = ri;
            job.StateDir = s.Config.StateDir;
            const std::function<bool()> clientGone = ARequest.ClientGone;
            const std::atomic<bool> *stopping = &FStopping;
            const TWebExportResult result = RunWebExport(job, [clientGone, stopping]() {
                return stopping->load() || (clientGone && clientGone());
            });
            TAccessEntry entry{caller.User, address, QStringLiteral("export"), id, job.StartSec, job.EndSec,
                               QString::fromLatin1(FormatName(job.Format)).toLower(), result.Sha256, 200};
            if (!result.Ok) {
                entry.Status = result.Cancelled ? 499 : 500;
                s.LogEntry(entry);
                TWebResponse response = Error(500, result.Error.isEmpty() ? QStringLiteral("Export mislukt") : result.Error);
                response.Close = result.Cancelled;
                return response;
            }
            s.LogEntry(entry);
            TWebResponse response;
            response.AddHeader("Content-Type", result.MediaType);
            response.AddHeader("Content-Disposition", result.Disposition);
            response.AddHeader("Cache-Control", "no-store");
            response.Stream = result.Body;
            response.StreamLength = result.Length;
            return response;
        }
        if (part == QLatin1String("/meta")) {
            if (method != "PUT")
                return Error(405, "Methode niet toegestaan");
            if (denied(TWebRole::Edit))
                return Error(403, TextRoleTooLow);
            const QJsonDocument doc = QJsonDocument::fromJson(ARequest.Body);
            const QJsonObject object = doc.object();
            if (!doc.isObject() || !object.value(QStringLiteral("title")).isString()
                || !object.value(QStringLiteral("persons")).isString())
                return Error(400, "Verwacht {\"title\": tekst, \"persons\": tekst}");
            QString title = object.value(QStringLiteral("title")).toString();
            if (title.contains(QLatin1Char('\n')) || title.contains(QLatin1Char('\r')))
                return Error(400, "De titel is een enkele regel");
            title = TrimControl(title);
            QString persons = object.value(QStringLiteral("persons")).toString();
            // Line breaks as the reader's editor stores them.
            persons.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
            persons.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
            persons = TrimControl(persons);
            TAccessEntry entry{caller.User, address, QStringLiteral("edit"), id, -1, -1, {}, {}, 200};
            try {
                TReaderData writable(s.Config.DbPath, s.Config.LockWaitMs, TCatalogueAccess::ReadWriteWhenPossible);
                writable.UpdateMeta(id, ri.FileName, title, persons);
            } catch (const EReaderError &e) {
                const bool locked = e.Message().startsWith(QString::fromUtf8(LockedRefusalText));
                const bool gone = e.Message().startsWith(QString::fromUtf8(NoLongerInCatalogueText));
                entry.Status = locked ? 409 : gone ? 404 : 500;
                s.LogEntry(entry);
                return Error(entry.Status, e.Message());
            }
            s.LogEntry(entry);
            return Json(200, QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("title"), title},
                                         {QStringLiteral("persons"), persons}});
        }
        return Error(404, TextNotFound);
    } catch (const EReaderError &e) {
        return Error(500, e.Message());
    } catch (const std::exception &e) {
        return Error(500, QStringLiteral("Interne fout: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}
