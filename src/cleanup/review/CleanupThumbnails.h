#pragma once

#include "library/ImageCache.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

// The review grid's thumbnails: 360-px decodes on two workers, kept in a
// 600-entry cache together with a copy already fitted to the cell, so drawing
// a cell never resamples. Only what the grid shows is decoded: each request
// replaces the waiting list. Main thread only.
class CleanupThumbnails : public QObject
{
public:
    struct Entry {
        QImage thumbnail; // longest side 360
        QImage fitted;    // fitted into the cell's picture box at the screen's scale
    };

    CleanupThumbnails(QSize fitBox, qreal devicePixelRatio);
    ~CleanupThumbnails() override;

    std::optional<Entry> cached(const QString &url);
    // The URLs the grid now shows; those not cached are decoded in this order.
    void requestVisible(const QStringList &urls);
    // Drops the waiting list (running decodes finish and are cached).
    void cancel();

    std::function<void(const QString &url)> onReady;

    static constexpr int thumbnailSize = 360;
    static constexpr int cacheCount = 600;

private:
    void startNext();

    ImageCache<Entry> cache{cacheCount, 0};
    std::unique_ptr<QThreadPool> queue;
    QStringList waiting;
    QStringList running;
    QSize fitBox;
    qreal dpr;
};
