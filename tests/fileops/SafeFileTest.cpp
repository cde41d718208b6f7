// The file-safety layer: replacements keep the original until one rename puts
// the complete new file in its place, refuse files changed behind their back,
// moves never overwrite, and only our own crashed temporaries are cleaned up.

#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"

#include "FileOpsTestSupport.h"

#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using SafeFile::Failure;
using SafeFile::Replacement;

namespace {

class SafeFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    void TearDown() override { SafeFile::setStepHook({}); }

    QString make(const QString &name, const QByteArray &bytes, mode_t mode = 0644)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeBytes(path, bytes));
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }

    std::unique_ptr<Replacement> begin(const QString &path)
    {
        Failure failure;
        const auto stamp = SafeFile::stampOf(path, &failure);
        EXPECT_TRUE(stamp);
        return Replacement::begin(path, "test", stamp, &failure);
    }
};

mode_t modeOf(const QString &path)
{
    struct stat info;
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST_F(SafeFileTest, ReplacementKeepsModeAndSwapsInOneStep)
{
    const QString path = make(QStringLiteral("a.jpg"), "old", 0640);
    auto replacement = begin(path);
    ASSERT_TRUE(replacement);
    EXPECT_TRUE(SafeFile::isOwnTemporaryName(QFileInfo(replacement->temporaryPath()).fileName()));
    EXPECT_TRUE(replacement->temporaryPath().endsWith(QLatin1String(".jpg")));
    ASSERT_FALSE(replacement->writeAndSync("new content"));
    // Until the commit the original is untouched.
    EXPECT_EQ(bytesOf(path), QByteArray("old"));
    ASSERT_FALSE(replacement->commit());
    EXPECT_EQ(bytesOf(path), QByteArray("new content"));
    EXPECT_EQ(modeOf(path), 0640u);
    replacement.reset();
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("a.jpg")});
}

TEST_F(SafeFileTest, AbortAtAnyStepLeavesTheOriginalAndNoTemporary)
{
    for (const char *stopAt : {"temp-created", "chunk-written", "temp-synced", "before-rename"}) {
        SCOPED_TRACE(stopAt);
        const QString path = make(QStringLiteral("b.png"), "original");
        SafeFile::setStepHook([stopAt](std::string_view step) { return step != stopAt; });
        Failure failure;
        auto replacement = Replacement::begin(path, "test", SafeFile::stampOf(path), &failure);
        SafeFile::Outcome outcome;
        if (!replacement)
            outcome = failure;
        else if (!(outcome = replacement->writeAndSync(QByteArray(200 * 1024, 'x'))))
            outcome = replacement->commit();
        replacement.reset();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->kind, Failure::Kind::aborted);
        EXPECT_EQ(bytesOf(path), QByteArray("original"));
        EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("b.png")});
        SafeFile::setStepHook({});
    }
}

TEST_F(SafeFileTest, AFileChangedSinceItWasReadIsNotReplaced)
{
    const QString path = make(QStringLiteral("c.jpg"), "as read");
    auto replacement = begin(path);
    ASSERT_TRUE(replacement);
    ASSERT_FALSE(replacement->writeAndSync("ours"));
    // Another program writes the file meanwhile (same size, so only the time tells).
    ::usleep(20 * 1000);
    ASSERT_TRUE(writeBytes(path, "theirs!"));
    const auto outcome = replacement->commit();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->kind, Failure::Kind::changed);
    EXPECT_FALSE(outcome->reason.isEmpty());
    EXPECT_EQ(bytesOf(path), QByteArray("theirs!"));
    replacement.reset();
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("c.jpg")});

    // Replaced by another file under the same name: also refused.
    const QString other = make(QStringLiteral("d.jpg"), "first");
    auto second = begin(other);
    ASSERT_TRUE(second);
    ASSERT_TRUE(QFile::remove(other));
    ::usleep(20 * 1000);
    make(QStringLiteral("d.jpg"), "first");
    EXPECT_TRUE(second->commit());
}

