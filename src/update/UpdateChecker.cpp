#include "update/UpdateChecker.h"

#include "settings/Settings.h"
#include "settings/Texts.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#ifndef GLANTO_UPDATE_SITE
#define GLANTO_UPDATE_SITE "https://updates.glanto.invalid"
#endif
#ifndef GLANTO_VERSION
#define GLANTO_VERSION "0"
#endif

namespace {

QString site()
{
    QString base = QStringLiteral(GLANTO_UPDATE_SITE);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

QString statusReason(int httpStatus)
{
    return httpStatus > 0 ? QStringLiteral("HTTP %1").arg(httpStatus) : QStringLiteral("-");
}

// A page the website did serve, but that is not the update information (a
// login portal, an emptied feed, one too large to be it).
UpdateChecker::Result unusableAnswer(int httpStatus)
{
    UpdateChecker::Result result;
    result.text = Texts::format("update.badFeed", {statusReason(httpStatus)});
    result.answered = true;
    return result;
}

bool isUsableVersion(const QString &version)
{
    static const QRegularExpression allowed(QStringLiteral("^[0-9A-Za-z._+~-]+$"));
    return !version.isEmpty() && version.size() <= UpdateChecker::maxVersionLength
           && allowed.match(version).hasMatch();
}

QUrl downloadLinkFrom(const QJsonValue &value)
{
    if (!value.isString())
        return UpdateChecker::builtInDownloadURL();
    const QString text = value.toString().trimmed();
    if (text.isEmpty() || text.size() > UpdateChecker::maxLinkLength)
        return UpdateChecker::builtInDownloadURL();
    const QUrl url(text, QUrl::StrictMode);
    return UpdateChecker::isSafeLink(url) ? url : UpdateChecker::builtInDownloadURL();
}

} // namespace

namespace UpdateChecker {

bool isSafeLink(const QUrl &url)
{
    if (!url.isValid() || url.isRelative())
        return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !url.host().isEmpty();
}

std::optional<QUrl> feedURLFromEnvironment(const QString &value)
{
    const QString text = value.trimmed();
    if (text.isEmpty() || text.size() > maxLinkLength)
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!isSafeLink(url))
        return std::nullopt;
    return url;
}

QUrl feedURL()
{
    static const QUrl url = [] {
        if (const std::optional<QUrl> fromEnvironment = feedURLFromEnvironment(qEnvironmentVariable("GLANTO_UPDATE_FEED")))
            return *fromEnvironment;
        return QUrl(site() + QStringLiteral("/quintal/version.json"));
    }();
    return url;
}

QUrl builtInDownloadURL()
{
    static const QUrl url(site() + QStringLiteral("/quintal/download/"));
    return url;
}

QString runningVersion()
{
    const QString version = QStringLiteral(GLANTO_VERSION);
    return version.isEmpty() ? QStringLiteral("0") : version;
}

bool isNewer(const QString &a, const QString &b)
{
    const QStringList left = a.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList right = b.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const auto number = [](const QStringList &pieces, qsizetype index) -> quint64 {
        if (index >= pieces.size())
            return 0;
        const QString &piece = pieces.at(index);
        // Only plain decimal digits: "0b", "+1" and " 2" count as 0.
        for (QChar ch : piece) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return 0;
        }
        bool ok = false;
        const quint64 value = piece.toULongLong(&ok);
        return ok ? value : 0;
    };
    const qsizetype length = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < length; ++i) {
        const quint64 x = number(left, i);
        const quint64 y = number(right, i);
        if (x != y)
            return x > y;
    }
    return false;
}

Result interpretResponse(int httpStatus, const QByteArray &body, const QString &transportError,
                         const QString &running)
{
    Result result;
    result.kind = Result::Kind::failed;
    if (httpStatus <= 0 && !transportError.isEmpty()) {
        result.text = transportError;
        return result;
    }
    // An error page that happens to hold JSON is still an error page.
    if (httpStatus < 200 || httpStatus > 299) {
        result.text = statusReason(httpStatus);
        return result;
    }
    if (body.size() > maxFeedBytes)
        return unusableAnswer(httpStatus);
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue version = document.isObject() ? document.object().value(QStringLiteral("version")) : QJsonValue();
    const QString text = version.isString() ? version.toString().trimmed() : QString();
    if (!isUsableVersion(text))
        return unusableAnswer(httpStatus);
    if (isNewer(text, running)) {
        result.kind = Result::Kind::newer;
        result.release = Release{text, downloadLinkFrom(document.object().value(QStringLiteral("download")))};
    } else {
        result.kind = Result::Kind::upToDate;
        result.text = running;
    }
    return result;
}

