#include "settings/Settings.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include <algorithm>
#include <array>

Q_LOGGING_CATEGORY(lcSettings, "glanto.settings", QtInfoMsg)

namespace {

// Every key the program stores, spelled once.
namespace Key {
constexpr char sortKey[] = "sortKey";
constexpr char sortReversed[] = "sortReversed";
constexpr char hdrEnabled[] = "hdrEnabled";
constexpr char escCloses[] = "escCloses";
constexpr char ratingBadgeHidden[] = "ratingBadgeHidden";
constexpr char slideshowInterval[] = "slideshowInterval";
constexpr char slideshowFadeOff[] = "slideshowFadeOff";
constexpr char slideshowFadeDuration[] = "slideshowFadeDuration";
constexpr char fadeTransition[] = "fadeTransition";
constexpr char wheelNavigates[] = "wheelNavigates";
constexpr char wheelZoomInverted[] = "wheelZoomInverted";
constexpr char editorAppPath[] = "editorAppPath";
constexpr char autoCheckUpdates[] = "autoCheckUpdates";
constexpr char skippedUpdateVersion[] = "skippedUpdateVersion";
constexpr char lastUpdateCheck[] = "lastUpdateCheck";
constexpr char cleanupHintShown[] = "cleanupHintShown";
constexpr char customShortcuts[] = "customShortcuts";
} // namespace Key

constexpr std::array<int, 5> validIntervals{1, 2, 3, 5, 10};
constexpr int defaultInterval = 3;
constexpr std::array<double, 5> validFadeDurations{0.5, 1.0, 1.5, 2.0, 3.0};
constexpr double defaultFadeDuration = 1.0;

// ~/.config/Glanto/Glanto.conf, the file QSettings' native format uses for
// organisation and application "Glanto" (the path is the same; naming the file
// directly skips the system-wide fallback files and makes a read about four
// times cheaper). A fresh object per access: Qt re-reads the file when another
// process has changed it, and the destructor writes our change to disk at once.
const QString &settingsFilePath()
{
    static const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                + QStringLiteral("/Glanto/Glanto.conf");
    return path;
}

class Store : public QSettings
{
public:
    Store() : QSettings(settingsFilePath(), QSettings::IniFormat) {}
};

QVariant readValue(const char *key)
{
    Store settings;
    return settings.value(QLatin1String(key));
}

// A file that cannot be written (left owned by root by a `sudo glanto`, a
// read-only home) would drop every change at the next start without a word.
void writeOut(Store &settings)
{
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return;
    qCWarning(lcSettings) << "cannot write" << settingsFilePath();
    SettingsNotifier::instance().postSettingsNotSaved(settingsFilePath());
}

void writeValue(const char *key, const QVariant &value)
{
    Store settings;
    settings.setValue(QLatin1String(key), value);
    writeOut(settings);
}

void removeKey(const char *key)
{
    Store settings;
    settings.remove(QLatin1String(key));
    writeOut(settings);
}

// Values written by another process come back as strings ("true", "1.5"), so
// booleans and numbers always go through QVariant's conversions.
bool readBool(const char *key)
{
    return readValue(key).toBool();
}

std::optional<QString> readString(const char *key)
{
    const QVariant value = readValue(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void writeString(const char *key, const std::optional<QString> &value)
{
    if (value && !value->isEmpty())
        writeValue(key, *value);
    else
        removeKey(key);
}

} // namespace

namespace Settings {

QString storeFilePath()
{
    return settingsFilePath();
}

SortKey sortKey()
{
    bool ok = false;
    const long long raw = readValue(Key::sortKey).toLongLong(&ok);
    return ok ? sortKeyFromRaw(raw) : SortKey::name;
}

void setSortKey(SortKey key)
{
    writeValue(Key::sortKey, static_cast<int>(key));
}

bool sortReversed() { return readBool(Key::sortReversed); }
void setSortReversed(bool on) { writeValue(Key::sortReversed, on); }

bool hdrEnabled() { return readBool(Key::hdrEnabled); }
void setHdrEnabled(bool on) { writeValue(Key::hdrEnabled, on); }

bool escCloses() { return readBool(Key::escCloses); }
void setEscCloses(bool on) { writeValue(Key::escCloses, on); }

bool ratingBadgeShown() { return !readBool(Key::ratingBadgeHidden); }
void setRatingBadgeShown(bool shown) { writeValue(Key::ratingBadgeHidden, !shown); }

int slideshowInterval()
{
    bool ok = false;
    const long long seconds = readValue(Key::slideshowInterval).toLongLong(&ok);
    if (ok && std::find(validIntervals.begin(), validIntervals.end(), seconds) != validIntervals.end())
        return static_cast<int>(seconds);
    return defaultInterval;
}

void setSlideshowInterval(int seconds)
{
    writeValue(Key::slideshowInterval, seconds);
}

bool slideshowFadeOn() { return !readBool(Key::slideshowFadeOff); }
void setSlideshowFadeOn(bool on) { writeValue(Key::slideshowFadeOff, !on); }

double slideshowFadeDuration()
{
    bool ok = false;
    const double seconds = readValue(Key::slideshowFadeDuration).toDouble(&ok);
    if (ok && std::find(validFadeDurations.begin(), validFadeDurations.end(), seconds) != validFadeDurations.end())
        return seconds;
    return defaultFadeDuration;
}

void setSlideshowFadeDuration(double seconds)
{
    writeValue(Key::slideshowFadeDuration, seconds);
}

bool fadeTransition() { return readBool(Key::fadeTransition); }
void setFadeTransition(bool on) { writeValue(Key::fadeTransition, on); }

bool wheelNavigates() { return readBool(Key::wheelNavigates); }
void setWheelNavigates(bool on) { writeValue(Key::wheelNavigates, on); }

bool wheelZoomInverted() { return readBool(Key::wheelZoomInverted); }
void setWheelZoomInverted(bool on) { writeValue(Key::wheelZoomInverted, on); }

std::optional<QString> editorAppPath()
{
    // An editor that has since been uninstalled reads as none; the stored path
    // stays, so it comes back if the application is reinstalled.
    const std::optional<QString> path = readString(Key::editorAppPath);
    if (!path || path->isEmpty() || !QFileInfo::exists(*path))
        return std::nullopt;
    return path;
}

void setEditorAppPath(const std::optional<QString> &path)
{
    writeString(Key::editorAppPath, path);
}

bool autoCheckUpdates() { return readBool(Key::autoCheckUpdates); }
void setAutoCheckUpdates(bool on) { writeValue(Key::autoCheckUpdates, on); }

std::optional<QString> skippedUpdateVersion()
{
    return readString(Key::skippedUpdateVersion);
}

void setSkippedUpdateVersion(const std::optional<QString> &version)
{
    writeString(Key::skippedUpdateVersion, version);
}

std::optional<QDateTime> lastUpdateCheck()
{
    const QVariant value = readValue(Key::lastUpdateCheck);
    if (!value.isValid())
        return std::nullopt;
    QDateTime when = value.toDateTime();
    if (!when.isValid())
        when = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!when.isValid())
        return std::nullopt;
    return when;
}

void setLastUpdateCheck(const std::optional<QDateTime> &when)
{
    // Stored as ISO 8601 text with the UTC offset so that the file stays readable
    // and the instant survives a change of time zone.
    if (when && when->isValid())
        writeValue(Key::lastUpdateCheck, when->toOffsetFromUtc(when->offsetFromUtc()).toString(Qt::ISODateWithMs));
    else
        removeKey(Key::lastUpdateCheck);
}

bool cleanupHintShown() { return readBool(Key::cleanupHintShown); }
void setCleanupHintShown(bool shown) { writeValue(Key::cleanupHintShown, shown); }

QByteArray customShortcuts()
{
    const QVariant value = readValue(Key::customShortcuts);
    if (!value.isValid())
        return {};
    return value.toByteArray();
}

void setCustomShortcuts(const QByteArray &json)
{
    if (json.isEmpty())
        removeKey(Key::customShortcuts);
    else
        writeValue(Key::customShortcuts, json);
}

} // namespace Settings

SettingsNotifier &SettingsNotifier::instance()
{
    static SettingsNotifier notifier;
    return notifier;
}
