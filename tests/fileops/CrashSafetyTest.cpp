// Crash safety: a child process doing a rating write or a rotation save is
// stopped at every step of the write (through the test-only step hook) and
// killed with SIGKILL there. Afterwards the photo and its sidecar must each be
// byte for byte the old file or a complete, valid new one, and once the folder
// is opened again (leftover temporaries removed) no temporary file is visible.

#include "fileops/RotationSave.h"
#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"

#include "FileOpsTestSupport.h"

#include <QDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

struct ChildRun
{
    bool paused = false;
    int steps = 0;        // DONE: steps taken
    bool succeeded = false;
    std::string line;
};

// Runs the helper; when it reports a pause, kills it with SIGKILL.
ChildRun runHelper(const QString &operation, int value, const QString &path, int pauseAt)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    const QByteArray helper = GLANTO_CRASH_HELPER;
    const QByteArray op = operation.toLocal8Bit();
    const QByteArray valueText = QByteArray::number(value);
    const QByteArray file = QFile::encodeName(path);
    const QByteArray pause = QByteArray::number(pauseAt);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        const char *argv[] = {helper.constData(), op.constData(), valueText.constData(), file.constData(),
                              pause.constData(), nullptr};
        ::execv(helper.constData(), const_cast<char *const *>(argv));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ChildRun run;
    std::string buffer;
    char chunk[256];
    while (true) {
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        buffer.append(chunk, size_t(got));
        const size_t newline = buffer.find('\n');
        if (newline == std::string::npos)
            continue;
        run.line = buffer.substr(0, newline);
        if (run.line.rfind("PAUSED", 0) == 0) {
            run.paused = true;
            ::kill(pid, SIGKILL);
        } else if (run.line.rfind("DONE", 0) == 0) {
            run.steps = std::atoi(run.line.c_str() + 5);
            run.succeeded = run.line.find(" ok") != std::string::npos;
        }
        break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (run.paused) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    return run;
}

struct Scenario
{
    const char *name;
    QString operation;   // "rate" or "rotate"
    int value;
    // Makes the files in folder; returns the photo's path.
    std::function<QString(const QString &folder)> make;
};

class CrashSafety : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    int killPoints = 0;

    // Kills the writer at every step of the scenario and checks what is left.
    void killAtEveryStep(const Scenario &scenario)
    {
        SCOPED_TRACE(scenario.name);
        // The reference run: the step count and the state after a finished write.
        const QString referenceFolder = dir.filePath(QStringLiteral("%1-reference").arg(QLatin1String(scenario.name)));
        ASSERT_TRUE(QDir().mkpath(referenceFolder));
        const QString referencePhoto = scenario.make(referenceFolder);
        ASSERT_FALSE(referencePhoto.isEmpty());
        const QImage originalShown = shown(referencePhoto);
        const QStringList originalNames = folderNames(referenceFolder);
        const ChildRun full = runHelper(scenario.operation, scenario.value, referencePhoto, 0);
        ASSERT_TRUE(full.succeeded) << full.line;
        ASSERT_GT(full.steps, 3);
        const QStringList finishedNames = folderNames(referenceFolder);

        for (int k = 1; k <= full.steps; ++k) {
            SCOPED_TRACE(k);
            const QString folder = dir.filePath(QStringLiteral("%1-%2").arg(QLatin1String(scenario.name)).arg(k));
            ASSERT_TRUE(QDir().mkpath(folder));
            const QString photo = scenario.make(folder);
            const QString sidecar = XmpRating::sidecarPath(photo);
            const QByteArray photoBefore = bytesOf(photo);
            const QByteArray sidecarBefore = bytesOf(sidecar);
            const bool sidecarExisted = QFile::exists(sidecar);

            const ChildRun run = runHelper(scenario.operation, scenario.value, photo, k);
            ASSERT_TRUE(run.paused) << run.line;
            ++killPoints;

            // The photo: the old bytes, or a valid new file.
            const QByteArray photoAfter = bytesOf(photo);
            if (photoAfter != photoBefore) {
                if (scenario.operation == QLatin1String("rate")) {
                    EXPECT_EQ(XmpRating::embeddedRating(photo), scenario.value);
                    EXPECT_EQ(shown(photo), originalShown);
                } else {
                    EXPECT_EQ(shown(photo), turnedClockwise(originalShown, scenario.value));
                }
            }
            // The sidecar: absent or old as it was, or a valid new one.
            if (QFile::exists(sidecar) && (!sidecarExisted || bytesOf(sidecar) != sidecarBefore)) {
                EXPECT_EQ(XmpRating::ratingInSidecarText(QString::fromUtf8(bytesOf(sidecar))), scenario.value);
            }

            // Opening the folder again clears our leftovers; nothing else goes.
            SafeFile::removeLeftoverTemporaries(folder);
            const QStringList names = folderNames(folder);
            EXPECT_TRUE(names == originalNames || names == finishedNames) << names.join(u' ').toStdString();
            for (const QString &name : names)
                EXPECT_FALSE(name.startsWith(QLatin1String(".glanto-"))) << name.toStdString();
        }
    }
};

