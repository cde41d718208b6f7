#include "fileops/BatchConvert.h"

#include "platform/HandOff.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far more than any folder's photos of one base name: beyond this something
// else is filling the folder, and the file fails rather than loop on.
constexpr int maxNameAttempts = 10000;

QString candidateName(const QString &base, const QString &extension, int attempt)
{
    return attempt <= 1 ? base + u'.' + extension : QStringLiteral("%1 %2.%3").arg(base).arg(attempt).arg(extension);
}

// Only a real folder is written into: a link named like the output folder
// could send the copies anywhere.
bool isRealFolder(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

BatchConvert::BatchConvert(QObject *parent)
    : QObject(parent)
{
    workers.setMaxThreadCount(2);
}

BatchConvert::~BatchConvert()
{
    cancelled = true;
    workers.waitForDone();
}

QString BatchConvert::outputFolder(const QString &folder, Encoder::Format format)
{
    return QDir(folder).filePath(QStringLiteral("Converted-") + QLatin1String(Encoder::info(format).extension));
}

BatchConvert::FileResult BatchConvert::convertOne(const QString &photo, const QString &outputFolder,
                                                  Encoder::Format format, int quality)
{
    FileResult result;
    const QString extension = QLatin1String(Encoder::info(format).extension);
    const QFileInfo source(photo);
    // A photo already in the target format is left as it is.
    if (source.suffix().toLower() == extension) {
        result.reason = Texts::text("msg.convertSameFormat");
        result.skipped = true;
        return result;
    }
    Encoder::Error error = Encoder::Error::encodeFailed;
    const auto bytes = Encoder::encodeFile(photo, 0, format, quality, &error);
    if (!bytes) {
        result.reason = Encoder::describe(error);
        return result;
    }
    if (!isRealFolder(outputFolder)) {
        result.reason = SafeFile::Failure::of(SafeFile::Failure::Kind::notRegular).reason;
        return result;
    }
    const QString base = source.completeBaseName();
    SafeFile::Failure failure;
    auto temporary = SafeFile::Replacement::begin(QDir(outputFolder).filePath(candidateName(base, extension, 1)),
                                                  "convert", std::nullopt, &failure,
                                                  SafeFile::newFileModeFor(photo));
    if (!temporary) {
        result.reason = failure.reason;
        return result;
    }
    if (const SafeFile::Outcome written = temporary->writeAndSync(*bytes)) {
        result.reason = written->reason;
        return result;
    }
    // The complete file takes the first free name; a name taken between two
    // attempts (another worker, another program) is simply skipped.
    for (int attempt = 1; attempt <= maxNameAttempts; ++attempt) {
        const QString target = QDir(outputFolder).filePath(candidateName(base, extension, attempt));
        const SafeFile::Outcome moved = SafeFile::moveNoReplace(temporary->temporaryPath(), target);
        if (!moved) {
            result.written = target;
            result.renamed = attempt > 1;
            return result;
        }
        if (moved->kind != SafeFile::Failure::Kind::changed) {
            result.reason = moved->reason;
            return result;
        }
    }
    result.reason = Texts::text("msg.errNameTaken");
    return result;
}

bool BatchConvert::start(const QStringList &photos, const QString &folder, Encoder::Format format, int quality)
{
    if (running)
        return false;
    running = true;
    cancelled = false;
    folderGone = false;
    nextIndex = 0;
    summary = Summary();
    summary.total = int(photos.size());
    summary.extension = QLatin1String(Encoder::info(format).extension);

    const QString output = outputFolder(folder, format);
    // An existing folder is used as it is. One that cannot be made or used (a
    // file or a link in its place, no right to write) ends the run before
    // anything is encoded, and says why.
    const QByteArray outputName = QFile::encodeName(output);
    madeOutput = QFileInfo::exists(output) ? QString() : output;
    if (!madeOutput.isEmpty() && ::mkdir(outputName.constData(), 0777) != 0 && errno != EEXIST) {
        summary.folderFailure = SafeFile::Failure::fromErrno(errno).reason;
        madeOutput.clear();
    } else if (!isRealFolder(output)) {
        summary.folderFailure = Texts::text("msg.errNotFolder");
    } else if (::access(outputName.constData(), W_OK | X_OK) != 0) {
        summary.folderFailure = SafeFile::Failure::fromErrno(errno).reason;
    }
    if (!summary.folderFailure.isEmpty())
        summary.folderName = QFileInfo(output).fileName();
    const bool noFolder = !summary.folderFailure.isEmpty();
    const bool outputReal = !noFolder;

    const int count = std::max(1, std::min(workers.maxThreadCount(), int(photos.size())));
    workersLeft = count;
    QPointer<BatchConvert> self(this);
    for (int w = 0; w < count; ++w) {
        HandOff::start(workers, [this, self, photos, output, outputReal, noFolder, format, quality] {
            while (!cancelled && !noFolder) {
                // The folder moved or deleted under the run: the photos left
                // are not there to convert, nor the place to put them.
                if (outputReal && !isRealFolder(output)) {
                    folderGone = true;
                    break;
                }
                const int index = nextIndex++;
                if (index >= photos.size())
                    break;
                const FileResult result = convertOne(photos.at(index), output, format, quality);
                // The first failure is told with its photo's name.
                const QString failure = result.succeeded() ? QString()
                                                           : QFileInfo(photos.at(index)).fileName() + QStringLiteral(": ")
                                                                 + result.reason;
                HandOff::invoke(
                    self.data(),
                    [self, written = result.written, failure, skipped = result.skipped, renamed = result.renamed] {
                        if (self)
                            self->fileDone(written, failure, skipped, renamed);
                    },
                    Qt::QueuedConnection);
            }
            HandOff::invoke(
                self.data(),
                [self] {
                    if (self)
                        self->workerDone();
                },
                Qt::QueuedConnection);
        });
    }
    return true;
}

QString BatchConvert::Summary::message() const
{
    if (!folderFailure.isEmpty())
        return Texts::format("msg.convertNoFolder", {folderName, folderFailure});
    if (folderGone)
        return Texts::format("msg.convertFolderGone", {QString::number(succeeded), QString::number(total - succeeded)});
    // Nothing written: nothing was saved anywhere, and the reason is the news.
    if (succeeded == 0 && failed > 0 && !cancelled)
        return Texts::format("msg.convertNothing", {QString::number(failed), firstFailure});
    QString text = Texts::format(cancelled ? "msg.convertCancelled" : "msg.convertDone",
                                 {QString::number(succeeded), QString::number(failed), extension});
    if (renamed > 0)
        text += QStringLiteral("  ·  ") + Texts::format("msg.convertRenamed", {QString::number(renamed)});
    if (failed > 0 && !firstFailure.isEmpty())
        text += QStringLiteral("  ·  ") + firstFailure;
    return text;
}

void BatchConvert::cancel()
{
    cancelled = true;
}

void BatchConvert::fileDone(const QString &written, const QString &failure, bool skipped, bool renamed)
{
    if (written.isEmpty()) {
        ++summary.failed;
        if (summary.firstFailure.isEmpty() || (summary.firstFailureSkipped && !skipped)) {
            summary.firstFailure = failure;
            summary.firstFailureSkipped = skipped;
        }
    } else {
        ++summary.succeeded;
        summary.renamed += renamed ? 1 : 0;
        summary.written << written;
    }
    if (onProgress)
        onProgress(summary.succeeded + summary.failed, summary.total);
}

void BatchConvert::workerDone()
{
    if (--workersLeft > 0)
        return;
    running = false;
    summary.cancelled = summary.succeeded + summary.failed < summary.total;
    summary.folderGone = folderGone && summary.cancelled;
    // A folder this run made and left empty goes again (rmdir leaves any
    // other folder, and one that holds anything, alone).
    if (summary.succeeded == 0 && !madeOutput.isEmpty())
        QDir().rmdir(madeOutput);
    if (onFinished)
        onFinished(summary);
}

void BatchConvert::waitForIdle()
{
    workers.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}
