#pragma once

#include "library/ImageItem.h"
#include "settings/SortKey.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What a fresh listing of the shown folder changed in the model.
struct FolderChanges {
    // Files no longer in the folder.
    QStringList gone;
    // Files still there whose size or modification time changed: their
    // pixels may be new.
    QStringList changed;
    // Files that took another name in the folder (old URL -> new URL). Told
    // apart from a removal and an addition by a size and modification time
    // that exactly one gone file and exactly one new file share; such an item
    // keeps its place, as after a rename in the viewer.
    QHash<QString, QString> moved;
    // Files new to the folder.
    int added = 0;

    // The list was sorted anew: the order preference changed since it was sorted.
    bool resorted = false;

    bool any() const { return !gone.isEmpty() || !changed.isEmpty() || !moved.isEmpty() || added > 0 || resorted; }
};

// The image files of one folder in display order, plus the position of the one
// being shown. Loading is cheap: the directory listing and three attributes
// per file (modification time, creation time, size), never image data. The
// capture date, needed by one sort order only, is read later in the background
// and merged in with applyCaptureDates.
//
// Invariant: when the list is not empty, 0 <= index() < count(); otherwise
// index() is 0. Main thread only (the static helpers are safe anywhere).
class FolderModel
{
public:
    // Lists the folder of the location (the location itself when it is a
    // folder, else the folder containing it), keeps the supported files that
    // are not hidden, adds the location itself when it is an existing file the
    // listing left out, sorts by the current preference and selects the
    // location's file, or the first item for a folder. Returns whether any
    // item exists. An unreadable folder gives an empty model.
    bool load(const QString &location);
    // The folder load listed (also when it held no photos).
    const QString &folderPath() const { return listedFolder; }
    // Why load could not list the folder (an errno value), or 0 when it could.
    int listingError() const { return listingErrno; }

    // Brings the model up to date with listed, a fresh listFolder of
    // folderPath(). Items keep their order; a file no longer listed is
    // dropped unless it still exists (the file opened directly that the
    // listing leaves out); new files are put in sorted place. The current
    // item stays current; when it is gone the index stays on the item that
    // took its place, as after removeCurrent.
    FolderChanges refresh(const QList<ImageItem> &listed);
    // Reads the file attributes of the item with that URL again (the program
    // itself rewrote the file), so that a later refresh does not take the
    // rewrite for a change made elsewhere.
    void restat(const QString &url);

    // The item at index(), absent when the list is empty.
    std::optional<ImageItem> current() const;
    // Whether the file under the current item's name has the size and the
    // modification time the item holds: no other program changed it or put
    // another file in its place since it was listed.
    bool currentMatchesItsFile() const;
    int count() const { return int(itemList.size()); }
    const QList<ImageItem> &items() const { return itemList; }
    // The items whose names are photo names: without a file that was opened
    // directly under another name (a note, a video), which commands that act
    // on the whole folder leave alone.
    QList<ImageItem> photoItems() const;
    int index() const { return currentIndex; }

    // Steps by delta with wrap-around at both ends (any delta, any sign).
    // Nothing happens on an empty list.
    void move(qint64 delta);
    // Selects the position when it is in range; otherwise nothing happens.
    void jump(qint64 position);
    // The first position whose URL equals url.
    std::optional<int> position(const QString &url) const;

    // Re-sorts by the sortKey and sortReversed preferences and selects the
    // item with the kept URL, else the first.
    void resort(const std::optional<QString> &keeping = std::nullopt);

    // Stores the decoded pixel size in the current item.
    void setPixelSize(double width, double height);
    // Drops the current item (its file went to the trash) and keeps the index
    // on the item that took its place, or on the new last one. Returns whether
    // items remain.
    bool removeCurrent();
    // Drops the item at position (its file went to the trash); the index stays
    // on the same photo, or on the one that took the removed current one's
    // place. Returns whether items remain.
    bool removeAt(int position);
    // Gives the current item the same folder with another file name; every
    // other field stays and the order is not touched. Refuses (false) a name
    // that is not a single path component.
    bool renameCurrent(const QString &newName);
    // The same for the item at position (a rename that was asked for while
    // another photo was current).
    bool renameAt(int position, const QString &newName);

    // Whether the order is by capture date and some item still lacks one.
    bool needsCaptureDates() const;
    // Sets the capture date of every item whose URL is in the map.
    void applyCaptureDates(const QHash<QString, QDateTime> &dates);

    // The capture-date reader (see CaptureDate.h), usable without a model.
    static QDateTime captureDate(const QString &url, const std::optional<QDateTime> &fallback = std::nullopt);

    // The building blocks, shared with the cleanup scan and the report mode.

    // The supported, non-hidden entries of the folder (sub-folders are not
    // entered) with their attributes, in listing order. Absent when the folder
    // cannot be listed, with the errno value in error when one is given.
    static std::optional<QList<ImageItem>> listFolder(const QString &folder, int *error = nullptr);
    // An item for one path; attributes it cannot read stay absent (size 0).
    static ImageItem itemForFile(const QString &path);
    // The order of resort: names A to Z, dates newest first, sizes largest
    // first, each turned around by reversed; ties fall back to the name order,
    // turned around with the rest. Stable.
    static void sortItems(QList<ImageItem> &items, SortKey key, bool reversed);

private:
    // Puts new items into the list, each before the first item that sorts
    // after it; the items already there keep their order.
    void placeSorted(QList<ImageItem> &fresh, SortKey key, bool reversed);

    QList<ImageItem> itemList;
    QString listedFolder;
    int listingErrno = 0;
    int currentIndex = 0;
    // The order the list was last sorted in.
    SortKey sortedKey = SortKey::name;
    bool sortedReversed = false;
};