QString makeJpeg(const QString &folder)
{
    const QString path = folder + QStringLiteral("/photo.jpg");
    // Large enough to be written in several pieces.
    return Codec::encode(patternImage(900, 600), path, ImageFormat::jpeg, 95) ? path : QString();
}

QString makePng(const QString &folder)
{
    const QString path = folder + QStringLiteral("/photo.png");
    return patternImage(300, 200).save(path, "PNG") ? path : QString();
}

QString makeBmp(const QString &folder)
{
    const QString path = folder + QStringLiteral("/photo.bmp");
    return patternImage(160, 120).save(path, "BMP") ? path : QString();
}

std::function<QString(const QString &)> corpusCopy(const char *relative, const char *name,
                                                   const char *sidecarRelative = nullptr)
{
    return [=](const QString &folder) {
        const QString photo = folder + u'/' + QLatin1String(name);
        if (!QFile::copy(corpusPath(QLatin1String(relative)), photo))
            return QString();
        QFile::setPermissions(photo, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (sidecarRelative) {
            const QString sidecar = XmpRating::sidecarPath(photo);
            if (!QFile::copy(corpusPath(QLatin1String(sidecarRelative)), sidecar))
                return QString();
            QFile::setPermissions(sidecar, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        return photo;
    };
}

} // namespace

TEST_F(CrashSafety, FilesMadeHereSurviveAKillAtEveryStep)
{
    killAtEveryStep({"rate-jpeg", QStringLiteral("rate"), 4, makeJpeg});
    killAtEveryStep({"rate-png", QStringLiteral("rate"), 2, makePng});
    killAtEveryStep({"rotate-jpeg", QStringLiteral("rotate"), 1, makeJpeg});
    killAtEveryStep({"rotate-png", QStringLiteral("rotate"), 3, makePng});
    killAtEveryStep({"rotate-bmp", QStringLiteral("rotate"), 1, makeBmp});
    std::printf("kill points (made here): %d\n", killPoints);
    EXPECT_GE(killPoints, 30);
}

TEST_F(CrashSafety, CorpusFilesSurviveAKillAtEveryStep)
{
    for (const char *needed : {"orientation/Landscape_1.jpg", "exif/Nikon D70.jpg", "exif/exif.png", "formats/hopper.tif", "raw/CanonRaw.cr2",
                               "sidecar/digikam-example.xmp", "sidecar/IMG_5910.jpg", "sidecar/IMG_5910.xmp",
                               "formats/sample.heic"}) {
        SKIP_WITHOUT_CORPUS(needed);
    }
    killAtEveryStep({"rate-camera-jpeg", QStringLiteral("rate"), 2, corpusCopy("exif/Nikon D70.jpg", "N.jpg")});
    killAtEveryStep({"rotate-camera-jpeg", QStringLiteral("rotate"), 3, corpusCopy("exif/Nikon D70.jpg", "N.jpg")});
    killAtEveryStep({"rate-landscape", QStringLiteral("rate"), 4, corpusCopy("orientation/Landscape_1.jpg", "L.jpg")});
    killAtEveryStep({"rate-exif-png", QStringLiteral("rate"), 2, corpusCopy("exif/exif.png", "e.png")});
    killAtEveryStep({"rate-tiff", QStringLiteral("rate"), 5, corpusCopy("formats/hopper.tif", "t.tif")});
    killAtEveryStep({"rate-raw-new-sidecar", QStringLiteral("rate"), 3, corpusCopy("raw/CanonRaw.cr2", "r.cr2")});
    killAtEveryStep({"rate-raw-digikam", QStringLiteral("rate"), 1,
                     corpusCopy("raw/CanonRaw.cr2", "d.cr2", "sidecar/digikam-example.xmp")});
    killAtEveryStep({"rate-jpeg-and-sidecar", QStringLiteral("rate"), 5,
                     corpusCopy("sidecar/IMG_5910.jpg", "IMG_5910.jpg", "sidecar/IMG_5910.xmp")});
    killAtEveryStep({"rate-heic", QStringLiteral("rate"), 2, corpusCopy("formats/sample.heic", "h.heic")});
    killAtEveryStep({"rotate-landscape", QStringLiteral("rotate"), 1, corpusCopy("orientation/Landscape_1.jpg", "L.jpg")});
    killAtEveryStep({"rotate-exif-png", QStringLiteral("rotate"), 3, corpusCopy("exif/exif.png", "e.png")});
    killAtEveryStep({"rotate-tiff", QStringLiteral("rotate"), 1, corpusCopy("formats/hopper.tif", "t.tif")});
    std::printf("kill points (corpus): %d\n", killPoints);
    EXPECT_GE(killPoints, 100);
}
