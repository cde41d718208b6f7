#include "fileops/Export.h"

#include "platform/FileNames.h"
#include "platform/HandOff.h"
#include "settings/Texts.h"

#include <QFileInfo>
#include <QCoreApplication>
#include <QFile>
#include <QPointer>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace Export {

namespace {

// Whether two paths name one file (links followed, hard links included).
bool sameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Result failed(const QString &reason, qint64 sourceBytes = 0)
{
    Result r;
    r.reason = reason;
    r.sourceBytes = sourceBytes;
    return r;
}

} // namespace

QString proposedName(const QString &photo, Encoder::Format format)
{
    // The name fits the file system's 255 bytes with any format's extension,
    // as the format menu may switch it: a long name is shortened in its stem.
    qsizetype longest = 0;
    for (const Encoder::FormatInfo &info : Encoder::formats())
        longest = std::max<qsizetype>(longest, qsizetype(std::strlen(info.extension)));
    const QString tail = QStringLiteral("-compressed.");
    const QString base = FileNames::stemFitting(QFileInfo(photo).completeBaseName(), tail.size() + longest);
    return base + tail + QLatin1String(Encoder::info(format).extension);
}

QString withExtension(const QString &name, Encoder::Format format)
{
    const QString extension = QLatin1String(Encoder::info(format).extension);
    const qsizetype dot = name.lastIndexOf(u'.');
    // A leading point is part of a hidden name, not an extension.
    const QString base = dot > 0 ? name.left(dot) : name;
    return base + u'.' + extension;
}

QString savedPath(const QString &typed, Encoder::Format format)
{
    const QString suffix = QFileInfo(typed).suffix().toLower();
    const QString extension = QLatin1String(Encoder::info(format).extension);
    const bool named = suffix == extension || (format == Encoder::Format::jpeg && (suffix == u"jpeg" || suffix == u"jpe"))
                       || (format == Encoder::Format::heic && suffix == u"heif");
    return named ? typed : typed + u'.' + extension;
}

bool isThePhotoItself(const QString &photo, const QString &destination)
{
    return sameFile(photo, destination)
           || QFileInfo(photo).absoluteFilePath() == QFileInfo(destination).absoluteFilePath();
}

Result write(const QString &photo, int quarterTurns, Encoder::Format format, int quality, const QString &destination,
             Trash *keeper)
{
    const qint64 sourceBytes = std::max<qint64>(0, QFileInfo(photo).size());
    if (destination.isEmpty())
        return failed(Texts::text("msg.errSystem"), sourceBytes);
    if (isThePhotoItself(photo, destination))
        return failed(Texts::text("msg.exportOntoSource"), sourceBytes);

    Encoder::Error error = Encoder::Error::encodeFailed;
    const auto bytes = Encoder::encodeFile(photo, quarterTurns, format, quality, &error);
    if (!bytes)
        return failed(Encoder::describe(error), sourceBytes);

    // An existing file (the save sheet asked before replacing it) is replaced
    // through its links, like every other write; a new name must stay free.
    const bool exists = QFileInfo::exists(destination);
    const QString target = exists ? SafeFile::writablePath(destination) : QFileInfo(destination).absoluteFilePath();
    if (target.isEmpty())
        return failed(SafeFile::Failure::of(SafeFile::Failure::Kind::gone).reason, sourceBytes);
    const SafeFile::PathLocks::Guard guard = SafeFile::PathLocks::lock({target});
    SafeFile::Failure failure;
    std::optional<SafeFile::FileStamp> expected;
    if (exists) {
        expected = SafeFile::stampOf(target, &failure);
        if (!expected)
            return failed(failure.reason, sourceBytes);
        // Checked again under the lock: a link made meanwhile could point at the photo.
        if (sameFile(photo, target))
            return failed(Texts::text("msg.exportOntoSource"), sourceBytes);
    }
    auto replacement = SafeFile::Replacement::begin(target, "export", expected, &failure,
                                                    SafeFile::newFileModeFor(photo));
    if (!replacement)
        return failed(failure.reason, sourceBytes);
    if (const SafeFile::Outcome written = replacement->writeAndSync(*bytes))
        return failed(written->reason, sourceBytes);
    // Only now that the new file is complete does the old one go to the Trash,
    // by a second name there: until the rename below it keeps its own name too.
    std::optional<TrashedFile> kept;
    QString lostReason;
    if (exists && keeper) {
        TrashedFile entry;
        if (const std::optional<QString> refused = keeper->keepInTrash(target, &entry)) {
            qCWarning(lcSafeFile, "export: the file being replaced could not be kept in the Trash (%s); "
                                  "replacing it as asked",
                      qUtf8Printable(*refused));
            lostReason = *refused;
        } else {
            kept = entry;
        }
    }
    if (const SafeFile::Outcome committed = replacement->commit()) {
        if (kept)
            keeper->discardKept(*kept);
        return failed(committed->reason, sourceBytes);
    }
    Result r;
    r.replaced = exists;
    r.replacedKept = kept.has_value();
    r.replacedLostReason = lostReason;
    r.succeeded = true;
    r.sourceBytes = sourceBytes;
    r.writtenBytes = bytes->size();
    return r;
}

} // namespace Export

