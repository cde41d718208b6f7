#pragma once

#include "fileops/Encoder.h"
#include "fileops/SafeFile.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <functional>

// Converts a folder's photos into one format, writing the copies into the
// sub-folder "Converted-<ext>" as "<base>.<ext>". Nothing is ever overwritten:
// each copy is written to a temporary file and renamed with RENAME_NOREPLACE,
// and when the name is taken (a RAW and a JPEG of one shot, or an earlier run's
// output) the next free name "<base> 2.<ext>", "<base> 3.<ext>" is used. Two
// workers convert one file each at a time; the counts reported are the files
// written and the files that failed.
class BatchConvert : public QObject
{
    Q_OBJECT
public:
    explicit BatchConvert(QObject *parent = nullptr);
    // Stops after the files being converted now and waits for them.
    ~BatchConvert() override;

    struct Summary
    {
        int succeeded = 0;
        int failed = 0;
        int renamed = 0;     // written under "<base> 2.<ext>" and on, their name being taken
        int total = 0;
        bool cancelled = false;
        QString extension;
        QStringList written; // the new files, in the order they were finished
        QString firstFailure; // the first file that failed and why ("name: reason"),
                              // one left out for its format only when no other failed
        bool firstFailureSkipped = false;
        bool folderGone = false; // the folder went away (moved, deleted): the rest was not tried
        QString folderName;      // the output folder could not be made or used (nothing was tried):
        QString folderFailure;   // its name and why

        // What the window says at the end: the counts and the folder, the first
        // failure when some failed, or only why when nothing was converted.
        QString message() const;
    };

    // On the main thread: after each file (handled so far, total), and once at the end.
    std::function<void(int handled, int total)> onProgress;
    std::function<void(const Summary &summary)> onFinished;

    static QString outputFolder(const QString &folder, Encoder::Format format);

    // Converts one photo into outputFolder; the path written, or why not.
    struct FileResult
    {
        QString written;
        QString reason;
        bool skipped = false; // already in the target format
        bool renamed = false; // written under a numbered name, the plain one being taken
        bool succeeded() const { return !written.isEmpty(); }
    };
    static FileResult convertOne(const QString &photo, const QString &outputFolder, Encoder::Format format,
                                 int quality);

    // Starts converting photos (in this order) from folder; false when a run is
    // still going. The output folder is made first; when it cannot be, every
    // file fails at its write.
    bool start(const QStringList &photos, const QString &folder, Encoder::Format format, int quality);
    // Stops after the files being converted now; the summary follows.
    void cancel();
    bool isRunning() const { return running; }
    bool isStopping() const { return running && cancelled; }
    // Photos of the run handled so far, and in all.
    int handled() const { return summary.succeeded + summary.failed; }
    int total() const { return summary.total; }
    // Blocks until the workers are idle and delivers what they posted (tests, benchmarks).
    void waitForIdle();

    QThreadPool workers;

private:
    void fileDone(const QString &written, const QString &failure, bool skipped, bool renamed);
    void workerDone();

    std::atomic<bool> cancelled{false};
    std::atomic<bool> folderGone{false};
    std::atomic<int> nextIndex{0};
    bool running = false;
    int workersLeft = 0;
    Summary summary;
    QString madeOutput; // the output folder when this run made it
};
