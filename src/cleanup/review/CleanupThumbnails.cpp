#include "cleanup/review/CleanupThumbnails.h"

#include "cleanup/CleanupTypes.h"
#include "library/ImageLoader.h"
#include "platform/HandOff.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

CleanupThumbnails::CleanupThumbnails(QSize fitBox, qreal devicePixelRatio)
    : queue(std::make_unique<QThreadPool>())
    , fitBox(fitBox)
    , dpr(devicePixelRatio)
{
    queue->setObjectName(QStringLiteral("glanto.cleanup.thumb"));
    queue->setMaxThreadCount(2);
}

CleanupThumbnails::~CleanupThumbnails()
{
    waiting.clear();
    queue->clear();
    queue->waitForDone();
}

std::optional<CleanupThumbnails::Entry> CleanupThumbnails::cached(const QString &url)
{
    return cache.value(url);
}

void CleanupThumbnails::requestVisible(const QStringList &urls)
{
    waiting.clear();
    for (const QString &url : urls) {
        if (!running.contains(url) && !cache.value(url))
            waiting.append(url);
    }
    startNext();
}

void CleanupThumbnails::cancel()
{
    waiting.clear();
}

void CleanupThumbnails::startNext()
{
    while (running.size() < 2 && !waiting.isEmpty()) {
        const QString url = waiting.takeFirst();
        running.append(url);
        QPointer<CleanupThumbnails> self(this);
        const QSize box = fitBox * dpr;
        const qreal ratio = dpr;
        HandOff::start(*queue, [self, url, box, ratio] {
            Entry entry;
            entry.thumbnail = ImageLoader::shared().makeThumbnail(url, thumbnailSize, isRawFile(url), false);
            if (!entry.thumbnail.isNull()) {
                entry.fitted = entry.thumbnail.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                entry.fitted.setDevicePixelRatio(ratio);
            }
            HandOff::invoke(QCoreApplication::instance(), [self, url, entry] {
                if (!self)
                    return;
                self->running.removeAll(url);
                // A photo without a decodable picture is cached empty, so it is asked for once.
                self->cache.insert(url, entry);
                if (self->onReady)
                    self->onReady(url);
                self->startNext();
            }, Qt::QueuedConnection);
        });
    }
}