TEST_F(SafeFileTest, ANewFileNeverReplacesOneThatAppeared)
{
    const QString path = dir.filePath(QStringLiteral("new.xmp"));
    Failure failure;
    auto replacement = Replacement::begin(path, "xmp", std::nullopt, &failure);
    ASSERT_TRUE(replacement);
    ASSERT_FALSE(replacement->writeAndSync("ours"));
    make(QStringLiteral("new.xmp"), "someone else's");
    const auto outcome = replacement->commit();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(bytesOf(path), QByteArray("someone else's"));
}

TEST_F(SafeFileTest, MovesNeverOverwrite)
{
    const QString a = make(QStringLiteral("a.jpg"), "a");
    const QString b = make(QStringLiteral("b.jpg"), "b");
    const auto refused = SafeFile::moveNoReplace(a, b);
    ASSERT_TRUE(refused);
    EXPECT_EQ(bytesOf(a), QByteArray("a"));
    EXPECT_EQ(bytesOf(b), QByteArray("b"));
    EXPECT_FALSE(SafeFile::moveNoReplace(a, dir.filePath(QStringLiteral("c.jpg"))));
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("b.jpg"), QStringLiteral("c.jpg")}));
}

TEST_F(SafeFileTest, OnlyOurOwnCrashedTemporariesAreRemoved)
{
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString leftover = make(QStringLiteral(".glanto-rating-%1.jpg").arg(uuid), "crashed");
    make(QStringLiteral(".glanto-rotate-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)), "crashed too");
    const QStringList kept{
        QStringLiteral(".glanto-rating-not-a-uuid.jpg"),
        QStringLiteral("glanto-rating-%1.jpg").arg(uuid),
        QStringLiteral(".skelda-rotate-%1.jpg").arg(uuid),
        QStringLiteral(".glanto-rating-%1.jpg.bak").arg(uuid),
        QStringLiteral("photo.jpg"),
    };
    for (const QString &name : kept)
        make(name, "keep");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral(".glanto-xmp-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces))));
    // A write in progress (its temporary file is locked) is left alone.
    const QString live = make(QStringLiteral("live.jpg"), "live");
    auto running = begin(live);
    ASSERT_TRUE(running);

    EXPECT_EQ(SafeFile::removeLeftoverTemporaries(dir.path()), 2);
    EXPECT_FALSE(QFile::exists(leftover));
    for (const QString &name : kept)
        EXPECT_TRUE(QFile::exists(dir.filePath(name))) << name.toStdString();
    EXPECT_TRUE(QFile::exists(running->temporaryPath()));
    ASSERT_FALSE(running->writeAndSync("done"));
    EXPECT_FALSE(running->commit());
    EXPECT_EQ(bytesOf(live), QByteArray("done"));
}

TEST_F(SafeFileTest, PathLocksSerialiseWritersOfOneFileThroughAnyName)
{
    const QString path = make(QStringLiteral("count.txt"), "0");
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_EQ(SafeFile::PathLocks::keyOf(link), SafeFile::PathLocks::keyOf(path));
    std::atomic<int> failures{0};
    auto worker = [&](const QString &name) {
        for (int i = 0; i < 25; ++i) {
            const auto guard = SafeFile::PathLocks::lock({name, dir.filePath(QStringLiteral("other"))});
            Failure failure;
            const QString target = SafeFile::writablePath(name);
            const auto read = SafeFile::readWhole(target, &failure);
            auto replacement = read ? Replacement::begin(target, "test", read->stamp, &failure) : nullptr;
            if (!replacement || replacement->writeAndSync(QByteArray::number(read->bytes.toInt() + 1))
                || replacement->commit())
                ++failures;
        }
    };
    std::thread first(worker, path);
    std::thread second(worker, link);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(bytesOf(path), QByteArray("50"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

TEST_F(SafeFileTest, RatingThroughALinkChangesThePhotoAndKeepsTheLink)
{
    const QString photo = dir.filePath(QStringLiteral("real.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(32, 24), photo, ImageFormat::jpeg, 90));
    const QString link = dir.filePath(QStringLiteral("alias.jpg"));
    ASSERT_TRUE(QFile::link(photo, link));
    ASSERT_FALSE(XmpRating::writeRating(2, link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(XmpRating::embeddedRating(photo), 2);
}
