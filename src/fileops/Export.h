#pragma once

#include "fileops/Encoder.h"
#include "fileops/SafeFile.h"
#include "platform/Trash.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <mutex>
#include <optional>

// Export of a re-encoded copy of a photo: the names the save sheet proposes,
// the blocking write, and the live size estimate.
namespace Export {

// "<base>-compressed.<ext>" in the photo's own folder's terms (a name, no folder).
QString proposedName(const QString &photo, Encoder::Format format);
// name with its extension replaced by the format's (added when it has none).
QString withExtension(const QString &name, Encoder::Format format);
// The path a typed name is saved under: as typed when its extension names the
// format (JPEG's ".jpeg" and HEIC's ".heif" too), else with the format's
// extension added, so that a file never says it is another format than it holds.
QString savedPath(const QString &typed, Encoder::Format format);

struct Result
{
    bool succeeded = false;
    QString reason;        // when it failed: what to tell the user
    qint64 sourceBytes = 0;  // the photo's size (0 when unreadable)
    qint64 writtenBytes = 0; // the new file's size
    // A file was replaced, and whether its content went to the Trash first.
    bool replaced = false;
    bool replacedKept = false;
    QString replacedLostReason; // why it could not be kept, when a Trash was asked to keep it
};

// Whether destination names the photo itself (or another link to it), which
// is never written.
bool isThePhotoItself(const QString &photo, const QString &destination);

// Writes the photo, turned by quarterTurns, to destination. The copy is written
// to a temporary file next to destination and renamed into place, so a failed
// decode or encode leaves whatever was there untouched; the photo itself is
// never a destination. A file that stood at destination (the save sheet asked
// before replacing it) is kept in keeper's Trash first, when keeper is given
// and the Trash takes it; otherwise it is replaced as asked.
Result write(const QString &photo, int quarterTurns, Encoder::Format format, int quality,
             const QString &destination, Trash *keeper = nullptr);

} // namespace Export

// The save sheet's size estimate. Every change of format or quality restarts a
// short wait; when the user pauses, the photo is encoded in memory on a worker
// thread and the size comes back to the main thread, where a result of an older
// request is dropped. Sizes are cached by photo, file size and time, turns,
// format and quality, so a photo changed on disk (a rotation save) is estimated
// again while going back to an earlier setting shows its size at once.
class ExportEstimator : public QObject
{
    Q_OBJECT
public:
    explicit ExportEstimator(QObject *parent = nullptr);
    // Waits for a running estimate (it holds a decoded photo).
    ~ExportEstimator() override;

    struct Request
    {
        QString photo;
        int quarterTurns = 0;
        Encoder::Format format = Encoder::Format::jpeg;
        int quality = Encoder::defaultQuality;
    };

    enum class State { estimating, known, failed };
    // On the main thread: what the estimate label shows now.
    std::function<void(State state, qint64 bytes)> onEstimate;

    // A new setting: shows the cached size at once, else "estimating" and an
    // encode after the wait.
    void request(const Request &request);
    // The sheet closed: nothing pending is run or reported, the decoded photo is released.
    void cancel();

    // The cache key; absent when the photo cannot be read.
    static std::optional<QString> keyOf(const Request &request);

    // Blocks until the worker is idle and delivers what it posted (tests, benchmarks).
    void waitForIdle();

    int debounceMs = 300;
    // Raised by every request; a result carries the value of its request.
    quint64 exportEstimateGeneration = 0;
    QHash<QString, qint64> exportEstimateCache;
    // How many encodes ran (tests check that a quick slider drag makes one).
    int encodesRun = 0;

private:
    void startPending();
    void deliver(quint64 generation, const QString &key, std::optional<qint64> bytes);
    void report(State state, qint64 bytes);

    QTimer exportEstimateWork; // the pending estimate: fires after the wait
    Request pending;
    QString pendingKey;
    QString pendingDecodeKey;
    QThreadPool worker;

    // The last decode, reused while only format and quality change.
    std::mutex pictureLock;
    QString pictureKey;
    Encoder::Picture picture;
};