ExportEstimator::ExportEstimator(QObject *parent)
    : QObject(parent)
{
    worker.setMaxThreadCount(1);
    exportEstimateWork.setSingleShot(true);
    connect(&exportEstimateWork, &QTimer::timeout, this, [this] { startPending(); });
}

ExportEstimator::~ExportEstimator()
{
    exportEstimateWork.stop();
    worker.clear();
    worker.waitForDone();
}

std::optional<QString> ExportEstimator::keyOf(const Request &request)
{
    const auto stamp = SafeFile::stampOf(request.photo);
    if (!stamp)
        return std::nullopt;
    return QStringLiteral("%1#%2#%3#%4#%5#%6.%7")
        .arg(request.photo)
        .arg(((request.quarterTurns % 4) + 4) % 4)
        .arg(QLatin1String(Encoder::info(request.format).typeName))
        .arg(request.quality)
        .arg(qint64(stamp->size))
        .arg(stamp->mtimeSeconds)
        .arg(stamp->mtimeNanoseconds);
}

void ExportEstimator::request(const Request &request)
{
    exportEstimateWork.stop();
    worker.clear();
    ++exportEstimateGeneration;
    const std::optional<QString> key = keyOf(request);
    if (!key) {
        report(State::failed, 0);
        return;
    }
    if (const auto cached = exportEstimateCache.constFind(*key); cached != exportEstimateCache.constEnd()) {
        report(State::known, *cached);
        return;
    }
    pending = request;
    pendingKey = *key;
    pendingDecodeKey = keyOf({request.photo, request.quarterTurns, Encoder::Format::png, 0}).value_or(*key);
    report(State::estimating, 0);
    exportEstimateWork.start(debounceMs);
}

void ExportEstimator::cancel()
{
    exportEstimateWork.stop();
    worker.clear();
    ++exportEstimateGeneration;
    std::lock_guard<std::mutex> lock(pictureLock);
    picture = {};
    pictureKey.clear();
}

void ExportEstimator::startPending()
{
    const quint64 generation = exportEstimateGeneration;
    const Request request = pending;
    const QString key = pendingKey;
    // The decode depends on the photo's content and the turns only.
    const QString decodeKey = pendingDecodeKey;
    ++encodesRun;
    QPointer<ExportEstimator> self(this);
    HandOff::start(worker, [this, self, generation, request, key, decodeKey] {
        std::optional<qint64> bytes;
        Encoder::Picture decoded;
        {
            std::lock_guard<std::mutex> lock(pictureLock);
            if (pictureKey == decodeKey)
                decoded = picture;
        }
        if (decoded.isNull()) {
            if (auto fresh = Encoder::decode(request.photo, request.quarterTurns)) {
                decoded = *fresh;
                std::lock_guard<std::mutex> lock(pictureLock);
                picture = decoded;
                pictureKey = decodeKey;
            }
        }
        if (!decoded.isNull()) {
            if (const auto encoded = Encoder::encode(decoded, request.format, request.quality))
                bytes = encoded->size();
        }
        HandOff::invoke(
            self.data(),
            [self, generation, key, bytes] {
                if (self)
                    self->deliver(generation, key, bytes);
            },
            Qt::QueuedConnection);
    });
}

void ExportEstimator::deliver(quint64 generation, const QString &key, std::optional<qint64> bytes)
{
    if (generation != exportEstimateGeneration)
        return;
    if (!bytes) {
        report(State::failed, 0);
        return;
    }
    exportEstimateCache.insert(key, *bytes);
    report(State::known, *bytes);
}

void ExportEstimator::report(State state, qint64 bytes)
{
    if (onEstimate)
        onEstimate(state, bytes);
}

void ExportEstimator::waitForIdle()
{
    worker.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}
