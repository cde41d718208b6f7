#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <optional>

// The viewer's door to the commands that change a photo: star ratings and the
// rotation save. No widgets: the viewer wires its message bubble, its image
// loader and its notion of "the current photo" through the callback fields,
// and calls the commands from the main thread. File work runs on two queues;
// every result comes back to the main thread through a guard on this object
// and is checked against the generation and the current photo before it
// touches the display.
class PhotoEdits : public QObject
{
    Q_OBJECT
public:
    explicit PhotoEdits(QObject *parent = nullptr);
    // Waits for running and queued writes: a rating or a rotation the user
    // asked for is finished, never cut off.
    ~PhotoEdits() override;

    // --- wiring (assigned once by the viewer) ---
    // Shows a message for a number of seconds (the HUD bubble).
    std::function<void(const QString &message, double seconds)> onFlash;
    // The cached rating of url changed: refresh the badge, the toolbar stars
    // and the information panel when url is the current photo.
    std::function<void(const QString &url)> onRatingChanged;
    // The file at url was written by one of these commands and is complete.
    std::function<void(const QString &url)> onFileWritten;
    // The file at url was replaced: drop every cached image of it.
    std::function<void(const QString &url)> onFileReplaced;
    // Whether url is still the photo on screen.
    std::function<bool(const QString &url)> isCurrent;
    // Reloads the current photo from disk (which resets the view's turns).
    std::function<void()> reloadCurrent;

    // Bumped by the viewer when it opens another folder: a rotation finishing
    // for the old folder then reports its message but reloads nothing.
    int generation = 0;

    // --- ratings ---
    // The photos one rating command rates: current first, then every other
    // photo of the folder (in folder order) in the same folder whose name
    // without extension equals the current one's, so RAW+JPEG pairs go together.
    static QStringList ratingTargets(const QString &current, const QStringList &folderOrder);
    // Stores n (clamped to 0-5) in the cache for every target at once, shows
    // the stars for 1.2 s, and writes on the rating queue; failures drop the
    // cache entries again and name the files for 4 s.
    void setRating(const QStringList &targets, int n);
    void setRating(const QString &url, int n) { setRating(QStringList{url}, n); }
    // Called when a photo is shown: a cached rating is reported at once, else
    // it is read on the rating queue and reported when it arrives.
    void loadRating(const QString &url);
    std::optional<int> cachedRating(const QString &url) const;
    // Files were renamed (old path -> new path, all at once): each known
    // rating follows its file, nothing known under a path that changed hands
    // is kept, and reads still under way for those paths are dropped.
    void filesMoved(const QHash<QString, QString> &moved);
    // The files changed or went away behind the program's back: what is
    // known of their ratings is forgotten, and reads under way are dropped.
    void forget(const QStringList &urls);
    // What the badge shows: the cached rating, 0 when not known yet.
    // A file that is not a photo (a video or note opened directly) has none,
    // though a photo of its name may have a sidecar.
    int badgeRating(const QString &url) const;

    // Whether this program is rewriting url (a rating or a saved turn not yet
    // answered): its file changes under it by our own hand.
    bool isWriting(const QString &url) const { return processing || writesUnderWay.value(url) > 0; }

    // --- rotation save ---
    bool isProcessing() const { return processing; }
    // The save-rotation command: refuses while a save runs, while an animation
    // plays and without a pending turn; else writes on the rotation queue.
    void saveRotation(const QString &url, int quarterTurns, bool animationActive = false);

    // Blocks until both queues are empty and delivers what they posted (tests, quit).
    void waitForIdle();

    QThreadPool ratingQueue;   // "glanto.rating", serial
    QThreadPool rotationQueue; // one save at a time

private:
    void flash(const QString &message, double seconds);
    void ratingChanged(const QString &url);

    QHash<QString, int> ratingCache;
    // Raised by every rating command per file, so that a read started before
    // it cannot overwrite the newer value when it lands.
    QHash<QString, quint64> ratingVersion;
    bool processing = false;
    QHash<QString, int> writesUnderWay; // ratings asked for and not yet answered, per file
};
