#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QObject;

// Asks the project's site for the latest version and compares it with the
// running one. Nothing is downloaded or installed: a newer version is offered
// as a link that the user's browser opens.
namespace UpdateChecker {

struct Release
{
    QString version;
    QUrl download;
};

struct Result
{
    enum class Kind { newer, upToDate, failed };
    Kind kind = Kind::failed;
    Release release;   // newer: what the feed names
    QString text;      // upToDate: the running version; failed: a short reason
    bool answered = false; // failed: the website was reached, but its answer was not the feed
};

// Untrusted input is bounded before it is used: a feed body longer than this is
// dropped unread, a version string longer than this (or with characters other
// than letters, digits and . - + _ ~) makes the feed unusable, and a download
// link longer than this falls back to the built-in one.
inline constexpr qint64 maxFeedBytes = 16 * 1024;
inline constexpr int maxVersionLength = 32;
// How long a check waits for the website to answer (tests shorten it).
inline int checkTimeoutMs = 15000;
inline constexpr int maxLinkLength = 2048;

// Seconds between automatic checks, and the delay of the first one after launch.
inline constexpr qint64 checkInterval = 86400;
inline constexpr int firstCheckDelayMs = 5000;

// The only links the program ever opens or fetches: http or https with a host.
bool isSafeLink(const QUrl &url);

// The feed address: GLANTO_UPDATE_FEED when it holds a safe link, else the
// build's site. Read once per process.
QUrl feedURL();
// The value of GLANTO_UPDATE_FEED made into a feed address, or none (exposed for tests).
std::optional<QUrl> feedURLFromEnvironment(const QString &value);
QUrl builtInDownloadURL();
QString runningVersion();

// Whether version a is newer than version b, comparing dotted numbers from the
// left (a piece that is not a whole number counts as 0; missing pieces are 0).
bool isNewer(const QString &a, const QString &b);

// What a finished request means: the HTTP status (0 when there was no HTTP
// answer), the body, and the transport's error text when there was no answer.
// Only 2xx answers carrying a JSON object with a usable "version" count.
Result interpretResponse(int httpStatus, const QByteArray &body, const QString &transportError,
                         const QString &running);

// Whether the automatic check is due: never checked, a day or more ago, or a
// last check in the future (a clock that was wrong must not silence it for good).
bool isDue(const std::optional<QDateTime> &lastCheck, const QDateTime &now);

// Fetches the feed and calls completion on the main thread. A usable feed
// stores lastUpdateCheck. Nothing is called when context is gone first.
void check(QObject *context, std::function<void(const Result &)> completion);

// The automatic check: does nothing unless autoCheckUpdates is on and a check
// is due; calls onNewer only for a newer release the user has not skipped.
// Returns whether a request was started.
bool checkIfDue(QObject *context, std::function<void(const Release &)> onNewer);

// Runs checkIfDue 5 s from now and then once a day for as long as context lives.
void scheduleAutomaticChecks(QObject *context, std::function<void(const Release &)> onNewer);

// Remembers the version the user does not want to hear about; none forgets it.
void skip(const std::optional<QString> &version);

// Opens a link in the user's browser, but only a safe one. Returns whether it was handed over.
bool openLink(const QUrl &url);

} // namespace UpdateChecker
