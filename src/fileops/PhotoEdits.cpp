#include "fileops/PhotoEdits.h"

#include "fileops/RotationSave.h"
#include "fileops/XmpRating.h"
#include "platform/HandOff.h"
#include "platform/SupportedFiles.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSet>

#include <memory>
#include <vector>

PhotoEdits::PhotoEdits(QObject *parent)
    : QObject(parent)
{
    ratingQueue.setObjectName(QStringLiteral("glanto.rating"));
    ratingQueue.setMaxThreadCount(1);
    rotationQueue.setObjectName(QStringLiteral("glanto.rotate"));
    rotationQueue.setMaxThreadCount(1);
}

PhotoEdits::~PhotoEdits()
{
    ratingQueue.waitForDone();
    rotationQueue.waitForDone();
}

QStringList PhotoEdits::ratingTargets(const QString &current, const QStringList &folderOrder)
{
    // Only photos are rated: a video or note's rating would be written into
    // the sidecar of the photo of its name.
    if (!isSupportedImageName(QFileInfo(current).fileName()))
        return {};
    QStringList targets{current};
    const QFileInfo info(current);
    const QString folder = info.absolutePath();
    const QString base = info.completeBaseName();
    for (const QString &url : folderOrder) {
        if (url == current)
            continue;
        const QFileInfo other(url);
        if (other.absolutePath() == folder && other.completeBaseName() == base && isSupportedImageName(other.fileName()))
            targets.append(url);
    }
    return targets;
}

void PhotoEdits::flash(const QString &message, double seconds)
{
    if (onFlash)
        onFlash(message, seconds);
}

void PhotoEdits::ratingChanged(const QString &url)
{
    if (onRatingChanged)
        onRatingChanged(url);
}

int PhotoEdits::badgeRating(const QString &url) const
{
    return isSupportedImageName(QFileInfo(url).fileName()) ? cachedRating(url).value_or(0) : 0;
}

std::optional<int> PhotoEdits::cachedRating(const QString &url) const
{
    const auto found = ratingCache.constFind(url);
    if (found == ratingCache.constEnd())
        return std::nullopt;
    return *found;
}

void PhotoEdits::setRating(const QStringList &targets, int n)
{
    if (targets.isEmpty())
        return;
    n = XmpRating::clampRating(n);
    std::vector<quint64> versions;
    for (const QString &url : targets) {
        ratingCache.insert(url, n);
        ++writesUnderWay[url];
        versions.push_back(++ratingVersion[url]);
        ratingChanged(url);
    }
    flash(n == 0 ? Texts::text("rating.cleared") : XmpRating::starText(n), 1.2);

    QPointer<PhotoEdits> self(this);
    HandOff::start(ratingQueue, [this, self, targets, n, versions] {
        QStringList failedFiles; // "name (reason)", in the person's language
        QSet<QString> failed;
        QStringList written;
        for (const QString &url : targets) {
            if (const auto failure = XmpRating::writeRating(n, url)) {
                failed.insert(url);
                // A sidecar that failed is named itself: "not a regular file"
                // said of the photo would be untrue.
                const QString named = failure->path.isEmpty() ? url : failure->path;
                failedFiles.append(Texts::format("rating.failedFile", {QFileInfo(named).fileName(), failure->reason}));
            } else {
                written.append(url);
            }
        }
        HandOff::invoke(this, [this, self, targets, versions, failed, failedFiles, written] {
            if (!self)
                return;
            for (const QString &url : targets) {
                if (--writesUnderWay[url] <= 0)
                    writesUnderWay.remove(url);
            }
            if (onFileWritten) {
                for (const QString &url : written)
                    onFileWritten(url);
            }
            if (failed.isEmpty())
                return;
            for (qsizetype i = 0; i < targets.size(); ++i) {
                const QString &url = targets[i];
                // A later rating of the same file owns the entry now.
                if (ratingVersion.value(url) != versions[size_t(i)])
                    continue;
                if (failed.contains(url)) {
                    ratingCache.remove(url);
                    ratingChanged(url);
                }
            }
            flash(Texts::format("rating.failed", {failedFiles.join(Texts::text("list.separator"))}), 4.0);
        }, Qt::QueuedConnection);
    });
}

void PhotoEdits::loadRating(const QString &url)
{
    if (ratingCache.contains(url)) {
        ratingChanged(url);
        return;
    }
    ratingChanged(url);
    const quint64 version = ratingVersion.value(url);
    QPointer<PhotoEdits> self(this);
    HandOff::start(ratingQueue, [this, self, url, version] {
        const int n = XmpRating::readRating(url);
        HandOff::invoke(this, [this, self, url, version, n] {
            if (!self || ratingVersion.value(url) != version)
                return;
            ratingCache.insert(url, n);
            ratingChanged(url);
        }, Qt::QueuedConnection);
    });
}

void PhotoEdits::filesMoved(const QHash<QString, QString> &moved)
{
    // Taken out first and put back second: in a batch one file may move onto
    // the name another one has just left.
    QHash<QString, int> ratings;
    for (auto it = moved.cbegin(); it != moved.cend(); ++it) {
        if (const auto found = ratingCache.constFind(it.key()); found != ratingCache.cend())
            ratings.insert(it.value(), *found);
    }
    for (auto it = moved.cbegin(); it != moved.cend(); ++it) {
        ratingCache.remove(it.key());
        ratingCache.remove(it.value());
        ++ratingVersion[it.key()];
        ++ratingVersion[it.value()];
    }
    for (auto it = ratings.cbegin(); it != ratings.cend(); ++it)
        ratingCache.insert(it.key(), it.value());
}

void PhotoEdits::forget(const QStringList &urls)
{
    for (const QString &url : urls) {
        ratingCache.remove(url);
        ++ratingVersion[url];
    }
}

void PhotoEdits::saveRotation(const QString &url, int quarterTurns, bool animationActive)
{
    if (url.isEmpty() || processing)
        return;
    if (animationActive) {
        flash(Texts::text("msg.rotAnimated"), 2.0);
        return;
    }
    const int turns = ((quarterTurns % 4) + 4) % 4;
    if (turns == 0) {
        flash(Texts::text("msg.rotNone"), 2.0);
        return;
    }
    processing = true;
    flash(Texts::text("msg.rotSaving"), 3600);
    const int startedGeneration = generation;
    QPointer<PhotoEdits> self(this);
    HandOff::start(rotationQueue, [this, self, url, turns, startedGeneration] {
        const RotationSave::Result result = RotationSave::writeRotation(url, turns);
        HandOff::invoke(this, [this, self, url, result, startedGeneration] {
            if (!self)
                return;
            processing = false;
            switch (result.kind) {
            case RotationSave::Result::Kind::lossless: flash(Texts::text("msg.rotSaved"), 3.0); break;
            case RotationSave::Result::Kind::reencoded: flash(Texts::text("msg.rotSavedReencoded"), 3.0); break;
            case RotationSave::Result::Kind::failed: flash(result.reason, 3.0); return;
            }
            if (onFileWritten)
                onFileWritten(url);
            if (onFileReplaced)
                onFileReplaced(url);
            if (startedGeneration == generation && isCurrent && isCurrent(url) && reloadCurrent)
                reloadCurrent();
        }, Qt::QueuedConnection);
    });
}

void PhotoEdits::waitForIdle()
{
    ratingQueue.waitForDone();
    rotationQueue.waitForDone();
    QCoreApplication::sendPostedEvents(this);
    QCoreApplication::sendPostedEvents();
}
