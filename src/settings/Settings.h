#pragma once

#include "settings/SortKey.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <optional>

// The user's preferences, one getter and one setter per key. Nothing is cached:
// every reader reads its key at the moment of use, every writer writes at once.
// An absent key reads as false / 0 / empty, so each key is phrased so that its
// absent value is the default.
namespace Settings {

// The file every key is kept in (shared by all copies of the program).
QString storeFilePath();

SortKey sortKey();
void setSortKey(SortKey key);

bool sortReversed();
void setSortReversed(bool on);

bool hdrEnabled();
void setHdrEnabled(bool on);

bool escCloses();
void setEscCloses(bool on);

// Stored negated as ratingBadgeHidden.
bool ratingBadgeShown();
void setRatingBadgeShown(bool shown);

// 1, 2, 3, 5 or 10 seconds; anything else reads as 3.
int slideshowInterval();
void setSlideshowInterval(int seconds);

// Stored negated as slideshowFadeOff.
bool slideshowFadeOn();
void setSlideshowFadeOn(bool on);

// 0.5, 1.0, 1.5, 2.0 or 3.0 seconds; anything else reads as 1.0.
double slideshowFadeDuration();
void setSlideshowFadeDuration(double seconds);

bool fadeTransition();
void setFadeTransition(bool on);

bool wheelNavigates();
void setWheelNavigates(bool on);

bool wheelZoomInverted();
void setWheelZoomInverted(bool on);

// The editor's desktop entry path, only when a file exists there. Empty removes the key.
std::optional<QString> editorAppPath();
void setEditorAppPath(const std::optional<QString> &path);

bool autoCheckUpdates();
void setAutoCheckUpdates(bool on);

std::optional<QString> skippedUpdateVersion();
void setSkippedUpdateVersion(const std::optional<QString> &version);

std::optional<QDateTime> lastUpdateCheck();
void setLastUpdateCheck(const std::optional<QDateTime> &when);

bool cleanupHintShown();
void setCleanupHintShown(bool shown);

// Raw JSON of the shortcut overrides; empty removes the key.
QByteArray customShortcuts();
void setCustomShortcuts(const QByteArray &json);

} // namespace Settings

// The program's broadcasts: settings changed ("sort", "slideshow", "rating",
// "hdr"), key bindings changed, and a change that could not be stored. One
// process-wide object, main thread only.
class SettingsNotifier : public QObject
{
    Q_OBJECT
public:
    static SettingsNotifier &instance();

    void postSettingsDidChange(const QString &what) { Q_EMIT settingsDidChange(what); }
    void postShortcutsDidChange() { Q_EMIT shortcutsDidChange(); }
    void postSettingsNotSaved(const QString &path) { Q_EMIT settingsNotSaved(path); }

Q_SIGNALS:
    void settingsDidChange(const QString &what);   // GlantoSettingsDidChange
    void shortcutsDidChange();                     // GlantoShortcutsDidChange
    // A change could not be written to path.
    void settingsNotSaved(const QString &path);
};