bool isDue(const std::optional<QDateTime> &lastCheck, const QDateTime &now)
{
    if (!lastCheck || !lastCheck->isValid())
        return true;
    const qint64 elapsed = lastCheck->secsTo(now);
    return elapsed < 0 || elapsed >= checkInterval;
}

void check(QObject *context, std::function<void(const Result &)> completion)
{
    // A manager per check: nothing (cookies, cache, connections) outlives it.
    auto *manager = new QNetworkAccessManager(context);
    QNetworkRequest request(feedURL());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Qt's default already refuses an https page that redirects to http; say so
    // here so that nobody loosens it by accident.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Glanto/") + runningVersion());

    QNetworkReply *reply = manager->get(request);
    auto oversized = std::make_shared<bool>(false);
    // The whole check ends in its time. Qt's transfer timeout counts idle
    // time only, so a website that trickles a byte now and then would hold
    // it for ever, and it ends as "cancelled", which nobody did.
    auto timedOut = std::make_shared<bool>(false);
    QTimer::singleShot(UpdateChecker::checkTimeoutMs, reply, [reply, timedOut] {
        if (reply->isFinished())
            return;
        *timedOut = true;
        reply->abort();
    });
    // Stop reading as soon as the answer is larger than any feed can be, whether
    // the server announced its length or not.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, oversized] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxFeedBytes) {
            *oversized = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, oversized](qint64 received, qint64) {
        if (received > maxFeedBytes && !*oversized) {
            *oversized = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, manager,
                     [manager, reply, oversized, timedOut, completion = std::move(completion)] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        Result result;
        if (*timedOut) {
            result.text = Texts::text("update.timedOut");
        } else if (*oversized) {
            if (status >= 200 && status <= 299)
                result = unusableAnswer(status);
            else
                result.text = statusReason(status);
        } else {
            const QByteArray body = reply->read(maxFeedBytes + 1);
            const QString transportError = status > 0 || reply->error() == QNetworkReply::NoError
                                               ? QString() : reply->errorString();
            result = interpretResponse(status, body, transportError, runningVersion());
        }
        if (result.kind != Result::Kind::failed)
            Settings::setLastUpdateCheck(QDateTime::currentDateTimeUtc());
        reply->deleteLater();
        manager->deleteLater();
        if (completion)
            completion(result);
    });
}

bool checkIfDue(QObject *context, std::function<void(const Release &)> onNewer)
{
    if (!Settings::autoCheckUpdates())
        return false;
    if (!isDue(Settings::lastUpdateCheck(), QDateTime::currentDateTimeUtc()))
        return false;
    check(context, [onNewer = std::move(onNewer)](const Result &result) {
        if (result.kind != Result::Kind::newer)
            return;
        // The skip rule is read when the answer arrives, not when it was asked.
        if (Settings::skippedUpdateVersion() == result.release.version)
            return;
        if (onNewer)
            onNewer(result.release);
    });
    return true;
}

void scheduleAutomaticChecks(QObject *context, std::function<void(const Release &)> onNewer)
{
    auto *daily = new QTimer(context);
    daily->setInterval(std::chrono::seconds(checkInterval));
    QObject::connect(daily, &QTimer::timeout, context, [context, onNewer] { checkIfDue(context, onNewer); });
    QTimer::singleShot(firstCheckDelayMs, context, [context, daily, onNewer] {
        checkIfDue(context, onNewer);
        daily->start();
    });
}

void skip(const std::optional<QString> &version)
{
    Settings::setSkippedUpdateVersion(version);
}

bool openLink(const QUrl &url)
{
    if (!isSafeLink(url))
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace UpdateChecker
