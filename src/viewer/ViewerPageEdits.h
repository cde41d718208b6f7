#pragma once

#include "fileops/PhotoEdits.h"
#include "viewer/RatingBadge.h"

#include <QObject>
#include <QPointer>

#include <functional>

class ViewerPage;

// Connects the commands that change a photo (star ratings, the rotation save)
// to the viewer page: it owns the PhotoEdits of the page, registers the rating
// and save-rotation commands, keeps the rating of the shown photo loaded and
// shows it in the star badge over the photo.
class ViewerPageEdits : public QObject
{
    Q_OBJECT
public:
    explicit ViewerPageEdits(ViewerPage *page);

    // Called before the page lists a newly opened location: results of the old
    // folder stop reloading anything, and temporary files a crash left in the
    // new folder are removed.
    void folderWillOpen(const QString &location);

    // The rating command (keys 1-5, "no rating" and the rating submenu).
    void rate(int stars);
    // The save-rotation command.
    void saveRotation();

    // Whether the cleanup review is showing; ratings are not taken then.
    std::function<bool()> cleanupActive;

    PhotoEdits edits;
    RatingBadge *badge() const { return ratingBadge; }

Q_SIGNALS:
    // The rating of the shown photo changed or became known.
    void currentRatingChanged(int stars);

private:
    void photoShown();
    void refreshBadge();

    ViewerPage *page;
    QPointer<RatingBadge> ratingBadge;
};
